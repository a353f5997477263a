// A man in the middle on loopback: it listens at one address on the test's port, forwards
// each connection to another address from a source address of the test's choice, and keeps
// every byte it carried in each direction, so a test can look at what crossed the wire. It
// can also flip one byte of what the connecting side sends, as a faulty or hostile link would.
#pragma once

#include "support/TestPort.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

class TcpRelay : public QObject
{
  public:
    // Listens at `listenIp`, connects to `targetIp` from `sourceIp`.
    TcpRelay(const QString &listenIp, const QString &targetIp, const QString &sourceIp)
        : m_target(targetIp), m_source(sourceIp)
    {
        m_server.listen(QHostAddress(listenIp), TestPort::port());
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *in = m_server.nextPendingConnection())
                relay(in);
        });
    }
    bool isListening() const { return m_server.isListening(); }

    // The byte at `offset` of what the connecting side sends is inverted on its way.
    void flipForwardByteAt(qint64 offset) { m_flipAt = offset; }

    QByteArray forward;  // from the connecting side
    QByteArray backward; // from the target
    int connections = 0;

  private:
    void relay(QTcpSocket *in)
    {
        ++connections;
        auto *out = new QTcpSocket(in);
        out->bind(QHostAddress(m_source), 0);
        // Bytes written while it connects wait in its buffer.
        connect(in, &QTcpSocket::readyRead, out, [this, in, out] {
            QByteArray bytes = in->readAll();
            const qint64 at = m_flipAt - (forward.size());
            if (at >= 0 && at < bytes.size())
                bytes[at] = char(~bytes[at]);
            forward += bytes;
            out->write(bytes);
        });
        connect(out, &QTcpSocket::readyRead, in, [this, in, out] {
            const QByteArray bytes = out->readAll();
            backward += bytes;
            in->write(bytes);
        });
        connect(in, &QTcpSocket::disconnected, out, [out] { out->disconnectFromHost(); });
        connect(out, &QTcpSocket::disconnected, in, [in] { in->disconnectFromHost(); });
        out->connectToHost(QHostAddress(m_target), TestPort::port());
    }

    QTcpServer m_server;
    QString m_target;
    QString m_source;
    qint64 m_flipAt = -1;
};
