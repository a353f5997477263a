// Whether the desktop has a notification area, and when one arrives or goes away (a panel
// that starts late at login, or one that is restarted), so the tray icon can follow it.
#pragma once

#include <QObject>

#include <memory>

class TrayWatcher : public QObject
{
    Q_OBJECT
  public:
    // The X11 watcher when the application runs on xcb, otherwise one that takes Qt's
    // answer at start and reports no changes. Needs a QApplication.
    static std::unique_ptr<TrayWatcher> create();

    virtual bool isTrayPresent() const = 0;
    virtual QString name() const = 0;

  signals:
    // A tray arrived, went away, or another took the place of the one there.
    void trayChanged(bool present);

  protected:
    explicit TrayWatcher(QObject *parent = nullptr) : QObject(parent) {}
};

// Elsewhere (Wayland, offscreen) Qt's own answer stands; it cannot tell of a tray that leaves.
class QtTrayWatcher : public TrayWatcher
{
    Q_OBJECT
  public:
    QtTrayWatcher();
    bool isTrayPresent() const override { return m_present; }
    QString name() const override { return QStringLiteral("qt"); }

  private:
    bool m_present;
};
