#include "capture/ViewportDrops.h"

#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

#include <memory>

ViewportDrops::ViewportDrops(QWidget &viewport, std::function<void(const QMimeData &)> dropped)
    : QObject(&viewport), m_dropped(std::move(dropped))
{
    viewport.setAcceptDrops(true);
    viewport.installEventFilter(this);
}

bool ViewportDrops::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // The notices are modal; the drag source gets its answer first.
        const QMimeData *mime = drop->mimeData();
        auto copy = std::make_shared<QMimeData>();
        for (const QString &format : mime->formats())
            copy->setData(format, mime->data(format));
        if (mime->hasUrls())
            copy->setUrls(mime->urls());
        QMetaObject::invokeMethod(
            this, [this, copy] { m_dropped(*copy); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
