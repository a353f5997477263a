// Takes what is dropped on the capture window's viewport as a copy and hands it on once
// the drag source has had its answer: what the drop leads to may ask a modal question.
#pragma once

#include <QObject>

#include <functional>

class QMimeData;
class QWidget;

class ViewportDrops : public QObject
{
    Q_OBJECT
  public:
    ViewportDrops(QWidget &viewport, std::function<void(const QMimeData &)> dropped);

  private:
    bool eventFilter(QObject *watched, QEvent *event) override;

    std::function<void(const QMimeData &)> m_dropped;
};
