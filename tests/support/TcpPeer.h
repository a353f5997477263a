// A peer on the test's port that is only sockets: a listening TCP socket that takes the
// transfers sent to it, and a datagram socket at the same address for what comes beside them.
#pragma once

#include "support/TestPort.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

class TcpPeer
{
  public:
    // `reads`: keeps what arrives in `bytes`; else leaves it unread, so that the sender's
    // buffers fill and its job stays on the wire. `reply` goes out once on each connection
    // whose 256-byte transfer header is in (a receiver's refusal, say).
    explicit TcpPeer(const QString &ip, bool reads = true, const QByteArray &reply = QByteArray())
        : address(ip)
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, reads, reply] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                connection = s;
                connections.append(s);
                if (!reads)
                    continue;
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, reply] {
                    const qint64 before = s->property("read").toLongLong();
                    const QByteArray chunk = s->readAll();
                    s->setProperty("read", before + chunk.size());
                    bytes += chunk;
                    if (!reply.isEmpty() && before < 256 && before + chunk.size() >= 256)
                        s->write(reply);
                });
            }
        });
    }
    // Listens and binds at its address; false when either is taken.
    bool start()
    {
        return server.listen(QHostAddress(address), TestPort::port()) &&
               probe.bind(QHostAddress(address), TestPort::port());
    }

    QString address;
    QTcpServer server;
    QUdpSocket probe;
    QList<QPointer<QTcpSocket>> connections; // in the order they came
    QPointer<QTcpSocket> connection;         // the latest
    QByteArray bytes;                        // what every connection sent, as read
};
