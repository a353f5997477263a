// What a host reading the wire would see of the test's traffic: every UDP datagram to the
// test's port that crosses the loopback interface, from a packet socket (tests run as root).
#pragma once

#include "support/TestPort.h"

#include <QByteArray>
#include <QList>
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

class LoopbackCapture
{
  public:
    LoopbackCapture()
    {
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
        if (m_fd < 0)
            return;
        const int bufferBytes = 8 * 1024 * 1024;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
        sockaddr_ll link{};
        link.sll_family = AF_PACKET;
        link.sll_protocol = htons(ETH_P_IP);
        link.sll_ifindex = int(if_nametoindex("lo"));
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&link), sizeof link) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LoopbackCapture()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LoopbackCapture(const LoopbackCapture &) = delete;
    LoopbackCapture &operator=(const LoopbackCapture &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // The payloads captured since the last call, in order; each datagram once (loopback
    // shows it leaving and arriving).
    QList<QByteArray> take()
    {
        QList<QByteArray> out;
        QByteArray packet(65536, '\0');
        for (;;) {
            sockaddr_ll from{};
            socklen_t fromSize = sizeof from;
            const ssize_t got = ::recvfrom(m_fd, packet.data(), size_t(packet.size()), 0,
                                           reinterpret_cast<sockaddr *>(&from), &fromSize);
            if (got <= 0)
                break;
            if (from.sll_pkttype == PACKET_OUTGOING)
                continue;
            const auto *ip = reinterpret_cast<const unsigned char *>(packet.constData());
            const int ipHeader = (ip[0] & 0x0F) * 4;
            if (got < ipHeader + 8 || ip[9] != IPPROTO_UDP)
                continue;
            const unsigned char *udp = ip + ipHeader;
            const int destinationPort = (udp[2] << 8) | udp[3];
            const int udpLength = (udp[4] << 8) | udp[5];
            if (destinationPort != TestPort::port() || udpLength < 8 || ipHeader + udpLength > got)
                continue;
            out.append(QByteArray(packet.constData() + ipHeader + 8, udpLength - 8));
        }
        return out;
    }

  private:
    int m_fd = -1;
};
