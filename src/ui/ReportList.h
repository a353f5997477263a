// A report-style list whose columns are wider together than its window: moving to a row
// (click, keys, a new row) scrolls it into view up and down only, so the columns the user
// looks at stay where they are.
#pragma once

#include <QTreeWidget>

class ReportList : public QTreeWidget
{
  public:
    using QTreeWidget::QTreeWidget;

    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
};
