// Reads the picture of each capture mode from the screen platform: the whole screen, its
// work area, a rectangle, and a window with its frame or only its client area.
#pragma once

#include "platform/ScreenPlatform.h"

#include <QImage>
#include <QRect>

namespace CaptureGrab {

using WindowId = ScreenPlatform::WindowId;

// The rectangle (exclusive right and bottom) clamped to the screen; a null picture for an
// empty rectangle.
QImage RectToBitmap(ScreenPlatform &platform, const QRect &rect);
// kind 1: the window with its frame; kind 2: its client area. Null picture otherwise.
QImage WindowToBitmap(ScreenPlatform &platform, WindowId window, int kind);
QImage wholeScreen(ScreenPlatform &platform);
// The work area, or the whole screen where the desktop publishes none.
QImage workArea(ScreenPlatform &platform);
// The active-window modes (kind as WindowToBitmap). A delayed capture takes `foreground`
// alone. A clicked capture takes it only when it has a title, else the clicked top-level
// window `first`, else the window `second` under the pointer.
QImage activeWindow(ScreenPlatform &platform, int kind, WindowId foreground, bool clicked, WindowId first,
                    WindowId second);

} // namespace CaptureGrab
