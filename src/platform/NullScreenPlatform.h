// The back-end for platforms without window queries (the offscreen platform; the Wayland
// one builds on it): it knows the primary screen through Qt and reports everything else
// as unsupported.
#pragma once

#include "platform/ScreenPlatform.h"

class NullScreenPlatform : public ScreenPlatform
{
  public:
    bool isSupported() const override { return false; }
    QString name() const override { return QStringLiteral("null"); }
    QSize screenSize() const override;
    QImage grabRect(const QRect &rect) override;
    std::optional<QRect> workArea() const override { return std::nullopt; }
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
};
