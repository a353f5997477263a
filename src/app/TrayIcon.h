// The notification-area icon with its tip, its blinking while new items wait, the
// double-click action, the resident menu and short notices. Where the desktop has no tray,
// a small window with the same menu stands in for it; the two follow the tray as it comes
// and goes, so the program can always be reached and quit.
#pragma once

#include "ui/ResidentIcon.h"

#include <QIcon>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class TrayWatcher;

class TrayIcon : public QObject, public ResidentIcon
{
    Q_OBJECT
  public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    // Adds the icon, or the stand-in window while there is no tray, and from then on
    // swaps one for the other whenever a tray arrives or goes away.
    void TrayAdd();
    void TrayRemove();

    // 0 = normal icon, stop blinking; 1 = a new item waits, blink every 500 ms.
    void ModTaskTrayIcon(int mode);
    bool isBlinking() const { return m_newItem; }
    // The image shown now: the normal one, or while blinking every other 500 ms the other.
    QIcon currentIcon() const;

    // Right click on the icon, the stand-in's menu button, the menu hotkey and "zorvin --menu":
    // releases the mouse, asks the preparer, and pops the menu up at the pointer. Nothing
    // shows while the preparer says no (a password window is open).
    void TrayPopupMenu() override;
    // Applies the menu's rules just before it shows; false: no menu now.
    void setMenuPreparer(std::function<bool()> prepare) { m_prepareMenu = std::move(prepare); }

    QMenu *menu() const { return m_menu; }
    // The quit entry, last in the menu; other entries are inserted before it.
    QAction *quitAction() const { return m_mnuEnd; }
    bool usesStandInWindow() const { return m_standIn != nullptr; }
    bool usesTray() const { return m_tray != nullptr; }
    // Where the icon sits in the tray (empty until the tray has taken it in).
    QRect iconGeometry() const;

    // A short notice: a balloon at the icon, or the stand-in window's status line. It goes
    // after the notice time, or when the next one comes.
    void ShowNotice(const QString &text) override;
    // The notice shown now; "" once it went.
    QString noticeText() const { return m_notice; }
    // How long a notice stays; kNoticeMs unless a test shortens it.
    void setNoticeDuration(int ms) { m_noticeMs = ms; }
    static constexpr int kNoticeMs = 6000;

    static QString tip();
    static QIcon normalIcon();
    // A second line under the tip (the running transfers); "" for none.
    void setTipDetail(const QString &detail);
    // The tip as the icon shows it now.
    QString currentTip() const;

  signals:
    void doubleClicked();
    // The menu is about to pop up, its rules applied.
    void aboutToShowMenu();
    // "終了(&X)" from the menu, or × on the stand-in window.
    void quitRequested();
    void noticeShown(const QString &text);
    // The icon went into a tray that arrived, or the stand-in took the place of a tray
    // that went.
    void placeChanged();

  private:
    void onTrayChanged(bool present);
    void onTimerModIcon();
    void showIcon();
    void showStandIn();
    void removeIcon();
    void removeStandIn();

    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_mnuEnd = nullptr;
    QWidget *m_standIn = nullptr;
    QLabel *m_standInStatus = nullptr;
    std::unique_ptr<TrayWatcher> m_watcher;
    std::function<bool()> m_prepareMenu;
    QTimer m_timerModIcon;
    QTimer m_noticeTimer;
    QString m_notice;
    QString m_tipDetail;
    int m_noticeMs = kNoticeMs;
    bool m_newItem = false;
    bool m_blinkPhase = false;
};
