// The address store: every known peer as an ordered row (insertion order is the order
// of the file, the window and the group list), with an index by address so that
// lookups cost the same for ten rows and for ten thousand. The first row of an address wins.
#pragma once

#include "address/AddressEntry.h"

#include <QHash>
#include <QString>
#include <vector>

class AddressStore
{
  public:
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

    // Changes one field that is not the address (state, type, favourite, ...); an address
    // change must go through replace() so that the index follows it.
    AddressEntry &editable(int row) { return m_rows[size_t(row)]; }

    // The presence writer: updates the first row of `ip` or appends one. Returns the row
    // changed or added, -1 when nothing changed (an "unavail" for an unknown address).
    int UpdatePeer(const QString &name, const QString &ip, const QString &state, const QString &version,
                   const QString &group);

  private:
    void rebuildIndex();

    std::vector<AddressEntry> m_rows;
    QHash<QString, int> m_firstRow;
};
