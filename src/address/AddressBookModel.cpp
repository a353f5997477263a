#include "address/AddressBookModel.h"

#include "net/AddressStore.h"

namespace {

QString trimRight(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

static_assert(AddressBookModel::AddressRole - AddressBookModel::NameRole == AddressBookModel::ColAddress &&
                  AddressBookModel::TypeRole - AddressBookModel::NameRole == AddressBookModel::ColType &&
                  AddressBookModel::StateRole - AddressBookModel::NameRole == AddressBookModel::ColState &&
                  AddressBookModel::VersionRole - AddressBookModel::NameRole == AddressBookModel::ColVersion,
              "display column n shows the field of role NameRole + n");

const QString &field(const AddressEntry &e, int role)
{
    switch (role) {
    case AddressBookModel::NameRole:
        return e.EntryName;
    case AddressBookModel::AddressRole:
        return e.EntryAddress;
    case AddressBookModel::TypeRole:
        return e.EntryType;
    case AddressBookModel::StateRole:
        return e.EntryState;
    case AddressBookModel::VersionRole:
        return e.EntryVersion;
    case AddressBookModel::GroupRole:
        return e.EntryGroup;
    default:
        return e.EntryFavourite;
    }
}

} // namespace

AddressBookModel::AddressBookModel(AddressStore &store, QObject *parent)
    : QAbstractTableModel(parent), m_store(store)
{
    // The store signals before and after each change, so the begin and end calls bracket
    // exactly the moment its rows change.
    connect(&store, &AddressStore::rowAboutToBeInserted, this,
            [this](int row) { beginInsertRows(QModelIndex(), row, row); });
    connect(&store, &AddressStore::rowInserted, this, [this] { endInsertRows(); });
    connect(&store, &AddressStore::rowAboutToBeRemoved, this,
            [this](int row) { beginRemoveRows(QModelIndex(), row, row); });
    connect(&store, &AddressStore::rowRemoved, this, [this] { endRemoveRows(); });
    connect(&store, &AddressStore::rowsChanged, this,
            [this](int first, int last) { emit dataChanged(index(first, 0), index(last, ColumnCount - 1)); });
    connect(&store, &AddressStore::aboutToBeCleared, this, [this] { beginResetModel(); });
    connect(&store, &AddressStore::cleared, this, [this] { endResetModel(); });
}

const AddressEntry &AddressBookModel::entry(int row) const
{
    return m_store.at(row);
}

int AddressBookModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_store.size();
}

int AddressBookModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AddressBookModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const AddressEntry &e = m_store.at(index.row());
    if (role == Qt::DisplayRole) {
        // The columns are the first fields, in the order of their roles.
        const QString &text = field(e, NameRole + index.column());
        return index.column() == ColName ? trimRight(text) : text;
    }
    if (role >= NameRole && role <= FavouriteRole)
        return field(e, role);
    return QVariant();
}

QVariant AddressBookModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColName:
        return QStringLiteral("名前");
    case ColAddress:
        return QStringLiteral("IPｱﾄﾞﾚｽ");
    case ColType:
        return QStringLiteral("ﾀｲﾌﾟ");
    case ColState:
        return QStringLiteral("状態");
    case ColVersion:
        return QStringLiteral("Ver");
    }
    return QVariant();
}
