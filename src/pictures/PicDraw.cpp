#include "pictures/PicDraw.h"

#include <QColorDialog>
#include <QMainWindow>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolBar>

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

namespace PicFrame {

QScrollArea *make(QWidget *parent, PicDrawWidget *&picDraw)
{
    auto *frame = new QScrollArea(parent);
    frame->setObjectName(QStringLiteral("PicFrame"));
    frame->setWidgetResizable(false);
    frame->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picDraw = new PicDrawWidget(frame);
    picDraw->setObjectName(QStringLiteral("PicDraw"));
    frame->setWidget(picDraw);
    for (QScrollBar *bar : {frame->horizontalScrollBar(), frame->verticalScrollBar()}) {
        QObject::connect(bar, &QScrollBar::rangeChanged, bar, [bar](int, int max) {
            if (max / 10 >= 2)
                bar->setSingleStep(max / 10);
        });
    }
    return frame;
}

QColor background(const QScrollArea &frame)
{
    return frame.viewport()->palette().color(QPalette::Window);
}

void setBackground(QScrollArea &frame, const QColor &color)
{
    QPalette pal = frame.viewport()->palette();
    pal.setColor(QPalette::Window, color);
    frame.viewport()->setPalette(pal);
    frame.viewport()->setAutoFillBackground(true);
}

void chooseBackground(QScrollArea &frame, QWidget *owner)
{
    const QColor chosen = QColorDialog::getColor(background(frame), owner, QStringLiteral("色の設定"));
    if (chosen.isValid())
        setBackground(frame, chosen);
}

QToolBar *addToolbar(QMainWindow &window)
{
    auto *toolbar = new QToolBar(QStringLiteral("Toolbar"), &window);
    toolbar->setObjectName(QStringLiteral("Toolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(24, 24));
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    window.addToolBar(Qt::TopToolBarArea, toolbar);
    return toolbar;
}

} // namespace PicFrame
