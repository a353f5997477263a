#include "platform/ScreenPlatform.h"

#include "platform/NullScreenPlatform.h"
#include "platform/x11/X11ScreenPlatform.h"

std::unique_ptr<ScreenPlatform> ScreenPlatform::create()
{
    if (auto x11 = X11ScreenPlatform::tryCreate())
        return x11;
    return std::make_unique<NullScreenPlatform>();
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
