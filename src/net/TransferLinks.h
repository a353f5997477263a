// What the transfer sender and receiver need from the rest of the engine: the archiver,
// the address store and the datagram socket. NetEngine fills these in.
#pragma once

#include "net/ArchiverQueue.h"
#include "net/UnlhaLibrary.h"

#include <QString>
#include <functional>

class TransferSealing;

struct TransferLinks
{
    // Null when the engine has no archiver; items then go unpacked and packed arrivals
    // are refused.
    ArchiverQueue *archiver = nullptr;
    // The protocol version and the display name recorded for an address ("" when unknown).
    std::function<QString(const QString &ip)> peerVersion;
    std::function<QString(const QString &ip)> peerName;
    std::function<int(const QString &datagram, const QString &destination)> sendDatagram;
    // Which transfers are sealed; null: all go plain.
    const TransferSealing *sealing = nullptr;
};

// A job that finds the archiver busy waits for it to become free, but gives up with the
// busy number as its error after this many refusals.
inline constexpr int kArchiverRetryLimit = 500;

// The first entry in use of a job or slot table whose `field` holds `value` (a socket
// index, an archiver command id), or -1; tables are searched in index order.
template <typename Entries, typename Field> int firstInUse(const Entries &entries, Field field, int value)
{
    for (int i = 0; i < int(entries.size()); ++i)
        if (entries[size_t(i)].inUse && entries[size_t(i)].*field == value)
            return i;
    return -1;
}

// How many entries of a job or slot table are in use.
template <typename Entries> int countInUse(const Entries &entries)
{
    int n = 0;
    for (const auto &e : entries)
        n += e.inUse ? 1 : 0;
    return n;
}

// The send jobs and receive slots wait for the archiver alike: each entry has inUse,
// archiverBusy (refused, waiting), busyRetries and archiverId (its running command).
namespace ArchiverWait {

// Whether an entry that got `result` keeps waiting: the archiver was busy and, when the
// refusal counts (a retry), fewer than the limit have been counted.
inline bool keepsWaiting(int result, bool counted, int &busyRetries)
{
    return result == UnlhaLibrary::kBusy && (!counted || ++busyRetries < kArchiverRetryLimit);
}

// The archiver is free: the waiting entries try again in table order through `start`.
// After one has started (or was refused again) the rest wait for the next finished.
template <typename Entries, typename Start>
void retryWaiting(const Entries &entries, const ArchiverQueue &archiver, Start start)
{
    for (int i = 0; i < int(entries.size()); ++i) {
        if (!entries[size_t(i)].inUse || !entries[size_t(i)].archiverBusy)
            continue;
        start(i);
        if (archiver.isBusy())
            return;
    }
}

} // namespace ArchiverWait
