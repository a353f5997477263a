#include "ui/FlipSort.h"

#include <QAbstractItemView>
#include <QHeaderView>

FlipSort::FlipSort(QAbstractItemView *view, QHeaderView *header)
    : QObject(view), m_view(view), m_header(header)
{
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    connect(header, &QHeaderView::sectionClicked, this, &FlipSort::onSectionClicked);
}

void FlipSort::onSectionClicked(int column)
{
    // The first click sorts ascending.
    m_order = m_order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    m_column = column;
    // The header flips its indicator by its own rule before this runs; ours replaces it.
    m_header->setSortIndicatorShown(true);
    m_header->setSortIndicator(column, m_order);
    resort();
}

void FlipSort::resort()
{
    if (m_column >= 0 && m_view->model())
        m_view->model()->sort(m_column, m_order);
}
