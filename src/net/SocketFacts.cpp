#include "net/SocketFacts.h"

#include <QHostAddress>

namespace SocketFacts {

int errorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::UnsupportedSocketOperationError:
        return kErrAddressFamily;
    case QAbstractSocket::AddressInUseError:
        return kErrAddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return kErrAddressNotAvailable;
    case QAbstractSocket::SocketAccessError:
        return kErrAccess;
    case QAbstractSocket::DatagramTooLargeError:
        return kErrMessageSize;
    case QAbstractSocket::SocketResourceError:
        return kErrNoBuffers;
    case QAbstractSocket::HostNotFoundError:
        return kErrHostNotFound;
    default:
        return kErrNetworkDown;
    }
}

QString ipv4Text(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace SocketFacts
