#include "ui/FrmUnread.h"

#include "base/ModZorvin.h"
#include "ui/ListColumns.h"
#include "ui/ListWindowLayout.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

namespace {

// Column widths in twips: date and time, name, kind, content.
const QList<int> kColumnTwips = {2558, 2000, 900, 2400};
constexpr int kWidthTwips = 9600;
constexpr int kHeightTwips = 3600;
constexpr int kOpenButtonWidthTwips = 1695;
// Rows that arrive within this time are drawn in together: a flood costs the list one
// update per batch instead of one per arrival.
constexpr int kBatchMs = 50;
constexpr int kIdRole = Qt::UserRole;

} // namespace

FrmUnread::FrmUnread(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FrmUnread"));
    setWindowTitle(QString::fromUtf8(kProductName) + QStringLiteral("　- 未開封 -"));
    setWindowIcon(QApplication::windowIcon());
    // Arrivals show the list; they must not take the keyboard from what the user types in.
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("LveUnread"));
    SetReportList(m_list, {QStringLiteral("日時"), QStringLiteral("名前"), QStringLiteral("種類"),
                           QStringLiteral("内容")});
    m_list->header()->setStretchLastSection(true);
    SetDesignColumnWidths(m_list, m_list->header(), kColumnTwips,
                          {QStringLiteral("0000/00/00 00:00:00"), QString(), kMessageKind});
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { OpenSelected(); });

    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("Label1"));
    m_cmdOK = new QPushButton(QStringLiteral("閉じる"), this);
    m_cmdOK->setObjectName(QStringLiteral("CmdOK"));
    connect(m_cmdOK, &QPushButton::clicked, this, &QWidget::close);
    m_cmdOpen = new QPushButton(QStringLiteral("開く"), this);
    m_cmdOpen->setObjectName(QStringLiteral("CmdOpen"));
    connect(m_cmdOpen, &QPushButton::clicked, this, &FrmUnread::OpenSelected);

    m_batch.setSingleShot(true);
    m_batch.setInterval(kBatchMs);
    connect(&m_batch, &QTimer::timeout, this, &FrmUnread::addPending);

    resize(twipsToPixels(kWidthTwips), twipsToPixels(kHeightTwips));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 3);
    }
    updateLabel();
    layOut();
}

FrmUnread::~FrmUnread()
{
    discardAll();
}

bool FrmUnread::add(UnreadItem item)
{
    if (m_items.size() >= kMaxItems) {
        if (item.discard)
            item.discard();
        ++m_notKept;
        m_batch.start();
        return false;
    }
    const quint64 id = m_nextId++;
    m_items.emplace(id, std::move(item));
    m_pending.append(id);
    if (!m_batch.isActive())
        m_batch.start();
    return true;
}

void FrmUnread::addPending()
{
    QList<QTreeWidgetItem *> rows;
    rows.reserve(m_pending.size());
    for (const quint64 id : std::as_const(m_pending)) {
        const auto it = m_items.constFind(id);
        if (it == m_items.cend())
            continue;
        auto *row = new QTreeWidgetItem({it->when, it->from, it->kind, it->summary});
        row->setData(0, kIdRole, id);
        rows.append(row);
    }
    m_pending.clear();
    m_list->addTopLevelItems(rows);
    updateLabel();
    if (isMinimized())
        return;
    show();
    emit rowsAdded();
}

void FrmUnread::OpenSelected()
{
    // The windows open after the rows are gone: opening one may run a loop of its own.
    QList<std::function<void()>> opens;
    const QList<QTreeWidgetItem *> selected = m_list->selectedItems();
    for (int i = m_list->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem *row = m_list->topLevelItem(i);
        if (!selected.contains(row))
            continue;
        const UnreadItem item = m_items.take(row->data(0, kIdRole).toULongLong());
        delete row;
        if (item.open)
            opens.prepend(item.open);
    }
    updateLabel();
    for (const auto &open : std::as_const(opens))
        open();
}

void FrmUnread::updateLabel()
{
    QString text = QStringLiteral("未開封のﾒｯｾｰｼﾞと画像: %1 件").arg(m_items.size());
    if (m_notKept > 0)
        text += QStringLiteral("（ほか %1 件は一覧に入りきりません）").arg(m_notKept);
    m_label->setText(text);
    m_cmdOpen->setEnabled(!m_items.isEmpty());
    layOut();
}

QuitGuard::Concern FrmUnread::quitConcern() const
{
    const QList<Concern> concerns = quitConcerns();
    return concerns.isEmpty() ? None : concerns.first();
}

QList<QuitGuard::Concern> FrmUnread::quitConcerns() const
{
    QList<Concern> concerns;
    for (const UnreadItem &item : m_items) {
        if (item.concern != None && !concerns.contains(item.concern))
            concerns.append(item.concern);
    }
    return concerns;
}

void FrmUnread::discardAll()
{
    m_batch.stop();
    const QHash<quint64, UnreadItem> items = std::exchange(m_items, {});
    m_pending.clear();
    for (const UnreadItem &item : items) {
        if (item.discard)
            item.discard();
    }
}

void FrmUnread::closeEvent(QCloseEvent *event)
{
    // Like the received list, the rows live only in the window.
    discardAll();
    m_list->clear();
    QWidget::closeEvent(event);
}

void FrmUnread::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOut();
}

void FrmUnread::layOut()
{
    LayOutListWindow(*this, {m_list, m_label, m_cmdOK, m_cmdOpen, kOpenButtonWidthTwips});
}
