#include "ui/TransferRows.h"

#include "ui/ListColumns.h"
#include "ui/Twips.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QProgressBar>

namespace {

// More rows than this scroll; the result lines below keep the rest of the window.
constexpr int kMostRowsShown = 4;

} // namespace

TransferRows::TransferRows(bool withKind, QWidget *parent) : QTreeWidget(parent), m_withKind(withKind)
{
    setObjectName(QStringLiteral("LveRunning"));
    QStringList captions = {QStringLiteral("名前"),    QStringLiteral("状態"),   QStringLiteral("項目"),
                            QStringLiteral("進捗"),    QStringLiteral("転送量"), QStringLiteral("速度"),
                            QStringLiteral("残り時間")};
    if (withKind)
        captions.insert(1, QStringLiteral("種"));
    SetReportList(this, captions);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    // Every column fits the window: the item's name takes what the others leave.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(false);
    header()->setSectionResizeMode(column(Item), QHeaderView::Stretch);
    const QFontMetrics metrics(font());
    const auto fit = [&](Column c, const QString &widest) {
        const int text =
            qMax(metrics.horizontalAdvance(widest), metrics.horizontalAdvance(captions[column(c)]));
        setColumnWidth(column(c), text + metrics.averageCharWidth() + 4);
    };
    fit(Name, QStringLiteral("WWWWWWWW"));
    if (withKind)
        fit(Kind, QStringLiteral("M"));
    fit(State, QStringLiteral("圧縮中"));
    fit(Bar, QStringLiteral("100%100%"));
    fit(Bytes, QStringLiteral("1023.9 MB / 1023.9 MB"));
    fit(Speed, QStringLiteral("1023.9 MB/s"));
    fit(TimeLeft, QStringLiteral("00:00:00"));
    hide();
}

int TransferRows::column(Column c) const
{
    if (c == Kind)
        return m_withKind ? 1 : -1;
    return int(c) - (m_withKind || c == Name ? 0 : 1);
}

QString TransferRows::bytesText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(double(bytes) / 1024, 0, 'f', 1);
    if (bytes < qint64(1024) * 1024 * 1024)
        return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(double(bytes) / (1024.0 * 1024 * 1024), 0, 'f', 2);
}

QString TransferRows::timeText(qint64 seconds)
{
    if (seconds < 0)
        return QString();
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

QString TransferRows::stateText(const TransferProgress &progress)
{
    if (progress.state == TransferProgress::State::Packing)
        return QStringLiteral("圧縮中");
    return progress.sending ? QStringLiteral("送信中") : QStringLiteral("受信中");
}

void TransferRows::showProgress(const TransferProgress &progress)
{
    const qint64 k = progress.key();
    QTreeWidgetItem *item = m_rows.value(k);
    if (progress.state == TransferProgress::State::Ended) {
        if (item) {
            m_rows.remove(k);
            delete item;
            setVisible(!m_rows.isEmpty());
        }
        return;
    }
    QProgressBar *bar = nullptr;
    if (!item) {
        item = new QTreeWidgetItem(this);
        m_rows.insert(k, item);
        bar = new QProgressBar;
        bar->setRange(0, 1000);
        bar->setTextVisible(true);
        setItemWidget(item, column(Bar), bar);
        show();
    } else {
        bar = qobject_cast<QProgressBar *>(itemWidget(item, column(Bar)));
    }
    item->setText(column(Name), progress.name);
    if (m_withKind)
        item->setText(column(Kind), progress.kind);
    item->setText(column(State), stateText(progress));
    item->setText(column(Item), progress.item);
    const qint64 total = qMax<qint64>(progress.total, 0);
    const int permille = total > 0 ? int(qBound(qint64(0), progress.done * 1000 / total, qint64(1000))) : 0;
    if (bar) {
        bar->setValue(permille);
        bar->setFormat(QStringLiteral("%1%").arg(permille / 10));
    }
    item->setText(column(Bytes), bytesText(progress.done) + QStringLiteral(" / ") + bytesText(total));
    // Packing has no pace of its own to show.
    const bool moving = progress.state == TransferProgress::State::Moving;
    item->setText(column(Speed), moving && progress.bytesPerSecond > 0
                                     ? bytesText(progress.bytesPerSecond) + QStringLiteral("/s")
                                     : QString());
    item->setText(column(TimeLeft), moving ? timeText(progress.secondsLeft()) : QString());
}

void TransferRows::placeAbove(QWidget *list)
{
    const int shown = qMin(runningCount(), kMostRowsShown);
    if (shown == 0) {
        hide();
        return;
    }
    const QRect place = list->geometry();
    const int rowHeight = qMax(sizeHintForRow(0), fontMetrics().height() + 6);
    const int wanted = header()->sizeHint().height() + shown * rowHeight + 2 * frameWidth() + 2;
    const int height = qMin(wanted, place.height() / 2);
    setGeometry(place.x(), place.y(), place.width(), height);
    list->setGeometry(place.x(), place.y() + height + twipsToPixels(60), place.width(),
                      place.height() - height - twipsToPixels(60));
    show();
}
