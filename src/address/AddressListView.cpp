#include "address/AddressListView.h"

#include "address/AddressBookModel.h"
#include "address/LveAdrViewModel.h"
#include "base/SettingsFile.h"
#include "net/AddressStore.h"
#include "ui/FlipSort.h"
#include "ui/ListColumns.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Default widths of the address list's columns in twips; state and version are hidden
// until the user widens them.
const QList<int> kColumnTwips = {1976, 529, 547, 0, 0};
constexpr int kColumnCount = AddressBookModel::ColumnCount;
constexpr int kTreeWidthTwips = 2100;

QString columnKey(int column)
{
    return QStringLiteral("AdrTVColHdWith%1").arg(column + 1);
}

QIcon favouriteIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
        const double radius = i % 2 == 0 ? 7.5 : 3.2;
        const double angle = -M_PI / 2 + i * M_PI / 5;
        const QPointF point(8 + radius * std::cos(angle), 8.5 + radius * std::sin(angle));
        if (i == 0)
            star.moveTo(point);
        else
            star.lineTo(point);
    }
    star.closeSubpath();
    painter.setPen(QColor(180, 120, 0));
    painter.setBrush(QColor(255, 200, 40));
    painter.drawPath(star);
    return QIcon(pixmap);
}

} // namespace

AddressListView::AddressListView(AddressStore &store, const SettingsFile &layout, const QString &section,
                                 QWidget *parent)
    : QWidget(parent)
{
    m_model = new AddressBookModel(store, this);
    m_list = new LveAdrViewModel(m_model, this);
    m_sorted = new QSortFilterProxyModel(this);
    m_sorted->setSourceModel(m_list);
    m_sorted->setDynamicSortFilter(true);

    buildControls();
    // "送信可のみ表示" is set before the tree selects its root, so the list is filled once.
    readLayout(layout, section);
    buildTree();
    // Presence writes into the open window: new groups get their node at once.
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { onStoreRowsChanged(first, last); });
    connect(
        m_model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &from, const QModelIndex &to) { onStoreRowsChanged(from.row(), to.row()); });
}

AddressStore &AddressListView::store() const
{
    return m_model->store();
}

void AddressListView::buildControls()
{
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("TreGrpView"));
    m_tree->setHeaderHidden(true);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setFixedWidth(twipsToPixels(kTreeWidthTwips));
    m_tree->viewport()->installEventFilter(this);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &AddressListView::onTreeSelectionChanged);
    connect(m_tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        if (item && item == std::exchange(m_reclicked, nullptr))
            m_list->selectNode(item->text(0));
    });

    // A table rather than a tree: a row that joins the list costs it no layout of the
    // other rows, which matters with thousands of peers and presence arriving.
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("LveAdrView"));
    m_view->setModel(m_sorted);
    m_view->setShowGrid(false);
    m_view->setWordWrap(false);
    m_view->setCornerButtonEnabled(false);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows are chosen whole, so Tab has no cell to go to: it leaves the list.
    m_view->setTabKeyNavigation(false);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *header = m_view->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(false);
    SetDesignColumnWidths(m_view, header, kColumnTwips,
                          {QString(), QStringLiteral("255.255.255.255"), QStringLiteral("MT")});
    m_view->installEventFilter(this);
    new FlipSort(m_view, header);
    connect(m_view, &QTableView::customContextMenuRequested, this, [this](const QPoint &position) {
        emit menuRequested(m_view->viewport()->mapToGlobal(position));
    });
    connect(m_view, &QTableView::doubleClicked, this, &AddressListView::rowActivated);

    m_availOnly = new QCheckBox(QStringLiteral("送信可のみ表示"), this);
    m_availOnly->setObjectName(QStringLiteral("ChkAvailOnly"));
    connect(m_availOnly, &QCheckBox::clicked, this, [this](bool checked) { m_list->setAvailOnly(checked); });

    auto *lists = new QHBoxLayout;
    lists->addWidget(m_tree);
    lists->addWidget(m_view, 1);
    m_commandRow = new QHBoxLayout;
    m_commandRow->addWidget(m_availOnly);
    m_commandRow->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(lists, 1);
    layout->addLayout(m_commandRow);
}

void AddressListView::readLayout(const SettingsFile &file, const QString &section)
{
    double widths[kColumnCount] = {};
    bool anySaved = false;
    for (int column = 0; column < kColumnCount; ++column) {
        widths[column] = file.ReadSetting(section, columnKey(column)).trimmed().toDouble();
        anySaved = anySaved || widths[column] > 0;
    }
    if (anySaved) {
        for (int column = 0; column < kColumnCount; ++column)
            m_view->horizontalHeader()->resizeSection(column, std::max(0, twipsToPixels(widths[column])));
    }
    const bool availOnly =
        file.ReadSetting(section, QStringLiteral("AvailOnly")).trimmed() == QLatin1String("1");
    m_availOnly->setChecked(availOnly);
    m_list->setAvailOnly(availOnly);
}

void AddressListView::writeLayout(const SettingsFile &file, const QString &section) const
{
    for (int column = 0; column < kColumnCount; ++column)
        file.WriteSetting(section, columnKey(column),
                          QString::number(pixelsToTwips(m_view->horizontalHeader()->sectionSize(column))));
    file.WriteSetting(section, QStringLiteral("AvailOnly"),
                      m_availOnly->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

// ---- group tree -------------------------------------------------------------------------

void AddressListView::buildTree()
{
    m_tree->clear();
    m_leafTexts.clear();
    // One icon for every group node: the style makes a new one at each call.
    m_groupIcon = style()->standardIcon(QStyle::SP_DirIcon);
    m_root = new QTreeWidgetItem(m_tree, {LveAdrViewModel::rootNodeText()});
    m_root->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
    auto *favourites = new QTreeWidgetItem(m_root, {LveAdrViewModel::favouritesNodeText()});
    favourites->setIcon(0, favouriteIcon());
    m_leafTexts.insert(favourites->text(0));
    m_root->setExpanded(true);
    {
        // The list is filled for the root once, below, not on this selection.
        const QSignalBlocker quiet(m_tree);
        m_tree->setCurrentItem(m_root);
    }
    onStoreRowsChanged(0, store().size() - 1);
    m_list->selectNode(m_root->text(0));
}

void AddressListView::addGroupNode(const QString &group)
{
    auto *node = new QTreeWidgetItem(m_root, {group});
    node->setIcon(0, m_groupIcon);
    m_leafTexts.insert(group);
}

void AddressListView::onStoreRowsChanged(int first, int last)
{
    // A group gets a node unless a node without children has its text already, so a group
    // named "お気に入り" shares the favourites node, and one named like the root gets its own.
    const AddressStore &rows = store();
    for (int row = std::max(0, first); row <= last && row < rows.size(); ++row) {
        const QString &group = rows.at(row).EntryGroup;
        if (!group.isEmpty() && !m_leafTexts.contains(group))
            addGroupNode(group);
    }
}

void AddressListView::onTreeSelectionChanged()
{
    const QList<QTreeWidgetItem *> selected = m_tree->selectedItems();
    if (!selected.isEmpty())
        m_list->selectNode(selected.front()->text(0));
}

void AddressListView::deselectNode()
{
    {
        // With no node selected, answers fill the store only until a node is chosen again.
        const QSignalBlocker quiet(m_tree);
        m_tree->clearSelection();
        m_tree->setCurrentItem(nullptr);
    }
    m_list->deselectNode();
}

void AddressListView::favouriteCleared(int storeRow)
{
    if (m_list->hasSelectedNode() && m_list->selectedNode() == LveAdrViewModel::favouritesNodeText())
        m_list->removeFromList(m_list->mapFromSource(m_model->index(storeRow, 0)).row());
}

bool AddressListView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_tree->viewport() && event->type() == QEvent::MouseButtonPress) {
        // A click on the selected node does not change the selection, yet refills the list.
        QTreeWidgetItem *item = m_tree->itemAt(static_cast<QMouseEvent *>(event)->position().toPoint());
        m_reclicked = item && item->isSelected() ? item : nullptr;
    } else if (watched == m_view && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        emit deleteKeyPressed();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- rows -------------------------------------------------------------------------------

QList<int> AddressListView::visibleStoreRows() const
{
    QList<int> rows;
    for (int row = 0; row < m_sorted->rowCount(); ++row)
        rows << m_list->mapToSource(m_sorted->mapToSource(m_sorted->index(row, 0))).row();
    return rows;
}

QList<int> AddressListView::selectedStoreRows() const
{
    QModelIndexList selected = m_view->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QList<int> rows;
    for (const QModelIndex &index : std::as_const(selected))
        rows << m_list->mapToSource(m_sorted->mapToSource(index)).row();
    return rows;
}

int AddressListView::selectedStoreRow() const
{
    const QList<int> rows = selectedStoreRows();
    return rows.isEmpty() ? -1 : rows.front();
}

QString AddressListView::displayName(int storeRow) const
{
    return m_model->index(storeRow, AddressBookModel::ColName).data().toString();
}
