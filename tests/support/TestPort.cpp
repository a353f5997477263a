#include "support/TestPort.h"

#include <QFile>
#include <QRandomGenerator>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr quint16 kProtocolPort = 62410;
constexpr int kAttempts = 2000;

// Ports the kernel hands out for outgoing connections would clash with a test's own
// client sockets, so candidates come from below that range (or above it if it starts low).
std::pair<int, int> candidateRange()
{
    int low = 32768, high = 60999;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> bounds = range.readAll().simplified().split(' ');
        if (bounds.size() == 2) {
            low = bounds[0].toInt();
            high = bounds[1].toInt();
        }
    }
    if (low > 11000)
        return {10000, low - 1};
    if (high < 64535)
        return {high + 1, 65535};
    return {20000, 30000};
}

// Binds like the engine does: UDP exclusively, TCP with address reuse as QTcpServer sets it.
bool freeOn(int type, quint8 host, quint16 port)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (type == SOCK_STREAM) {
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl((127u << 24) | host);
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
                    (type != SOCK_STREAM || ::listen(fd, 1) == 0);
    ::close(fd);
    return ok;
}

bool freeEverywhere(quint16 port)
{
    for (int host = 1; host <= TestPort::kLastHost; ++host) {
        if (!freeOn(SOCK_DGRAM, quint8(host), port) || !freeOn(SOCK_STREAM, quint8(host), port))
            return false;
    }
    return true;
}

int claimSocket(quint16 port)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const std::string name = "zorvin-test-port-" + std::to_string(port);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size()); // leading NUL: abstract name
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

quint16 pick()
{
    const auto [low, high] = candidateRange();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(low, high + 1));
        if (port == kProtocolPort)
            continue;
        // Claimed first, checked second: two test processes never settle on one port.
        const int claim = claimSocket(port);
        if (claim < 0)
            continue;
        if (freeEverywhere(port))
            return port; // the claim stays open for the life of the process
        ::close(claim);
    }
    qFatal("TestPort: no free port in %d..%d after %d attempts", low, high, kAttempts);
}

} // namespace

quint16 TestPort::port()
{
    static const quint16 chosen = pick();
    return chosen;
}

bool TestPort::reserve(quint16 port)
{
    return claimSocket(port) >= 0;
}
