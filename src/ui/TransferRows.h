// The rows of running sends or receptions that the send-result and received lists show
// above their lines: name, item, state, a bar, bytes of the total, speed and time left.
// A row comes with a transfer's first report and goes when it ends.
#pragma once

#include "net/TransferProgress.h"

#include <QHash>
#include <QTreeWidget>

class TransferRows : public QTreeWidget
{
    Q_OBJECT
  public:
    // `withKind`: a kind column ("種") after the name, as the send-result list has.
    explicit TransferRows(bool withKind, QWidget *parent = nullptr);

    // Adds or updates the transfer's row, or takes it away when it ended.
    void showProgress(const TransferProgress &progress);
    int runningCount() const { return int(m_rows.size()); }
    // Its row, or null.
    QTreeWidgetItem *row(const TransferProgress &progress) const { return m_rows.value(progress.key()); }

    // Splits the place `list` has now: these rows at its top (hidden when there are none),
    // high enough for up to four rows, and the list below them.
    void placeAbove(QWidget *list);

    static QString bytesText(qint64 bytes);
    // "1:05" for 65 s, "1:02:03" from an hour; "" while unknown.
    static QString timeText(qint64 seconds);
    static QString stateText(const TransferProgress &progress);

    enum Column { Name, Kind, State, Item, Bar, Bytes, Speed, TimeLeft };
    int column(Column c) const;

  private:
    bool m_withKind;
    QHash<qint64, QTreeWidgetItem *> m_rows;
};
