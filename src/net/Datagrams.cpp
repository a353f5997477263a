#include "net/Datagrams.h"

#include "core/AnsiCodec.h"
#include "core/ModZorvin.h"
#include "net/Protocol.h"

#include <QNetworkDatagram>
#include <QVariant>

namespace {

// Socket error numbers of the classic socket layer, so that start-up and status texts
// show the numbers users and administrators know.
constexpr int kErrNotSocket = 10038;
constexpr int kErrMessageSize = 10040;
constexpr int kErrAccess = 10013;
constexpr int kErrAddressFamily = 10047;
constexpr int kErrAddressInUse = 10048;
constexpr int kErrAddressNotAvailable = 10049;
constexpr int kErrNetworkDown = 10050;
constexpr int kErrNoBuffers = 10055;
constexpr int kErrHostNotFound = 11001;

constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

QString ipText(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

Datagrams::Datagrams(ModZorvin &ctx, QObject *parent) : QObject(parent), m_ctx(ctx)
{
    connect(&WinsockUSv, &QUdpSocket::readyRead, this, &Datagrams::onWinsockUSvReadyRead);
}

Datagrams::~Datagrams() = default;

bool Datagrams::open(QString *errorText, int *errorNumber)
{
    close();
    QUdpSocket *failed = nullptr;
    if (!WinsockUSv.bind(m_ctx.net.bindAddress, m_ctx.net.port, QAbstractSocket::DontShareAddress))
        failed = &WinsockUSv;
    else if (!WinsockUCl.bind(m_ctx.net.bindAddress, 0))
        failed = &WinsockUCl;
    if (!failed) {
        // When a whole LAN answers one announcement, hundreds of datagrams arrive at once;
        // the default buffer holds a few hundred and presence never repeats a lost one.
        // The system caps the size at its own maximum.
        WinsockUSv.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);
        return true;
    }
    if (errorText)
        *errorText = failed->errorString();
    if (errorNumber)
        *errorNumber = Datagrams::errorNumber(failed->error());
    close();
    return false;
}

void Datagrams::close()
{
    WinsockUSv.close();
    WinsockUCl.close();
}

bool Datagrams::isOpen() const
{
    return WinsockUSv.state() == QAbstractSocket::BoundState &&
           WinsockUCl.state() == QAbstractSocket::BoundState;
}

int Datagrams::BCastMsgSend(const QString &datagram, const QString &destination)
{
    if (WinsockUCl.state() != QAbstractSocket::BoundState)
        return kErrNotSocket;
    const QString target = destination == Protocol::kBroadcast ? m_ctx.net.broadcastAddress : destination;
    // Destinations are address texts; host names are not looked up.
    const QHostAddress address(target);
    if (address.isNull())
        return kErrHostNotFound;
    const QString text = complete(datagram, m_ctx.settings.Name, m_ctx.LocalHostName, m_ctx.settings.Grp);
    const QByteArray bytes = AnsiCodec::encode(text);
    if (WinsockUCl.writeDatagram(bytes, address, m_ctx.net.port) != bytes.size())
        return errorNumber(WinsockUCl.error());
    return 0;
}

QString Datagrams::complete(const QString &datagram, const QString &name, const QString &hostName,
                            const QString &group)
{
    const QString displayName = name + QStringLiteral(" (") + hostName + QLatin1Char(')');
    const QStringView kind6 = QStringView(datagram).left(Protocol::kKindChars);
    const QStringView kind3 = QStringView(datagram).left(Protocol::kShortKindChars);
    if (kind6 == Protocol::kAnnounce || kind6 == Protocol::kLegacyAnswer || kind3 == Protocol::kShortAnswer)
        return datagram + displayName;
    if (kind3 == Protocol::kGroupAnswer) {
        return datagram + AnsiCodec::fixedWidth(displayName, Protocol::kGroupAnswerNameChars) +
               AnsiCodec::fixedWidth(group, Protocol::kGroupAnswerGroupChars);
    }
    return datagram;
}

int Datagrams::errorNumber(QAbstractSocket::SocketError error)
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
    case QAbstractSocket::NetworkError:
        return kErrNetworkDown;
    default:
        return kErrNetworkDown;
    }
}

void Datagrams::onWinsockUSvReadyRead()
{
    while (WinsockUSv.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = WinsockUSv.receiveDatagram();
        if (!datagram.isValid())
            break;
        emit datagramArrived(ipText(datagram.senderAddress()), datagram.data());
    }
}
