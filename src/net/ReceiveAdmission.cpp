#include "net/ReceiveAdmission.h"

#include "net/ReceiveReports.h"
#include "net/SlotAdmission.h"
#include "net/SocketFacts.h"

#include <QTcpSocket>
#include <vector>

ReceiveAdmission::ReceiveAdmission(ReceiveTable &table, ReceiveHost &host, QObject *parent)
    : QObject(parent), m_table(table), m_host(host), m_server(this)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ReceiveAdmission::onNewConnection);
    connect(&m_server, &QTcpServer::acceptError, this, &ReceiveAdmission::onAcceptError);
    m_acceptPause.setSingleShot(true);
    m_acceptPause.setInterval(kAcceptPauseMs);
    connect(&m_acceptPause, &QTimer::timeout, &m_server, &QTcpServer::resumeAccepting);
}

bool ReceiveAdmission::listen(const QHostAddress &address, quint16 port, QString *errorText, int *errorNumber)
{
    // A burst of senders must not overflow the accept queue.
    m_server.setMaxPendingConnections(kRecvSlots + 64);
    m_server.setListenBacklogSize(kRecvSlots);
    if (m_server.listen(address, port))
        return true;
    if (errorText)
        *errorText = m_server.errorString();
    if (errorNumber)
        *errorNumber = SocketFacts::errorNumber(m_server.serverError());
    return false;
}

void ReceiveAdmission::close()
{
    m_acceptPause.stop();
    m_server.close();
}

bool ReceiveAdmission::admit(const QString &ip)
{
    std::vector<SlotAdmission::Holder> holders;
    holders.reserve(size_t(m_table.connections.size()));
    for (auto it = m_table.connections.cbegin(); it != m_table.connections.cend(); ++it) {
        const int slot = m_table.slotForSocket(it.key());
        const RecvSlot *held = slot >= 0 ? &m_table.slot(slot) : nullptr;
        // One that was answered already only waits for its sender to read the reply: it
        // gives way before any other.
        const bool answered = !held || held->errorReported;
        const bool waiting = held && held->state == 0 && !answered;
        holders.push_back({it.key(), (*it)->ip, answered ? -1 : (*it)->openedMs, !waiting && !answered,
                           waiting ? (*it)->socket->bytesAvailable() : 0});
    }
    const SlotAdmission::Decision d =
        SlotAdmission::decide(ip, kRecvSlots - m_table.slotsInUse(), kConnectionsPerAddress, holders);
    if (d.kind == SlotAdmission::Decision::Kind::Refuse)
        return false;
    if (d.kind == SlotAdmission::Decision::Kind::Evict) {
        // The connection that gives way is told why, as a newcomer would be.
        if (ReceiveConnection *victim = m_table.connection(d.victim);
            victim && victim->socket->state() == QAbstractSocket::ConnectedState) {
            if (QIODevice *to = victim->replyDevice())
                to->write(ReceiveReports::errorReply(ReceiveReports::kNoRoom));
            victim->socket->flush();
        }
        m_host.endReception(d.victim, false);
    }
    return true;
}

void ReceiveAdmission::turnAway(QTcpSocket *socket)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // Closed as soon as the reply is written, so refused connections hold no descriptor;
    // a peer that takes nothing at all loses it after the idle time.
    QTimer::singleShot(m_idleMs, socket, &QTcpSocket::abort);
    // Nothing of the connection was read: a sealed sender gets it in the clear, in place of
    // the handshake's answer.
    socket->write(ReceiveReports::errorReply(ReceiveReports::kNoRoom));
    socket->flush();
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

void ReceiveAdmission::onAcceptError()
{
    // The server stops accepting after a failed accept. Out of descriptors, the waiting
    // connection would fail again at once: rest a moment, so that transfers can end and
    // free theirs, then take it. Other failures (a connection reset before it was taken)
    // pass with the same short rest.
    m_server.pauseAccepting();
    m_acceptPause.start();
}

void ReceiveAdmission::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString ip = SocketFacts::ipv4Text(socket->peerAddress());
        do {
            if (m_socketCounter >= 32700)
                m_socketCounter = 0;
            ++m_socketCounter;
        } while (m_table.connections.contains(m_socketCounter));
        const int idx = m_socketCounter;
        // No slot for it, or the address holds its share already: the connection is
        // answered and not served.
        if (!admit(ip) || m_table.alloc(idx, ip, socket->peerPort()) >= kRecvSlots) {
            turnAway(socket);
            continue;
        }
        emit admitted(idx, socket, ip, m_table.clock.elapsed());
    }
}
