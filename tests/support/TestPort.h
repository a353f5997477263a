// The one port a test or benchmark process gives all its engines and probe sockets, so
// that it never meets a real copy on the protocol port nor another test run.
#pragma once

#include <QtGlobal>

namespace TestPort {

// The loopback addresses 127.0.0.1 … 127.0.0.<kLastHost> the tests bind; port() is free on each.
inline constexpr int kLastHost = 12;

// The same port for the whole process. The first call picks a port below the kernel's
// range for outgoing connections that is free for both TCP and UDP on every address above,
// and keeps it reserved against other test processes until this one ends.
quint16 port();

// Claims `port` for this process among test processes; false when another one holds it.
// The claim is an abstract local socket, so it needs no file and ends with the process.
bool reserve(quint16 port);

} // namespace TestPort
