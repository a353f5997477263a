// The report-style lists of the windows: flat rows of columns, selected whole, and their
// design widths.
#pragma once

#include <QList>
#include <QStringList>

class QAbstractItemView;
class QHeaderView;
class QTreeWidget;

// Column widths from design widths in twips. The design widths are narrower than the texts
// they hold at our fonts, so a column the design shows is widened to its caption and its
// widest expected value; a column the design hides (width 0) stays hidden. `header` is the
// column header of `view`.
void SetDesignColumnWidths(QAbstractItemView *view, QHeaderView *header, const QList<int> &twips,
                           const QStringList &widestValues);

// A flat list with these column captions whose rows are selected whole, several at once.
void SetReportList(QTreeWidget *list, const QStringList &captions);
