// One row of the address store: a peer known by hand or learnt from presence datagrams.
#pragma once

#include <QString>

struct AddressEntry
{
    QString EntryName;      // display name: Name + " (" + HostName + ")"
    QString EntryAddress;   // dotted IPv4 address, the key of every lookup
    QString EntryType;      // "", "M" (manual), "T" (auto-transfer target) or "MT"
    QString EntryState;     // "avail" or "unavail"
    QString EntryVersion;   // protocol version the peer reported, "" when none
    QString EntryGroup;     // the peer's group name
    QString EntryFavourite; // "1" for a favourite, else ""

    bool isManual() const { return EntryType.contains(QLatin1Char('M')); }
    bool isAutoTransferTarget() const { return EntryType.contains(QLatin1Char('T')); }
    bool isAvail() const { return EntryState == QLatin1String("avail"); }
};

// A name and a group are kept at most as wide as a presence answer carries them: a peer's
// announcement has no width of its own, and one peer must not grow the store, the
// address book file and every later start without bound.
inline constexpr int kEntryNameChars = 150;
inline constexpr int kEntryGroupChars = 50;

inline const QString kStateAvail = QStringLiteral("avail");
inline const QString kStateUnavail = QStringLiteral("unavail");
