#include "net/LocalAddress.h"

#include "base/Protocol.h"

#include <QFile>
#include <QList>
#include <QNetworkInterface>

namespace LocalAddress {

QString defaultRouteInterface(QByteArrayView routeTable)
{
    constexpr uint kRouteUp = 0x1;
    QString best;
    uint bestMetric = 0;
    const QList<QByteArray> lines = routeTable.toByteArray().split('\n');
    // The first line holds the column captions.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].simplified().split(' ');
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
        if (f.size() < 8)
            continue;
        bool ok = false;
        const uint flags = f[3].toUInt(&ok, 16);
        if (!ok || !(flags & kRouteUp) || f[1] != "00000000" || f[7] != "00000000")
            continue;
        const uint metric = f[6].toUInt();
        if (best.isEmpty() || metric < bestMetric) {
            best = QString::fromLatin1(f[0]);
            bestMetric = metric;
        }
    }
    return best;
}

QString detect(const QHostAddress &bindAddress)
{
    if (bindAddress.protocol() == QAbstractSocket::IPv4Protocol && bindAddress != QHostAddress::AnyIPv4)
        return bindAddress.toString();
    QFile route(QStringLiteral("/proc/net/route"));
    if (route.open(QIODevice::ReadOnly)) {
        const QString name = defaultRouteInterface(route.readAll());
        if (!name.isEmpty()) {
            const QNetworkInterface iface = QNetworkInterface::interfaceFromName(name);
            for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    return entry.ip().toString();
            }
        }
    }
    return Protocol::kLoopback;
}

} // namespace LocalAddress
