#include "ui/ReportList.h"

#include <QScrollBar>

void ReportList::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    // The view would bring the clicked cell's column to the left edge when it is wider than
    // the window, taking the date, name and result columns out of sight.
    const int across = horizontalScrollBar()->value();
    QTreeWidget::scrollTo(index, hint);
    horizontalScrollBar()->setValue(across);
}
