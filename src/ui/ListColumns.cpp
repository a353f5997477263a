#include "ui/ListColumns.h"

#include "ui/Twips.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QTreeWidget>

#include <algorithm>

void SetDesignColumnWidths(QAbstractItemView *view, QHeaderView *header, const QList<int> &twips,
                           const QStringList &widestValues)
{
    header->setMinimumSectionSize(0);
    // Room for the cell's margins and the focus frame around the text.
    const int padding = 2 * view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 8;
    for (int column = 0; column < twips.size(); ++column) {
        int width = twipsToPixels(twips[column]);
        if (width > 0) {
            width = std::max({width, header->sectionSizeHint(column),
                              view->fontMetrics().horizontalAdvance(widestValues.value(column)) + padding});
        }
        header->resizeSection(column, width);
    }
}

void SetReportList(QTreeWidget *list, const QStringList &captions)
{
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setHeaderLabels(captions);
}
