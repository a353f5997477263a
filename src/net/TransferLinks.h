// What the transfer sender and receiver need from the rest of the engine: the archiver,
// the address store and the datagram socket. NetEngine fills these in.
#pragma once

#include <QString>
#include <functional>

class ArchiverQueue;

struct TransferLinks
{
    // Null when the engine has no archiver; items then go unpacked and packed arrivals
    // are refused.
    ArchiverQueue *archiver = nullptr;
    // The protocol version and the display name recorded for an address ("" when unknown).
    std::function<QString(const QString &ip)> peerVersion;
    std::function<QString(const QString &ip)> peerName;
    std::function<int(const QString &datagram, const QString &destination)> sendDatagram;
};

// A job that finds the archiver busy waits for it to become free, but gives up with the
// busy number as its error after this many refusals.
inline constexpr int kArchiverRetryLimit = 500;
