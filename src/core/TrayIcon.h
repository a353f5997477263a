// The notification-area icon with its tip, its blinking while new items wait, the
// double-click action and the resident menu. Where the desktop has no tray, a small
// window with the same menu stands in for it, so the program can always be reached and quit.
#pragma once

#include <QIcon>
#include <QObject>
#include <QTimer>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

class TrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    // Adds the icon (or the stand-in window when there is no tray).
    void TrayAdd();
    void TrayRemove();

    // 0 = normal icon, stop blinking; 1 = a new item waits, blink every 500 ms.
    void ModTaskTrayIcon(int mode);
    bool isBlinking() const { return m_newItem; }

    QMenu *menu() const { return m_menu; }
    // The quit entry, last in the menu; other entries are inserted before it.
    QAction *quitAction() const { return m_mnuEnd; }
    bool usesStandInWindow() const { return m_standIn != nullptr; }

    static QString tip();
    static QIcon normalIcon();

signals:
    void doubleClicked();
    void aboutToShowMenu();
    void quitRequested();

private:
    void onTimerModIcon();

    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_mnuEnd = nullptr;
    QWidget *m_standIn = nullptr;
    QTimer m_timerModIcon;
    bool m_newItem = false;
    bool m_blinkPhase = false;
};
