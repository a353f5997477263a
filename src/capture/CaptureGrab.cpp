#include "capture/CaptureGrab.h"

#include <optional>

namespace {

// The foreground window's title is read into a 256-character buffer.
constexpr int kTitleChars = 256;

} // namespace

namespace CaptureGrab {

QImage RectToBitmap(ScreenPlatform &platform, const QRect &rect)
{
    if (rect.isEmpty())
        return {};
    return platform.grabRect(rect);
}

QImage WindowToBitmap(ScreenPlatform &platform, WindowId window, int kind)
{
    if (window == 0)
        return {};
    if (kind == 1)
        return RectToBitmap(platform, platform.windowFrameRect(window));
    if (kind == 2)
        return RectToBitmap(platform, platform.windowClientRect(window));
    return {};
}

QImage wholeScreen(ScreenPlatform &platform)
{
    return RectToBitmap(platform, QRect(QPoint(0, 0), platform.screenSize()));
}

QImage workArea(ScreenPlatform &platform)
{
    const std::optional<QRect> work = platform.workArea();
    return RectToBitmap(platform, work ? *work : QRect(QPoint(0, 0), platform.screenSize()));
}

QImage activeWindow(ScreenPlatform &platform, int kind, WindowId foreground, bool clicked, WindowId first,
                    WindowId second)
{
    if (!clicked)
        return WindowToBitmap(platform, foreground, kind);
    QImage bitmap;
    const QString title = platform.windowTitle(foreground).left(kTitleChars);
    if (!title.isEmpty())
        bitmap = WindowToBitmap(platform, foreground, kind);
    if (bitmap.isNull())
        bitmap = WindowToBitmap(platform, first, kind);
    if (bitmap.isNull())
        bitmap = WindowToBitmap(platform, second, kind);
    return bitmap;
}

} // namespace CaptureGrab
