#include "net/Datagrams.h"

#include "base/AnsiCodec.h"
#include "base/ModZorvin.h"
#include "base/Protocol.h"
#include "net/DatagramSeal.h"
#include "net/SocketFacts.h"

#include <QVariant>

namespace {

constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
// The largest payload of a UDP datagram over IPv4.
constexpr int kLargestDatagramBytes = 65507;

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
        *errorNumber = SocketFacts::errorNumber(failed->error());
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
        return SocketFacts::kErrNotSocket;
    const QString target = destination == Protocol::kBroadcast ? m_ctx.net.broadcastAddress : destination;
    // Destinations are address texts; host names are not looked up.
    const QHostAddress address(target);
    if (address.isNull())
        return SocketFacts::kErrHostNotFound;
    QString text = complete(datagram, m_ctx.settings.Name, m_ctx.LocalHostName, m_ctx.settings.Grp);
    if (m_seal) {
        text = m_seal->outgoing(text, target);
        // Never plain in its place: the peer would refuse it, and its text would be on the wire.
        if (text.isEmpty())
            return SocketFacts::kErrHostNotFound;
    }
    const QByteArray bytes = AnsiCodec::encode(text);
    if (WinsockUCl.writeDatagram(bytes, address, m_ctx.net.port) != bytes.size())
        return SocketFacts::errorNumber(WinsockUCl.error());
    m_diagnostics.record(NetDiagnostics::Sent, target, bytes);
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

void Datagrams::onWinsockUSvReadyRead()
{
    // Each datagram is read at once into a buffer that holds the largest one: asking for its
    // size first would cost another system call per datagram, a third of the receiving.
    if (m_readBuffer.isEmpty())
        m_readBuffer.resize(kLargestDatagramBytes);
    while (WinsockUSv.hasPendingDatagrams()) {
        QHostAddress sender;
        const qint64 size = WinsockUSv.readDatagram(m_readBuffer.data(), m_readBuffer.size(), &sender);
        if (size < 0)
            break;
        const QByteArray bytes(m_readBuffer.constData(), size);
        const QString ip = SocketFacts::ipv4Text(sender);
        m_diagnostics.record(NetDiagnostics::Received, ip, bytes);
        emit datagramArrived(ip, bytes);
    }
}
