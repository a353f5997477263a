// Design widths of list columns, given in twips. The design widths are narrower than the
// texts they hold at our fonts, so a column the design shows is widened to its caption and
// its widest expected value; a column the design hides (width 0) stays hidden.
#pragma once

#include <QList>
#include <QStringList>

class QAbstractItemView;
class QHeaderView;

// `header` is the column header of `view`.
void SetDesignColumnWidths(QAbstractItemView *view, QHeaderView *header, const QList<int> &twips,
                           const QStringList &widestValues);
