#include "net/SocketFacts.h"

#include <QHostAddress>

#include <utility>

namespace SocketFacts {

int errorNumber(QAbstractSocket::SocketError error)
{
    static constexpr std::pair<QAbstractSocket::SocketError, int> kNumbers[] = {
        {QAbstractSocket::UnsupportedSocketOperationError, kErrAddressFamily},
        {QAbstractSocket::AddressInUseError, kErrAddressInUse},
        {QAbstractSocket::SocketAddressNotAvailableError, kErrAddressNotAvailable},
        {QAbstractSocket::SocketAccessError, kErrAccess},
        {QAbstractSocket::DatagramTooLargeError, kErrMessageSize},
        {QAbstractSocket::SocketResourceError, kErrNoBuffers},
        {QAbstractSocket::HostNotFoundError, kErrHostNotFound},
    };
    for (const auto &[qtError, number] : kNumbers)
        if (qtError == error)
            return number;
    return kErrNetworkDown;
}

QString ipv4Text(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace SocketFacts
