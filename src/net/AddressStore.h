// The address store, the hidden list `LveAddr`: every known peer as an ordered row
// (insertion order is the order of the file, the window and the group list), with an index
// by address so that lookups cost the same for ten rows and for ten thousand. The first row
// of an address wins. Every change is announced, before and after, so windows follow it live.
#pragma once

#include "net/AddressEntry.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <vector>

class AddressStore : public QObject
{
    Q_OBJECT
  public:
    explicit AddressStore(QObject *parent = nullptr);

    int size() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }
    const AddressEntry &at(int row) const { return m_rows[size_t(row)]; }
    const std::vector<AddressEntry> &rows() const { return m_rows; }

    // Row number of the first row whose address equals `ip` exactly, or -1.
    int indexOf(const QString &ip) const;

    // The first row with that address; a row with every field empty when there is none.
    AddressEntry FindAddressByIp(const QString &ip) const;

    void append(const AddressEntry &entry);
    // Replaces a row whole (the dialogs' modify); the address may change.
    void replace(int row, const AddressEntry &entry);
    void removeAt(int row);
    void clear();

    // Changes one field that is not the address (state, type, favourite, ...) in place; an
    // address change must go through replace() so that the index follows it. Call
    // notifyChanged(row) afterwards so that the windows showing the row follow.
    AddressEntry &editable(int row) { return m_rows[size_t(row)]; }
    void notifyChanged(int row) { emit rowsChanged(row, row); }

    // The search's reset: every row "unavail" again until its peer answers.
    void markAllUnavail();

    // The presence writer: updates the first row of `ip` or appends one. Returns the row
    // changed or added, -1 when nothing changed (an "unavail" for an unknown address).
    int UpdatePeer(const QString &name, const QString &ip, const QString &state, const QString &version,
                   const QString &group);

  signals:
    void rowAboutToBeInserted(int row);
    void rowInserted(int row);
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);
    // Fields of rows first..last changed; the rows stay where they are.
    void rowsChanged(int first, int last);
    void aboutToBeCleared();
    void cleared();

  private:
    void rebuildIndex();

    std::vector<AddressEntry> m_rows;
    QHash<QString, int> m_firstRow;
};
