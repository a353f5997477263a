// The back-end for Wayland sessions: the screen's pixels come from the desktop's screenshot
// portal on request, the work area is Qt's available geometry, and no program may look at
// or grab the other programs' windows.
#pragma once

#include "platform/ScreenPlatform.h"
#include "platform/wayland/ScreenshotPortal.h"

class WaylandScreenPlatform : public ScreenPlatform
{
  public:
    WaylandScreenPlatform();
    ~WaylandScreenPlatform() override;

    // No window queries and no pointer grab: the compositor keeps those to itself.
    bool isSupported() const override { return false; }
    QString name() const override { return QStringLiteral("wayland"); }
    // The last picture from the portal when there is one (its size is the screen in
    // device pixels), otherwise Qt's primary screen.
    QSize screenSize() const override;
    // Cut from the last picture the portal delivered (requestScreen); null before one came.
    QImage grabRect(const QRect &rect) override;
    std::optional<QRect> workArea() const override;
    WindowId foregroundWindow() const override { return 0; }
    bool setForegroundWindow(WindowId) override { return false; }
    QString windowTitle(WindowId) const override { return {}; }
    QRect windowFrameRect(WindowId) const override { return {}; }
    QRect windowClientRect(WindowId) const override { return {}; }
    WindowId windowFromPoint(const QPoint &) const override { return 0; }
    WindowId topWindowFromPoint(const QPoint &) const override { return 0; }
    QPoint cursorPos() const override;
    bool grabPointer(QWindow *, GrabCursor) override { return false; }
    void releasePointer() override {}
    bool pointerGrabbed() const override { return false; }
    bool setKeepAbove(QWindow *, bool) override { return false; }
    bool isKeptAbove(QWindow *) const override { return false; }

    bool screenOnRequest() const override { return true; }
    void requestScreen(ScreenRequest kind, QObject *context, ScreenReady done) override;
    bool offersUserPick() const override;
    bool placesWindowsItself() const override { return true; }

  private:
    QSize qtScreenSize() const;

    ScreenshotPortal m_portal;
    QImage m_screen;
};
