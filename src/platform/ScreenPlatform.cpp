#include "platform/ScreenPlatform.h"

#include "platform/HotKeyPlatform.h"
#include "platform/NullScreenPlatform.h"
#include "platform/x11/X11ScreenPlatform.h"
#ifdef ZORVIN_WAYLAND_BACKEND
#include "platform/wayland/WaylandScreenPlatform.h"
#endif

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

namespace {

#ifdef ZORVIN_WAYLAND_BACKEND
constexpr bool kWaylandBuilt = true;
#else
constexpr bool kWaylandBuilt = false;
#endif

} // namespace

ScreenPlatform::Backend ScreenPlatform::chooseBackend(const QString &requested, bool waylandSession,
                                                      const QString &qtPlatform)
{
    const bool onXcb = qtPlatform == QLatin1String("xcb");
    const bool wantWayland = requested == QLatin1String("wayland") || (requested.isEmpty() && waylandSession);
    if (wantWayland)
        return kWaylandBuilt ? Backend::Wayland : Backend::Null;
    return onXcb ? Backend::X11 : Backend::Null;
}

ScreenPlatform::Backend ScreenPlatform::backendInUse(const QString &requested)
{
    return chooseBackend(requested, HotKeyPlatform::isWaylandSession(), QGuiApplication::platformName());
}

QString ScreenPlatform::backendTitle(Backend backend)
{
    switch (backend) {
    case Backend::X11:
        return QStringLiteral("X11");
    case Backend::Wayland:
        return QStringLiteral("Wayland (xdg-desktop-portal)");
    case Backend::Null:
        break;
    }
    return QStringLiteral("なし");
}

std::unique_ptr<ScreenPlatform> ScreenPlatform::create(const QString &requested)
{
    switch (backendInUse(requested)) {
    case Backend::X11:
        if (auto x11 = X11ScreenPlatform::tryCreate())
            return x11;
        break;
    case Backend::Wayland:
#ifdef ZORVIN_WAYLAND_BACKEND
        return std::make_unique<WaylandScreenPlatform>();
#else
        break;
#endif
    case Backend::Null:
        break;
    }
    return std::make_unique<NullScreenPlatform>();
}

void ScreenPlatform::requestScreen(ScreenRequest, QObject *context, ScreenReady done)
{
    const QImage picture = grabRect(QRect(QPoint(0, 0), screenSize()));
    QTimer::singleShot(0, context, [picture, done = std::move(done)] {
        done(picture, picture.isNull() ? QStringLiteral("画面を取り込めませんでした。") : QString());
    });
}

QRect ScreenPlatform::clampToScreen(const QRect &rect, const QSize &screen)
{
    // Computed on 64-bit edges: a rectangle near INT_MAX must not overflow into a
    // plausible-looking one.
    const qint64 left = std::max<qint64>(rect.x(), 0);
    const qint64 top = std::max<qint64>(rect.y(), 0);
    const qint64 right = std::min<qint64>(qint64(rect.x()) + rect.width(), screen.width());
    const qint64 bottom = std::min<qint64>(qint64(rect.y()) + rect.height(), screen.height());
    if (right <= left || bottom <= top)
        return {};
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
}
