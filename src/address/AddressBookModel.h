// The address store as a table for the address book window and the send dialog: one row
// per store row in store order, the columns of the window's address list, kept live from
// the store's own change signals.
#pragma once

#include <QAbstractTableModel>

class AddressStore;
class Identity;
class PeerKeys;
struct AddressEntry;

class AddressBookModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    // The address list's columns, in its order: "名前", "IPｱﾄﾞﾚｽ", "ﾀｲﾌﾟ", "状態", "Ver".
    enum Column { ColName, ColAddress, ColType, ColState, ColVersion, ColumnCount };
    // Every field of the row as stored, in any column; the filters read group and
    // favourite, which the list has no column for. The first five follow the columns' order.
    enum Role {
        NameRole = Qt::UserRole + 1,
        AddressRole,
        TypeRole,
        StateRole,
        VersionRole,
        GroupRole,
        FavouriteRole,
        // The peer's key (PeerKeys::Trust as an int); the name column shows it as a lock,
        // and every column's tip gives the fingerprints.
        KeyTrustRole,
    };

    explicit AddressBookModel(AddressStore &store, QObject *parent = nullptr);

    AddressStore &store() const { return m_store; }
    // The pinned keys the rows show, with the name column's decorations for a pinned and
    // a changed key (icons, which the windows make); without keys the rows look as in 2.66.
    // While `identity` (this copy's key pair) is not ready nothing is sealed, and pinned
    // rows say so instead of showing a padlock.
    void setPeerKeys(const PeerKeys *keys, const QVariant &pinnedDecoration = QVariant(),
                     const QVariant &changedDecoration = QVariant(), const Identity *identity = nullptr);
    const AddressEntry &entry(int row) const;
    // The tip of a row of the peer at `ip`: its key's fingerprint, or the pinned and the
    // new one of a changed key; empty for a peer without a key.
    static QString keyTip(const PeerKeys &keys, const QString &ip);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    // Display text as the list shows it (names without trailing blanks); the roles above
    // give the stored text.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  private:
    QVariant keyData(const AddressEntry &entry, int role) const;

    AddressStore &m_store;
    const PeerKeys *m_keys = nullptr;
    const Identity *m_identity = nullptr;
    QVariant m_pinnedDecoration;
    QVariant m_changedDecoration;
};
