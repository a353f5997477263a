#include "ui/ProgramIcon.h"

#include <QPainter>

namespace ProgramIcon {

QImage draw(const QColor &background, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(background);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
    // A lens: the program captures the screen.
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(size * 0.22, size * 0.22, size * 0.56, size * 0.56));
    p.setBrush(background.darker(150));
    p.drawEllipse(QRectF(size * 0.36, size * 0.36, size * 0.28, size * 0.28));
    p.end();
    return image;
}

} // namespace ProgramIcon
