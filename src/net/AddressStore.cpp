#include "net/AddressStore.h"

#include "base/Protocol.h"

static_assert(kEntryNameChars == Protocol::kGroupAnswerNameChars &&
                  kEntryGroupChars == Protocol::kGroupAnswerGroupChars,
              "names and groups are kept at the widths of the group answer");

AddressStore::AddressStore(QObject *parent) : QObject(parent) {}

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
    emit rowAboutToBeInserted(size());
    m_rows.push_back(entry);
    // An earlier row with the same address keeps winning.
    m_firstRow.insert(entry.EntryAddress, m_firstRow.value(entry.EntryAddress, size() - 1));
    emit rowInserted(size() - 1);
}

void AddressStore::replace(int row, const AddressEntry &entry)
{
    const bool sameAddress = m_rows[size_t(row)].EntryAddress == entry.EntryAddress;
    m_rows[size_t(row)] = entry;
    if (!sameAddress)
        rebuildIndex();
    emit rowsChanged(row, row);
}

void AddressStore::removeAt(int row)
{
    emit rowAboutToBeRemoved(row);
    m_rows.erase(m_rows.begin() + row);
    rebuildIndex();
    emit rowRemoved(row);
}

void AddressStore::clear()
{
    emit aboutToBeCleared();
    m_rows.clear();
    m_firstRow.clear();
    emit cleared();
}

void AddressStore::markAllUnavail()
{
    for (AddressEntry &entry : m_rows)
        entry.EntryState = kStateUnavail;
    if (!m_rows.empty())
        emit rowsChanged(0, size() - 1);
}

int AddressStore::UpdatePeer(const QString &fullName, const QString &ip, const QString &state,
                             const QString &version, const QString &fullGroup)
{
    const QString name = fullName.left(kEntryNameChars);
    const QString group = fullGroup.left(kEntryGroupChars);
    const bool avail = state == kStateAvail;
    int row = indexOf(ip);
    if (row >= 0) {
        AddressEntry &entry = m_rows[size_t(row)];
        // Presence repeats itself a lot; only a real change reaches the windows.
        bool changed = false;
        const auto set = [&changed](QString &field, const QString &value) {
            if (field != value) {
                field = value;
                changed = true;
            }
        };
        if (avail) {
            set(entry.EntryName, name);
            // The address is the key it was found by, so the index stays valid.
            if (!version.isEmpty()) {
                set(entry.EntryVersion, version);
                set(entry.EntryGroup, group);
            }
        }
        set(entry.EntryState, state);
        if (changed)
            emit rowsChanged(row, row);
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
