// A peer that is only a UDP socket on the test's port: the test writes its datagrams and reads,
// in order and with their senders, every datagram that reaches it.
#pragma once

#include "base/AnsiCodec.h"
#include "support/TestPort.h"

#include <QNetworkDatagram>
#include <QObject>
#include <QStringList>
#include <QTest>
#include <QUdpSocket>

class RawPeer
{
  public:
    // Bound at `ip` when one is given (`bound` says whether that worked); send() writes to `to`.
    explicit RawPeer(const QString &ip = QString(), const QString &to = QString()) : m_to(to)
    {
        if (!ip.isEmpty())
            bound = socket.bind(QHostAddress(ip), TestPort::port());
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [this] { drain(); });
    }

    // The next datagram not taken yet; "<nothing>" when none came within `ms`.
    QByteArray next(int ms = 5000)
    {
        if (!QTest::qWaitFor([this] { return hasUnread(); }, ms))
            return QByteArray("<nothing>");
        return m_unread.takeFirst();
    }
    // Whether a datagram came that next() has not taken, including one still in the socket.
    bool hasUnread()
    {
        drain();
        return !m_unread.isEmpty();
    }
    // Waits until `count` datagrams came in all.
    bool waitFor(qsizetype count, int ms = 5000)
    {
        return QTest::qWaitFor(
            [this, count] {
                drain();
                return received.size() >= count;
            },
            ms);
    }

    void sendTo(const QString &ip, const QByteArray &bytes)
    {
        QCOMPARE(socket.writeDatagram(bytes, QHostAddress(ip), TestPort::port()), qint64(bytes.size()));
    }
    // A wire text, in CP932, to the address given at construction.
    void send(const QString &text) { sendTo(m_to, AnsiCodec::encode(text)); }

    QUdpSocket socket;
    bool bound = false;
    QList<QByteArray> received; // every datagram that came, in order
    QStringList senders;

  private:
    void drain()
    {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram d = socket.receiveDatagram();
            received.append(d.data());
            senders.append(d.senderAddress().toString());
            m_unread.append(d.data());
        }
    }

    QString m_to;
    QList<QByteArray> m_unread; // for next(), apart from `received`, which the test may clear
};
