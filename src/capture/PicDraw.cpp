#include "capture/PicDraw.h"

#include <QPaintEvent>
#include <QPainter>

void PicDrawWidget::setImage(const QImage &image)
{
    m_image = image;
    resize(image.isNull() ? QSize(1, 1) : image.size());
    update();
}

void PicDrawWidget::paintEvent(QPaintEvent *event)
{
    if (m_image.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(event->rect(), m_image, event->rect());
}
