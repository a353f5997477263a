#include "address/AddressBookModel.h"

#include "net/AddressStore.h"
#include "net/Identity.h"
#include "net/PeerKeys.h"

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

void AddressBookModel::setPeerKeys(const PeerKeys *keys, const QVariant &pinnedDecoration,
                                   const QVariant &changedDecoration, const Identity *identity)
{
    if (m_keys)
        disconnect(m_keys, nullptr, this, nullptr);
    m_keys = keys;
    m_identity = identity;
    m_pinnedDecoration = pinnedDecoration;
    m_changedDecoration = changedDecoration;
    if (keys) {
        connect(keys, &PeerKeys::trustChanged, this, [this](const QString &ip) {
            const int row = m_store.indexOf(ip);
            if (row >= 0)
                emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
        });
    }
    if (m_store.size() > 0)
        emit dataChanged(index(0, 0), index(m_store.size() - 1, ColumnCount - 1));
}

QVariant AddressBookModel::keyData(const AddressEntry &entry, int role) const
{
    const PeerKeys::Trust trust = m_keys ? m_keys->trustOf(entry.EntryAddress) : PeerKeys::Trust::None;
    if (role == KeyTrustRole)
        return int(trust);
    // Without keys the rows look as a 2.66 copy's.
    if (!m_keys)
        return QVariant();
    // A pinned key seals nothing while this copy has no key pair of its own.
    const bool ownKeyMissing = m_identity && !m_identity->isReady();
    if (trust == PeerKeys::Trust::None || (trust == PeerKeys::Trust::Pinned && ownKeyMissing)) {
        if (role != Qt::ToolTipRole)
            return QVariant();
        const QString why = ownKeyMissing ? QStringLiteral("自分の鍵がないため、暗号化されません。")
                                          : QStringLiteral("相手の鍵がないため、暗号化されません。");
        const QString tip = keyTip(*m_keys, entry.EntryAddress);
        return tip.isEmpty() ? why : why + u'\n' + tip;
    }
    if (role == Qt::DecorationRole)
        return trust == PeerKeys::Trust::Changed ? m_changedDecoration : m_pinnedDecoration;
    return keyTip(*m_keys, entry.EntryAddress);
}

QString AddressBookModel::keyTip(const PeerKeys &keys, const QString &ip)
{
    const PeerKeys::Trust trust = keys.trustOf(ip);
    if (trust == PeerKeys::Trust::None)
        return QString();
    const QString pinned = Identity::fingerprintOf(keys.pinnedKey(ip));
    if (trust == PeerKeys::Trust::Pinned)
        return QStringLiteral("鍵の指紋: ") + pinned;
    return QStringLiteral("鍵が変わりました。新しい鍵はまだ信用していません。\n登録済みの指紋: %1\n新しい指紋: %2")
        .arg(pinned, Identity::fingerprintOf(keys.offeredKey(ip)));
}

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
    if (role == KeyTrustRole || role == Qt::ToolTipRole ||
        (role == Qt::DecorationRole && index.column() == ColName))
        return keyData(e, role);
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
