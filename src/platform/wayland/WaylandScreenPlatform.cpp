#include "platform/wayland/WaylandScreenPlatform.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

WaylandScreenPlatform::WaylandScreenPlatform() = default;
WaylandScreenPlatform::~WaylandScreenPlatform() = default;

QSize WaylandScreenPlatform::screenSize() const
{
    return m_screen.isNull() ? NullScreenPlatform::screenSize() : m_screen.size();
}

QImage WaylandScreenPlatform::grabRect(const QRect &rect)
{
    const QRect clamped = clampToScreen(rect, screenSize());
    if (clamped.isEmpty() || m_screen.isNull())
        return {};
    return m_screen.copy(clamped);
}

std::optional<QRect> WaylandScreenPlatform::workArea() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    // Qt's geometries are in its own (scaled) units; the picture is in device pixels.
    const qreal ratio = screen->devicePixelRatio();
    const QRect available = screen->availableGeometry().translated(-screen->geometry().topLeft());
    return QRectF(QPointF(available.topLeft()) * ratio, QSizeF(available.size()) * ratio).toRect();
}

QPoint WaylandScreenPlatform::cursorPos() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return ((QCursor::pos(screen) - screen->geometry().topLeft()) * screen->devicePixelRatio());
}

void WaylandScreenPlatform::requestScreen(ScreenRequest kind, QObject *context, ScreenReady done)
{
    const QPointer<QObject> alive(context);
    const bool whole = kind == ScreenRequest::WholeScreen;
    m_portal.request(
        !whole, [this, alive, whole, done = std::move(done)](const QImage &picture, const QString &failure) {
            // Only the whole screen is what later rectangles are cut from.
            if (whole)
                m_screen = picture;
            if (alive)
                done(picture, failure);
        });
}

bool WaylandScreenPlatform::offersUserPick() const
{
    return ScreenshotPortal::desktopPicksWindows(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
}
