#include "address/KeyIcons.h"

#include <QPainter>
#include <QPixmap>

namespace {

QIcon padlock(bool open)
{
    constexpr int kSize = 16;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(open ? QColor(0xB0, 0x20, 0x20) : QColor(0x70, 0x58, 0x20), 2));
    p.setBrush(Qt::NoBrush);
    // The shackle: an arch over the body; an open one is lifted and free on its left.
    const QRectF arch = open ? QRectF(6.5, 0.5, 6, 9) : QRectF(5, 2, 6, 9);
    p.drawArc(arch, 0, 180 * 16);
    p.drawLine(QPointF(arch.right(), arch.center().y()), QPointF(arch.right(), 8));
    if (!open)
        p.drawLine(QPointF(arch.left(), arch.center().y()), QPointF(arch.left(), 8));
    p.setPen(Qt::NoPen);
    p.setBrush(open ? QColor(0xE0, 0x40, 0x30) : QColor(0xD8, 0xA8, 0x30));
    p.drawRoundedRect(QRectF(2.5, 7.5, 11, 8), 1.5, 1.5);
    p.setBrush(QColor(0x30, 0x20, 0x10));
    p.drawRect(QRectF(7.25, 10, 1.5, 3));
    p.end();
    return QIcon(pixmap);
}

} // namespace

namespace KeyIcons {

QIcon pinned()
{
    return padlock(false);
}

QIcon changed()
{
    return padlock(true);
}

} // namespace KeyIcons
