#include "address/LveAdrViewModel.h"

#include "address/AddressBookModel.h"
#include "net/AddressEntry.h"
#include "base/ModZorvin.h"

#include <algorithm>

LveAdrViewModel::LveAdrViewModel(AddressBookModel *source, QObject *parent)
    : QAbstractProxyModel(parent), m_node(rootNodeText())
{
    setSourceModel(source);
}

QString LveAdrViewModel::rootNodeText()
{
    return QString::fromUtf8(kProductName);
}

QString LveAdrViewModel::favouritesNodeText()
{
    return QStringLiteral("お気に入り");
}

void LveAdrViewModel::selectNode(const QString &nodeText)
{
    m_node = nodeText;
    m_hasNode = true;
    rebuild();
}

void LveAdrViewModel::deselectNode()
{
    m_node.clear();
    m_hasNode = false;
    rebuild();
}

void LveAdrViewModel::setAvailOnly(bool on)
{
    m_availOnly = on;
    if (!on) {
        if (m_hasNode)
            rebuild();
        return;
    }
    for (int row = rowCount() - 1; row >= 0; --row) {
        if (mapToSource(index(row, 0)).data(AddressBookModel::StateRole).toString() == kStateUnavail)
            removeFromList(row);
    }
}

void LveAdrViewModel::rebuild()
{
    beginResetModel();
    fill();
    endResetModel();
}

void LveAdrViewModel::removeFromList(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void LveAdrViewModel::include(int sourceRow)
{
    if (!sourceModel() || sourceRow < 0 || sourceRow >= sourceModel()->rowCount())
        return;
    const auto it = lowerBound(sourceRow);
    if (it == m_rows.end() || *it != sourceRow)
        join(sourceRow);
}

bool LveAdrViewModel::accepts(int sourceRow) const
{
    const QAbstractItemModel *source = sourceModel();
    if (!m_hasNode || !source)
        return false;
    const QModelIndex entry = source->index(sourceRow, 0);
    if (m_availOnly && entry.data(AddressBookModel::StateRole).toString() == kStateUnavail)
        return false;
    if (m_node == rootNodeText())
        return true;
    if (m_node == favouritesNodeText())
        return entry.data(AddressBookModel::FavouriteRole).toString() == QLatin1String("1");
    return entry.data(AddressBookModel::GroupRole).toString() == m_node;
}

void LveAdrViewModel::setSourceModel(QAbstractItemModel *source)
{
    beginResetModel();
    if (QAbstractItemModel *old = sourceModel())
        disconnect(old, nullptr, this, nullptr);
    QAbstractProxyModel::setSourceModel(source);
    if (source) {
        connect(source, &QAbstractItemModel::rowsInserted, this, &LveAdrViewModel::onSourceRowsInserted);
        connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                &LveAdrViewModel::onSourceRowsAboutToBeRemoved);
        connect(source, &QAbstractItemModel::rowsRemoved, this, &LveAdrViewModel::onSourceRowsRemoved);
        connect(source, &QAbstractItemModel::dataChanged, this, &LveAdrViewModel::onSourceDataChanged);
        connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
        connect(source, &QAbstractItemModel::modelReset, this, &LveAdrViewModel::onSourceModelReset);
    }
    fill();
    endResetModel();
}

QModelIndex LveAdrViewModel::mapToSource(const QModelIndex &proxyIndex) const
{
    if (!proxyIndex.isValid() || !sourceModel() || proxyIndex.row() >= rowCount())
        return QModelIndex();
    return sourceModel()->index(m_rows[size_t(proxyIndex.row())], proxyIndex.column());
}

QModelIndex LveAdrViewModel::mapFromSource(const QModelIndex &sourceIndex) const
{
    if (!sourceIndex.isValid())
        return QModelIndex();
    const auto it = std::lower_bound(m_rows.begin(), m_rows.end(), sourceIndex.row());
    if (it == m_rows.end() || *it != sourceIndex.row())
        return QModelIndex();
    return index(int(it - m_rows.begin()), sourceIndex.column());
}

QModelIndex LveAdrViewModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex LveAdrViewModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int LveAdrViewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int LveAdrViewModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !sourceModel() ? 0 : sourceModel()->columnCount();
}

bool LveAdrViewModel::hasChildren(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_rows.empty();
}

QVariant LveAdrViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && sourceModel())
        return sourceModel()->headerData(section, orientation, role);
    return QAbstractItemModel::headerData(section, orientation, role);
}

void LveAdrViewModel::onSourceRowsInserted(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid())
        return;
    const int count = last - first + 1;
    for (auto it = lowerBound(first); it != m_rows.end(); ++it)
        *it += count;
    for (int row = first; row <= last; ++row) {
        if (accepts(row))
            join(row);
    }
}

void LveAdrViewModel::onSourceRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid())
        return;
    const auto from = lowerBound(first);
    const auto to = std::upper_bound(from, m_rows.end(), last);
    if (from == to)
        return;
    const int row = int(from - m_rows.begin());
    beginRemoveRows(QModelIndex(), row, row + int(to - from) - 1);
    m_rows.erase(from, to);
    endRemoveRows();
}

void LveAdrViewModel::onSourceRowsRemoved(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid())
        return;
    const int count = last - first + 1;
    for (auto it = lowerBound(first); it != m_rows.end(); ++it)
        *it -= count;
}

void LveAdrViewModel::onSourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (topLeft.parent().isValid())
        return;
    const auto from = lowerBound(topLeft.row());
    const auto to = std::upper_bound(from, m_rows.end(), bottomRight.row());
    if (from != to) {
        const int row = int(from - m_rows.begin());
        emit dataChanged(index(row, topLeft.column()), index(row + int(to - from) - 1, bottomRight.column()));
    }
    // A row that starts to pass joins; one that stops passing stays until the next rebuild.
    for (int sourceRow = topLeft.row(); sourceRow <= bottomRight.row(); ++sourceRow) {
        const auto it = lowerBound(sourceRow);
        if ((it == m_rows.end() || *it != sourceRow) && accepts(sourceRow))
            join(sourceRow);
    }
}

void LveAdrViewModel::onSourceModelReset()
{
    fill();
    endResetModel();
}

std::vector<int>::iterator LveAdrViewModel::lowerBound(int sourceRow)
{
    return std::lower_bound(m_rows.begin(), m_rows.end(), sourceRow);
}

void LveAdrViewModel::join(int sourceRow)
{
    const auto it = lowerBound(sourceRow);
    const int row = int(it - m_rows.begin());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(it, sourceRow);
    endInsertRows();
}

void LveAdrViewModel::fill()
{
    m_rows.clear();
    const int count = sourceModel() ? sourceModel()->rowCount() : 0;
    for (int row = 0; row < count; ++row) {
        if (accepts(row))
            m_rows.push_back(row);
    }
}
