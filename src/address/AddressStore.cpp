#include "address/AddressStore.h"

int AddressStore::indexOf(const QString &ip) const
{
    return m_firstRow.value(ip, -1);
}

AddressEntry AddressStore::FindAddressByIp(const QString &ip) const
{
    const int row = indexOf(ip);
    return row < 0 ? AddressEntry() : m_rows[size_t(row)];
}

void AddressStore::append(const AddressEntry &entry)
{
    m_rows.push_back(entry);
    // An earlier row with the same address keeps winning.
    m_firstRow.insert(entry.EntryAddress, m_firstRow.value(entry.EntryAddress, size() - 1));
}

void AddressStore::replace(int row, const AddressEntry &entry)
{
    const bool sameAddress = m_rows[size_t(row)].EntryAddress == entry.EntryAddress;
    m_rows[size_t(row)] = entry;
    if (!sameAddress)
        rebuildIndex();
}

void AddressStore::removeAt(int row)
{
    m_rows.erase(m_rows.begin() + row);
    rebuildIndex();
}

void AddressStore::clear()
{
    m_rows.clear();
    m_firstRow.clear();
}

int AddressStore::UpdatePeer(const QString &name, const QString &ip, const QString &state,
                             const QString &version, const QString &group)
{
    const bool avail = state == kStateAvail;
    int row = indexOf(ip);
    if (row >= 0) {
        AddressEntry &entry = m_rows[size_t(row)];
        if (avail) {
            entry.EntryName = name;
            // The address is the key it was found by, so the index stays valid.
            if (!version.isEmpty()) {
                entry.EntryVersion = version;
                entry.EntryGroup = group;
            }
        }
        entry.EntryState = state;
        return row;
    }
    if (!avail)
        return -1;
    AddressEntry entry;
    entry.EntryName = name;
    entry.EntryAddress = ip;
    entry.EntryState = state;
    if (!version.isEmpty()) {
        entry.EntryVersion = version;
        entry.EntryGroup = group;
    }
    append(entry);
    return size() - 1;
}

void AddressStore::rebuildIndex()
{
    m_firstRow.clear();
    m_firstRow.reserve(size());
    for (int row = 0; row < size(); ++row) {
        const QString &ip = m_rows[size_t(row)].EntryAddress;
        if (!m_firstRow.contains(ip))
            m_firstRow.insert(ip, row);
    }
}
