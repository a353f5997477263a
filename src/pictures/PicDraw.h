// PicDraw: the surface that holds a picture at its own size inside a scrolling frame, as
// the capture window and the received-image viewer show it.
#pragma once

#include <QColor>
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

class QMainWindow;
class QScrollArea;
class QToolBar;

// What the picture windows (capture window, received-image viewer) build the same way.
namespace PicFrame {

// PicFrame: a scrolling frame that holds a new PicDraw (returned in `picDraw`) at its
// top-left corner; the small scroll step is a tenth of the range once that is 20 pixels.
QScrollArea *make(QWidget *parent, PicDrawWidget *&picDraw);
// The colour around the picture.
QColor background(const QScrollArea &frame);
void setBackground(QScrollArea &frame, const QColor &color);
// Asks for a colour ("色の設定") starting from the frame's, and applies it unless cancelled.
void chooseBackground(QScrollArea &frame, QWidget *owner);
// The flat toolbar at the top of a picture window, neither movable nor floating.
QToolBar *addToolbar(QMainWindow &window);

} // namespace PicFrame
