// What a host on the wire sees of the test's traffic and what it can put there: every UDP
// datagram and TCP segment of the test's port at one interface, from a packet socket, and
// datagrams with any sender address, from a raw socket (tests run as root).
#pragma once

#include "support/TestPort.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <utility>

// One datagram as it crossed the interface.
struct WireDatagram
{
    QString from, to;
    QByteArray payload;
};

class WireCapture
{
  public:
    // At `interface` of the namespace the calling thread is in. Loopback shows every packet
    // leaving and arriving: it is kept once. The capture is read whenever the event loop
    // runs, so a long transfer does not overflow the socket.
    explicit WireCapture(const char *interface = "lo") : m_loopback(QByteArray(interface) == "lo")
    {
        // Packets leaving the host reach only sockets that take every protocol.
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
        if (m_fd < 0)
            return;
        const int bufferBytes = 32 * 1024 * 1024;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes);
        sockaddr_ll link{};
        link.sll_family = AF_PACKET;
        link.sll_protocol = htons(ETH_P_ALL);
        link.sll_ifindex = int(if_nametoindex(interface));
        if (link.sll_ifindex == 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&link), sizeof link) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { drain(); });
    }
    ~WireCapture()
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    WireCapture(const WireCapture &) = delete;
    WireCapture &operator=(const WireCapture &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // The datagrams to the test's port captured since the last call, in order.
    QList<WireDatagram> takeDatagrams()
    {
        drain();
        return std::exchange(m_datagrams, {});
    }
    // Only their payloads.
    QList<QByteArray> take()
    {
        QList<QByteArray> out;
        for (const WireDatagram &d : takeDatagrams())
            out.append(d.payload);
        return out;
    }
    // The payload of every TCP segment from or to the test's port since the last call, in
    // the order captured (both directions of every connection, one after the other).
    QByteArray takeStream()
    {
        drain();
        return std::exchange(m_stream, {});
    }

  private:
    void drain()
    {
        QByteArray packet(256 * 1024, '\0');
        for (;;) {
            sockaddr_ll from{};
            socklen_t fromSize = sizeof from;
            const ssize_t got = ::recvfrom(m_fd, packet.data(), size_t(packet.size()), 0,
                                           reinterpret_cast<sockaddr *>(&from), &fromSize);
            if (got <= 0)
                break;
            if (from.sll_protocol != htons(ETH_P_IP) || (m_loopback && from.sll_pkttype == PACKET_OUTGOING))
                continue;
            const auto *ip = reinterpret_cast<const unsigned char *>(packet.constData());
            const int ipHeader = (ip[0] & 0x0F) * 4;
            // A segment the system has not cut yet may say 0 here.
            const int total = (ip[2] << 8) | ip[3];
            const qsizetype length = total > 0 ? qMin<qsizetype>(total, got) : got;
            if (length < ipHeader + 8)
                continue;
            const unsigned char *transport = ip + ipHeader;
            const int sourcePort = (transport[0] << 8) | transport[1];
            const int destinationPort = (transport[2] << 8) | transport[3];
            const auto address = [ip](int at) {
                return QHostAddress(quint32(ip[at] << 24 | ip[at + 1] << 16 | ip[at + 2] << 8 | ip[at + 3]))
                    .toString();
            };
            if (ip[9] == IPPROTO_UDP) {
                const int udpLength = (transport[4] << 8) | transport[5];
                if (destinationPort != TestPort::port() || udpLength < 8 || ipHeader + udpLength > length)
                    continue;
                m_datagrams.append({address(12), address(16),
                                    QByteArray(packet.constData() + ipHeader + 8, udpLength - 8)});
            } else if (ip[9] == IPPROTO_TCP) {
                const int tcpHeader = (transport[12] >> 4) * 4;
                if ((sourcePort != TestPort::port() && destinationPort != TestPort::port()) ||
                    ipHeader + tcpHeader > length)
                    continue;
                m_stream.append(packet.constData() + ipHeader + tcpHeader, length - ipHeader - tcpHeader);
            }
        }
    }

    int m_fd = -1;
    bool m_loopback;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<WireDatagram> m_datagrams;
    QByteArray m_stream;
};

// Puts one UDP datagram for the test's port of `to` on the wire with `from` as its sender,
// whether or not that address is this host's: what any host on a LAN can do. False when
// the raw socket could not be made or the datagram not sent.
inline bool sendForgedDatagram(const QString &from, const QString &to, const QByteArray &payload)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (fd < 0)
        return false;
    QByteArray packet(20 + 8, '\0');
    auto *b = reinterpret_cast<unsigned char *>(packet.data());
    const auto put16 = [b](int at, quint32 value) {
        b[at] = uchar(value >> 8);
        b[at + 1] = uchar(value);
    };
    const auto put32 = [&put16](int at, quint32 value) {
        put16(at, value >> 16);
        put16(at + 2, value & 0xFFFF);
    };
    const int total = 28 + int(payload.size());
    b[0] = 0x45; // version 4, five words of header
    put16(2, quint32(total));
    b[8] = 64; // time to live
    b[9] = IPPROTO_UDP;
    put32(12, QHostAddress(from).toIPv4Address());
    put32(16, QHostAddress(to).toIPv4Address());
    put16(20, TestPort::port()); // from the port a copy sends its answers from
    put16(22, TestPort::port());
    put16(24, quint32(8 + payload.size()));
    // A UDP checksum of 0 means "none" over IPv4; the system fills the IP header's.
    packet += payload;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(QHostAddress(to).toIPv4Address());
    const ssize_t sent = ::sendto(fd, packet.constData(), size_t(packet.size()), 0,
                                  reinterpret_cast<sockaddr *>(&destination), sizeof destination);
    ::close(fd);
    return sent == total;
}
