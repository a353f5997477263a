// A plain window of one colour for the capture tests to look for on the screen: its client
// area has a known size, and it keeps where it was pressed (in screen coordinates).
#pragma once

#include <QMouseEvent>
#include <QPalette>
#include <QWidget>

class SolidWindow : public QWidget
{
  public:
    SolidWindow(const QColor &color, const QSize &size,
                const QString &title = QStringLiteral("solid test window"))
    {
        setWindowTitle(title);
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, color);
        setPalette(pal);
        setFixedSize(size);
    }
    QList<QPointF> presses;

  protected:
    void mousePressEvent(QMouseEvent *event) override { presses << event->globalPosition(); }
};
