// The "captPK" datagram: which extension version a copy speaks, its public key and its
// host name. Built for sending and parsed from any bytes the network brings.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

struct KeyAnnouncement
{
    int version = 0;
    QByteArray publicKey; // Identity::kPublicKeyBytes
    QString hostName;

    // The datagram text, for Datagrams::BCastMsgSend (sent as given).
    QString text() const;
    // Nothing for anything that is not a well-formed announcement of a usable key: short,
    // a version that is not three digits, a key that is not canonical base64 of a valid
    // curve point, an empty or over-long host name. The curve check is most of the cost of
    // reading (tens of microseconds); a key for which `known` says true (one the reader
    // took before, such as the sender's pinned key) skips it.
    static std::optional<KeyAnnouncement> parse(const QString &datagram,
                                                const std::function<bool(const QByteArray &)> &known = {});
};
