// The capture engine of the capture window: turns one of the five capture commands into
// a picture of the screen (at once, after a delay, or on the user's click), draws it into
// the window and runs the follow-ups (clipboard, automatic save, automatic transfer).
#pragma once

#include "platform/ScreenPlatform.h"

#include <QImage>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

class FrmMain;
class ModZorvin;

// Capture modes: the index shared by menus, toolbar, hotkeys and interval capture.
enum CaptureModeIndex : int16_t {
    CaptDeskTop = 0,
    CaptDeskTop1 = 1,
    CaptRect = 2,
    CaptAct = 3,
    CaptAct1 = 4,
};

class CaptureEngine : public QObject
{
    Q_OBJECT
  public:
    using WindowId = ScreenPlatform::WindowId;

    CaptureEngine(FrmMain &window, ModZorvin &ctx, ScreenPlatform &platform);
    ~CaptureEngine() override;

    // The common entry of menu, toolbar, tray, interval capture and the hotkeys of modes
    // 0-2: prepares (hide, wait, arm) and captures now or later. Returns at once.
    void GetCaptureItem(int mode);
    // The capture hotkeys: 0-2 as GetCaptureItem, 3 and 4 capture the foreground window
    // at once with no delay and no click; anything else is ignored.
    void CaptHotKey(int index);
    // Captures now and runs the follow-ups.
    void CaptureToPicture(int mode, WindowId first = 0, WindowId second = 0);

    // The screen rectangle (exclusive right and bottom) clamped to the screen, as a
    // picture; a null picture for an empty rectangle.
    QImage RectToBitmap(const QRect &rect);
    // kind 1: the window with its frame; kind 2: its client area. Null picture otherwise.
    QImage WindowToBitmap(WindowId window, int kind);
    WindowId TopWindowFromPoint(const QPoint &screenPos) const;

    // A left press while a click capture is armed: captures the window under the
    // pointer. True when it was the armed click.
    bool HandleMousePress(Qt::MouseButton button, const QPoint &globalPos);

    // The area selection writes the corners of the dragged rectangle here.
    void setSelection(int16_t x1, int16_t y1, int16_t x2, int16_t y2);
    // The area selection was cancelled: the picture state comes back and a window hidden
    // for the capture is shown again.
    void CancelAreaCapture();

    int16_t CaptureMode() const { return m_captureMode; }
    int16_t ArmedClickMode() const { return m_armedClickMode; }
    int16_t CaptWaitTicks() const { return m_waitTicks; }
    bool MainHiddenForCapture() const { return m_mainHiddenForCapture; }
    bool HadPictureBefore() const { return m_hadPictureBefore; }
    bool delayRunning() const { return m_delayTimer.isActive(); }
    bool overlayStartRunning() const { return m_overlayStartTimer.isActive(); }

    // Stops both timers and gives up an armed click; used when the window unloads.
    void Abandon();

    // The delay tick; 500 ms unless a test shortens it.
    void setDelayTickInterval(int ms) { m_delayTickMs = ms; }

  signals:
    // Emitted after every capture, with the picture drawn into the window.
    void captured(int mode, const QSize &size);

  private:
    void onDelayTick();
    void onOverlayStart();
    void hideMainForCapture();
    // Runs the event loop until the condition holds or the time is up; false on time-out.
    static bool waitFor(const std::function<bool()> &condition, int timeoutMs);
    bool armClick();
    void releaseArmedClick();
    bool eventFilter(QObject *watched, QEvent *event) override;

    FrmMain &m_window;
    ModZorvin &m_ctx;
    ScreenPlatform &m_platform;
    std::unique_ptr<QWidget> m_clickCatcher;
    QTimer m_delayTimer;        // Timer1
    QTimer m_overlayStartTimer; // Timer2
    int m_delayTickMs;

    int16_t m_captureMode = 0;
    int16_t m_armedClickMode = 0;
    int16_t m_waitTicks = 0;
    bool m_mainHiddenForCapture = false;
    bool m_hadPictureBefore = false;
    int16_t m_selX1 = 0, m_selY1 = 0, m_selX2 = 0, m_selY2 = 0;
};
