// What the transfer sender and receiver need from the rest of the engine: the archiver,
// the address store and the datagram socket. NetEngine fills these in.
#pragma once

#include <QString>
#include <functional>

struct TransferLinks
{
    // RunArchiver: 0 success, 32799 busy, any other value an error number.
    std::function<int(const QString &archivePath, const QString &secondPath, bool pack)> runArchiver;
    // The protocol version and the display name recorded for an address ("" when unknown).
    std::function<QString(const QString &ip)> peerVersion;
    std::function<QString(const QString &ip)> peerName;
    std::function<int(const QString &datagram, const QString &destination)> sendDatagram;
};

inline constexpr int kArchiverBusy = 32799;
inline constexpr int kArchiverRetryLimit = 500;
