// What the engine's sockets report, in the form the rest of the program uses: the dotted
// IPv4 text of an address, and the classic socket error numbers that start-up and status
// texts show (the numbers users and administrators know).
#pragma once

#include <QAbstractSocket>
#include <QString>

class QHostAddress;

namespace SocketFacts {

inline constexpr int kErrAccess = 10013;
inline constexpr int kErrNotSocket = 10038;
inline constexpr int kErrMessageSize = 10040;
inline constexpr int kErrAddressFamily = 10047;
inline constexpr int kErrAddressInUse = 10048;
inline constexpr int kErrAddressNotAvailable = 10049;
inline constexpr int kErrNetworkDown = 10050;
inline constexpr int kErrNoBuffers = 10055;
inline constexpr int kErrHostNotFound = 11001;

// The error number for a Qt socket error: 10047 for a missing address family, 10048 for
// a port held by another program, 10013 for a port the user may not take, ...
int errorNumber(QAbstractSocket::SocketError error);

// "192.168.1.10" for an IPv4 address, also when it arrives IPv4-mapped ("::ffff:...")
// on a dual-stack socket; any other address in Qt's own text form.
QString ipv4Text(const QHostAddress &address);

} // namespace SocketFacts
