// PicDraw: the surface that holds a picture at its own size inside a scrolling frame, as
// the capture window and the received-image viewer show it.
#pragma once

#include <QImage>
#include <QWidget>

class PicDrawWidget : public QWidget
{
  public:
    explicit PicDrawWidget(QWidget *parent) : QWidget(parent) {}

    // An empty picture keeps a 1 by 1 surface, as a cleared picture does.
    void setImage(const QImage &image);
    const QImage &image() const { return m_image; }

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QImage m_image;
};
