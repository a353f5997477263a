// Feeds arbitrary bytes to the address book reader; whatever it reads must survive one
// write and read back unchanged in the fields the file keeps.
#include "net/AddressBookFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<AddressEntry> rows =
        AddressBookFile::parse(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    std::vector<AddressEntry> cleaned;
    for (AddressEntry e : rows) {
        // What the writer keeps: cleaned text that CP932 can hold.
        for (QString *f : {&e.EntryName, &e.EntryAddress, &e.EntryType, &e.EntryGroup, &e.EntryFavourite})
            *f = AddressBookFile::cleanField(*f);
        cleaned.push_back(e);
    }
    const QByteArray once = AddressBookFile::serialize(cleaned);
    const QList<AddressEntry> back = AddressBookFile::parse(once);
    if (back.size() != qsizetype(cleaned.size()))
        __builtin_trap();
    // A second round trip must be stable byte for byte.
    const QByteArray twice = AddressBookFile::serialize(std::vector<AddressEntry>(back.begin(), back.end()));
    if (twice != once)
        __builtin_trap();
    return 0;
}
