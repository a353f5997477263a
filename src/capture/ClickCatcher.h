// The window that holds the pointer grab while a click capture waits for its click: one
// pixel outside the screen, as the capture window may be hidden (a command from the tray).
// While the click is awaited the keys come here as well, so that Esc can give it up
// whichever of our windows has the focus, and no other key or shortcut acts meanwhile.
#pragma once

#include <QObject>
#include <QPoint>

#include <memory>

class QWidget;
class ScreenPlatform;

class ClickCatcher : public QObject
{
    Q_OBJECT
  public:
    explicit ClickCatcher(ScreenPlatform &platform);
    ~ClickCatcher() override;

    // Maps the window; the X server does so in its own time.
    void show();
    // Grabs the pointer, which needs the window viewable: false until it is.
    bool grabPointer();
    // The keys come here until release.
    void takeKeys();
    // Ends the grabs and hides the window.
    void release();

  signals:
    // A press on the window (a quick second click comes as a double click, also a press).
    void pressed(Qt::MouseButton button, const QPoint &globalPos);
    void escapePressed();

  private:
    bool eventFilter(QObject *watched, QEvent *event) override;

    ScreenPlatform &m_platform;
    std::unique_ptr<QWidget> m_window;
    bool m_keysTaken = false;
    bool m_keyboardGrabbed = false;
};
