#include "platform/NullScreenPlatform.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

QSize NullScreenPlatform::screenSize() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return (QSizeF(screen->geometry().size()) * screen->devicePixelRatio()).toSize();
}

QImage NullScreenPlatform::grabRect(const QRect &rect)
{
    const QRect clamped = clampToScreen(rect, screenSize());
    QScreen *screen = QGuiApplication::primaryScreen();
    if (clamped.isEmpty() || !screen)
        return {};
    return screen->grabWindow(0, clamped.x(), clamped.y(), clamped.width(), clamped.height()).toImage();
}

QPoint NullScreenPlatform::cursorPos() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? QCursor::pos(screen) - screen->geometry().topLeft() : QPoint();
}
