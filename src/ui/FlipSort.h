// Column sorting of the list windows: a click on any column header sorts the list by that
// column, and every click flips the order between ascending and descending, whichever
// column was clicked before.
#pragma once

#include <QObject>

class QAbstractItemView;
class QHeaderView;

class FlipSort : public QObject
{
    Q_OBJECT
  public:
    // Takes over the clicks on `header`, the column header of `view` (whose own sorting
    // stays off); a child of the view.
    FlipSort(QAbstractItemView *view, QHeaderView *header);

    // The column last sorted by, -1 while the list is in its own order.
    int column() const { return m_column; }
    Qt::SortOrder order() const { return m_order; }
    // Sorts again as last clicked, for lists whose model does not keep itself sorted.
    void resort();

  private:
    void onSectionClicked(int column);

    QAbstractItemView *m_view;
    QHeaderView *m_header;
    int m_column = -1;
    Qt::SortOrder m_order = Qt::DescendingOrder;
};
