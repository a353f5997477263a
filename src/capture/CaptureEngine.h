// The capture engine: turns one of the five capture commands into a picture of the screen
// (at once, after a delay, or on the user's click) and hands the picture on. It never
// touches the window it captures for: it asks for a few facts of it as a command starts
// and says through signals what is to happen to it; that window draws the picture and
// runs the follow-ups (see CaptureArrival).
#pragma once

#include "capture/ClickCatcher.h"
#include "platform/ScreenPlatform.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QTimer>

#include <cstdint>
#include <functional>

class ModZorvin;

// Capture modes: the index shared by menus, toolbar, hotkeys and interval capture.
enum CaptureModeIndex : int16_t {
    CaptDeskTop = 0,
    CaptDeskTop1 = 1,
    CaptRect = 2,
    CaptAct = 3,
    CaptAct1 = 4,
};

// What the engine needs to know of the window it captures for, read as a command starts.
struct CaptureWindowFacts
{
    bool visible = false;
    // It shows a picture; a capture given up before its picture leaves it there.
    bool hasPicture = false;
    // Where its frame is and which window it is, to see when the window manager has taken
    // it off the screen after it was hidden for the capture.
    QPoint frameCentre;
    ScreenPlatform::WindowId id = 0;
};

// A picture the engine took: null when no window could be captured.
struct CapturedPicture
{
    int mode = 0;
    QImage picture;
    // The window was hidden for this capture and comes back now.
    bool showWindow = false;
    // A capture that tells nothing (the interval capture).
    bool quiet = false;
};

// The area selection: starts the overlay (which freezes the screen and reports the
// rectangle to the engine), and closes it after its capture. Set by the overlay's side;
// without them an area capture ends as a cancelled selection does.
struct SelectionHooks
{
    std::function<void()> StartOverlay;
    std::function<void()> CloseOverlay;
};

// Every wait of a capture (the window manager taking our window away, the delay, the
// armed click, the activation of the clicked window) is a step that returns to the event
// loop and goes on from a timer or an event, so one capture runs at a time and a close
// or quit in a wait simply ends it.
class CaptureEngine : public QObject
{
    Q_OBJECT
  public:
    using WindowId = ScreenPlatform::WindowId;

    // `windowFacts` answers for the window the engine captures for; without it the engine
    // captures as for a hidden window with no picture.
    CaptureEngine(ModZorvin &ctx, ScreenPlatform &platform,
                  std::function<CaptureWindowFacts()> windowFacts = {});
    ~CaptureEngine() override;

    SelectionHooks &selectionHooks() { return m_selectionHooks; }

    enum class Feedback { Notice, Quiet };
    // The common entry of menu, toolbar, tray, interval capture and the hotkeys of modes
    // 0-2: prepares (hide, wait, arm) and captures now or later. Returns at once. While a
    // capture runs, a new command replaces a pending delay, overlay start or armed click;
    // otherwise it is refused. A quiet capture reports its follow-ups as such (the
    // interval capture notifies nobody).
    void GetCaptureItem(int mode, Feedback feedback = Feedback::Notice);
    // The capture hotkeys: 0-2 as GetCaptureItem, 3 and 4 capture the foreground window
    // at once with no delay and no click (a waiting capture gives way to them as above);
    // anything else is ignored.
    void CaptHotKey(int index);
    // Esc, or another button than the left one, while a click capture is armed: nothing is
    // captured and the picture state is as it was before the command.
    void CancelArmedClick();
    // Captures now and hands the picture on; ends whatever capture was waiting.
    void CaptureToPicture(int mode, WindowId first = 0, WindowId second = 0);

    // A left press while a click capture is armed: the capture of the window under the
    // pointer follows once the click's own events have run. True when it was the armed
    // click.
    bool HandleMousePress(Qt::MouseButton button, const QPoint &globalPos);

    // The area selection writes the corners of the dragged rectangle here.
    void setSelection(int16_t x1, int16_t y1, int16_t x2, int16_t y2);
    // The selection's button came up: the area is captured on the next delay tick, once
    // the rubber band is off the screen.
    void AreaSelectionReleased();
    // The area selection was cancelled: the picture state comes back and a window hidden
    // for the capture is shown again.
    void CancelAreaCapture();

    // From the command until the picture's receiver has run the follow-ups, or until the
    // capture was given up.
    bool isCapturing() const { return m_step != Step::Idle; }
    int16_t CaptureMode() const { return m_captureMode; }
    int16_t ArmedClickMode() const { return m_armedClickMode; }
    int16_t CaptWaitTicks() const { return m_waitTicks; }
    bool MainHiddenForCapture() const { return m_mainHiddenForCapture; }
    bool HadPictureBefore() const { return m_hadPictureBefore; }
    bool delayRunning() const { return m_delayTimer.isActive(); }
    bool overlayStartRunning() const { return m_overlayStartTimer.isActive(); }

    // Gives up a capture that has not taken its picture yet (used when the window closes):
    // timers stop, the pointer grab ends, an open area selection closes, and nothing is
    // captured afterwards. A capture past its picture finishes its follow-ups.
    void Abandon();

    // The delay tick; 500 ms unless a test shortens it.
    void setDelayTickInterval(int ms) { m_delayTickMs = ms; }

  signals:
    // Whether the window counts as showing a picture: not from a command on, and again
    // as before the command when the capture is given up before its picture.
    void pictureStateChanged(bool hasPicture);
    // The options keep the window out of the picture: it hides now.
    void hideWindow();
    // A capture that hid the window ended without a picture: it is shown and activated.
    void restoreWindow();
    // A capture ended without a picture: the enabling rules of the commands apply again.
    void commandsChanged();
    // The window's status-bar notice ("" hides it): the armed click's prompt, a failure.
    void statusNotice(const QString &text);
    // A failure the user must see even with the window hidden (once per engine, never for
    // a quiet capture).
    void failureNotice(const QString &reason);
    // The picture: the receiver draws it and runs the follow-ups before this returns, and
    // may let events in meanwhile (a failed save's notice).
    void pictureTaken(const CapturedPicture &shot);
    // After every capture, once pictureTaken has returned.
    void captured(int mode, const QSize &size);
    // The desktop did not hand out the screen (no screenshot portal, or it refused): no
    // picture was taken and the picture state is as it was before the command.
    void captureFailed(const QString &reason);

  private:
    enum class Step : uint8_t {
        Idle,
        HideWait,      // our window hidden; polled until the window manager took it away
        RepaintSettle, // the windows below it repaint
        OverlayStart,  // the overlay-start timer runs
        Overlay,       // the area selection is up; it captures or cancels
        ScreenRequest, // the desktop is asked for the screen; its answer comes later
        Delay,         // half-second ticks before an active-window capture
        Arming,        // the click catcher is being mapped; the grab is retried
        Armed,         // the pointer (and the keyboard) are grabbed until the click or Esc
        ClickSettle,   // the click's own events run out
        Activation,    // the clicked window is being activated
        Capturing,     // the picture is taken; its follow-ups run (a notice may be open)
    };

    void onDelayTick();
    void onOverlayStart();
    void onStepTimer();
    // Ends the capture before its picture: the picture state is as it was before the
    // command (a new command that takes the place of a waiting one starts from there).
    void giveUp();
    // A new command may start: a waiting capture has given way to it. False when a
    // capture in progress refuses it.
    bool makeWayForCommand();
    void stopWaits();
    CaptureWindowFacts windowFacts() const;
    void waitStep(Step step, int ms);
    void hideMainForCapture(const CaptureWindowFacts &facts);
    // The capture window is out of the way (or never was in it).
    void windowOutOfTheWay();
    // The screen's pixels can be read now: capture (modes 0 and 1) or freeze it for the
    // area selection (mode 2).
    void screenReady();
    // Asks the desktop for the screen (or for what the user picks); `ready` runs with the
    // picture, a failure ends the capture.
    void requestScreen(ScreenPlatform::ScreenRequest kind, std::function<void(const QImage &)> ready);
    void screenRequestFailed(const QString &reason);
    // Modes 3 and 4 where the screen comes only on request: the desktop's own picker, or
    // an empty picture and a word why.
    void captureWindowOnRequest(int mode);
    // Hands the picture on; the capture ends when its receiver is done with it.
    void showCapture(int mode, const QImage &bitmap);
    void setNotice(const QString &text);
    void armClick(int mode);
    void armed();
    void releaseArmedClick();
    void onCatcherPressed(Qt::MouseButton button, const QPoint &globalPos);
    void clickSettled();
    void captureClicked(bool activated);

    ModZorvin &m_ctx;
    ScreenPlatform &m_platform;
    std::function<CaptureWindowFacts()> m_windowFacts;
    ClickCatcher m_clickCatcher;
    SelectionHooks m_selectionHooks;
    QTimer m_delayTimer;        // Timer1
    QTimer m_overlayStartTimer; // Timer2
    QTimer m_stepTimer;         // polls and settles of the other steps
    QElapsedTimer m_stepClock;  // bounds the polls
    int m_delayTickMs;

    Step m_step = Step::Idle;
    int16_t m_captureMode = 0;
    int16_t m_armedClickMode = 0;
    int16_t m_waitTicks = 0;
    bool m_mainHiddenForCapture = false;
    bool m_hadPictureBefore = false;
    bool m_quiet = false;
    int16_t m_selX1 = 0, m_selY1 = 0, m_selX2 = 0, m_selY2 = 0;
    // What the steps carry forward.
    QPoint m_hiddenCentre;
    WindowId m_hiddenSelf = 0;
    int m_armingMode = 0;
    int m_settleTurns = 0;
    QPoint m_clickPos;
    WindowId m_clickTop = 0;
    WindowId m_clickUnder = 0;
    bool m_clickNotActivated = false;
    quint32 m_requestSerial = 0;
    // The status-bar notice is ours (not the armed click's): the next command clears it.
    bool m_ownNotice = false;
    // A failing screenshot portal is told in a message box once; later failures only in
    // the status bar (the interval capture would otherwise open one box per tick).
    bool m_failureTold = false;
};
