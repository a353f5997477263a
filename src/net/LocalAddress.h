// Works out the address this copy is known by on the LAN: the bound address when one is
// configured, otherwise the IPv4 address of the interface that carries the default route.
#pragma once

#include <QByteArrayView>
#include <QHostAddress>
#include <QString>

namespace LocalAddress {

// The interface name of the best (lowest metric) default route in a /proc/net/route
// table, "" when the table has none.
QString defaultRouteInterface(QByteArrayView routeTable);

// The local address for a bind address: that address itself when it is a specific IPv4
// address, else the default route interface's first IPv4 address, else "127.0.0.1".
QString detect(const QHostAddress &bindAddress);

} // namespace LocalAddress
