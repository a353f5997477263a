#include "net/TransferReceiver.h"

#include "base/AnsiCodec.h"
#include "base/ModZorvin.h"
#include "base/Protocol.h"
#include "net/SocketFacts.h"

#include <QHostInfo>
#include <QTcpSocket>

TransferReceiver::TransferReceiver(ModZorvin &ctx, EngineEvents &events, TransferLinks links, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_links(std::move(links)), m_reports(events, m_links.peerName, this),
      m_protocol(ctx, m_table, m_reports, *this, m_links.archiver, this),
      m_delivery(ctx, events, m_table, m_reports, *this, m_links.archiver, this),
      m_admission(m_table, *this, this)
{
    m_table.clock.start();
    m_protocol.setSealing(m_links.sealing);
    connect(&m_admission, &ReceiveAdmission::admitted, &m_protocol, &ReceiveProtocol::open);
    connect(&m_protocol, &ReceiveProtocol::arrivingUnpacked, &m_delivery, &ReceivedDelivery::onArrivingUnpacked);
}

TransferReceiver::~TransferReceiver()
{
    CloseAll();
}

bool TransferReceiver::Listen(QString *errorText, int *errorNumber)
{
    if (!m_admission.listen(m_ctx.net.bindAddress, m_ctx.net.port, errorText, errorNumber))
        return false;
    if (m_ctx.LocalIp.isEmpty()) {
        const QHostAddress a = m_admission.serverAddress();
        m_ctx.SetLocalIp(a == QHostAddress::AnyIPv4 || a == QHostAddress::Any ? QString()
                                                                              : SocketFacts::ipv4Text(a));
    }
    if (m_ctx.LocalHostName.isEmpty())
        m_ctx.LocalHostName = QHostInfo::localHostName();
    return true;
}

void TransferReceiver::CloseAll()
{
    m_reports.listDueCutLines(true);
    const QList<int> keys = m_table.connections.keys();
    for (int idx : keys)
        endReception(idx, false);
    m_table.reservations = DiskReservations();
    m_admission.close();
    m_delivery.closeAll();
}

void TransferReceiver::setIdleTimeout(int ms)
{
    m_protocol.setIdleTimeout(ms);
    m_admission.setIdleTimeout(ms);
}

void TransferReceiver::endReception(int socketIndex, bool abort)
{
    const int slot = m_table.slotForSocket(socketIndex);
    m_delivery.stop(socketIndex, slot);
    // A body cut short leaves no partial file.
    m_protocol.dropOutput(socketIndex, true);
    FreeRecvSlot(socketIndex, slot);
    if (ReceiveConnection *c = m_table.connection(socketIndex); c && abort)
        c->socket->abort();
    CloseRecvSocket(socketIndex);
}

int TransferReceiver::AllocRecvSlot(int socketIndex, const QString &ip, quint16 port)
{
    return m_table.alloc(socketIndex, ip, port);
}

void TransferReceiver::FreeRecvSlot(int socketIndex, int slot)
{
    if (slot < 0 || slot >= kRecvSlots || m_table.slot(slot).socketIndex != socketIndex)
        return;
    m_table.reservations.release(socketIndex);
    if (m_table.slot(slot).progressShown)
        m_reports.progress(slot, m_table.slot(slot), TransferProgress::State::Ended);
    m_table.slot(slot) = RecvSlot{};
}

void TransferReceiver::CloseRecvSocket(int socketIndex)
{
    m_protocol.close(socketIndex);
}

void TransferReceiver::ReportRecvError(int socketIndex, int code, int archiverResult)
{
    m_protocol.refuse(socketIndex, code, archiverResult);
}

void TransferReceiver::refuse(int socketIndex, int code, int archiverResult)
{
    m_protocol.refuse(socketIndex, code, archiverResult);
}

void TransferReceiver::delivered(int socketIndex, int slot)
{
    FreeRecvSlot(socketIndex, slot);
    CloseRecvSocket(socketIndex);
}

void TransferReceiver::bodyComplete(int socketIndex, int slot)
{
    m_delivery.bodyComplete(socketIndex, slot);
}

void TransferReceiver::RefuseArrivedImage()
{
    m_delivery.refuseArrivedImage();
}

void TransferReceiver::connectionClosed(int socketIndex)
{
    // Take whatever arrived before the hang-up; a complete transfer is finished by it.
    m_protocol.read(socketIndex);
    if (!m_table.connections.contains(socketIndex))
        return;
    // Everything had arrived and was not delivered yet: the reception failed. A hang-up
    // during the body is the sender's own failure (or its cancel) and is not listed.
    const int slot = m_table.slotForSocket(socketIndex);
    if (slot >= 0 && m_table.slot(slot).waitsForUnpack() && !m_table.slot(slot).errorReported)
        m_reports.addFailureLine(m_table.slot(slot), QStringLiteral("転送中に切断されました。"));
    // A body cut short: a cancel, when the sender's stop request follows.
    if (m_protocol.endsShort(socketIndex))
        m_reports.holdCutLine(m_table.slot(slot));
    endReception(socketIndex, false);
}

void TransferReceiver::connectionIdle(int socketIndex)
{
    if (m_protocol.endsShort(socketIndex)) {
        m_reports.holdCutLine(m_table.slot(m_table.slotForSocket(socketIndex)));
        m_reports.listDueCutLines(true);
    }
    endReception(socketIndex, true);
}

void TransferReceiver::onStopDatagram(const QString &ip, const QString &datagram)
{
    const QString archive =
        AnsiCodec::field(datagram, Protocol::kStopNameFrom, Protocol::kStopNameChars).trimmed();
    // The hang-up may have come first.
    if (m_reports.claimCutLine(ip, archive))
        return;
    for (int i = 0; i < kRecvSlots; ++i) {
        const RecvSlot &s = m_table.slot(i);
        if (!s.inUse || !ReceiveReports::stopMatches(ip, archive, s.senderIp, s.header.archiveName))
            continue;
        if (s.state == 1 && !s.errorReported)
            m_reports.addCancelLine(s);
        endReception(s.socketIndex, true);
        return;
    }
}
