#include "net/NetDiagnosisReport.h"

#include "net/Identity.h"

#include "base/ModZorvin.h"
#include "net/NetDiagnostics.h"
#include "net/NetEngine.h"

#include <QNetworkInterface>
#include <algorithm>

namespace {

QString boundText(bool bound, const QString &error)
{
    if (bound)
        return QStringLiteral("bound");
    if (error.isEmpty())
        return QStringLiteral("not bound");
    return QStringLiteral("not bound (%1; another program may hold the port)").arg(error);
}

QString timeText(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

} // namespace

QString NetDiagnosisReport::interfaceOf(const QString &ip)
{
    const QHostAddress wanted(ip);
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            // Loopback test addresses are not assigned one by one but lie in lo's subnet.
            if (entry.ip() == wanted || (entry.ip().protocol() == QAbstractSocket::IPv4Protocol &&
                                         wanted.isInSubnet(entry.ip(), entry.prefixLength())))
                return iface.name();
        }
    }
    return QString();
}

QString NetDiagnosisReport::text(const NetEngine &engine)
{
    const ModZorvin &ctx = engine.context();
    const NetDiagnostics &diag = engine.diagnostics();
    QString out;
    const auto line = [&out](const QString &text) { out += text + QLatin1Char('\n'); };
    line(QStringLiteral("Address in use: %1").arg(ctx.LocalIp));
    const QString iface = interfaceOf(ctx.LocalIp);
    line(QStringLiteral("Interface: %1").arg(iface.isEmpty() ? QStringLiteral("(none)") : iface));
    line(QStringLiteral("Bind address: %1").arg(ctx.net.bindAddress.toString()));
    line(QStringLiteral("Broadcast address: %1").arg(ctx.net.broadcastAddress));
    line(QStringLiteral("UDP port %1: %2")
             .arg(ctx.net.port)
             .arg(boundText(engine.udpBound(), engine.udpBindError())));
    line(QStringLiteral("TCP port %1: %2")
             .arg(ctx.net.port)
             .arg(boundText(engine.tcpBound(), engine.tcpBindError())));
    const Identity &identity = engine.identity();
    line(QStringLiteral("Key fingerprint: %1")
             .arg(identity.isReady()                              ? identity.fingerprint()
                  : identity.state() == Identity::State::Missing ? QStringLiteral("(no key file yet)")
                                                                  : QStringLiteral("(key file unusable: unsealed)")));

    line(QString());
    line(QStringLiteral("Datagrams per kind (sent / received):"));
    const QHash<QString, NetDiagnostics::Counts> counts = diag.counts();
    QStringList kinds = counts.keys();
    std::sort(kinds.begin(), kinds.end());
    if (kinds.isEmpty())
        line(QStringLiteral("  (none)"));
    for (const QString &kind : kinds) {
        const NetDiagnostics::Counts c = counts.value(kind);
        line(QStringLiteral("  %1 %2 / %3").arg(kind, -8).arg(c.sent).arg(c.received) +
             (c.refused ? QStringLiteral(" (refused %1)").arg(c.refused) : QString()));
    }

    line(QString());
    line(QStringLiteral("Peers last heard:"));
    const QHash<QString, QDateTime> lastHeard = diag.lastHeard();
    QStringList peers = lastHeard.keys();
    std::sort(peers.begin(), peers.end());
    if (peers.isEmpty())
        line(QStringLiteral("  (none)"));
    for (const QString &peer : peers)
        line(QStringLiteral("  %1 %2").arg(peer, -16).arg(timeText(lastHeard.value(peer))));

    line(QString());
    const QList<NetDiagnostics::Record> history = diag.history();
    line(QStringLiteral("Last %1 datagrams:").arg(history.size()));
    for (const NetDiagnostics::Record &r : history) {
        line(QStringLiteral("  %1 %2 %3 %4 %5 bytes")
                 .arg(timeText(r.time()), r.direction == NetDiagnostics::Sent ? QStringLiteral("sent    ")
                                                                              : QStringLiteral("received"))
                 .arg(r.address, -16)
                 .arg(r.kind(), -6)
                 .arg(r.size));
    }
    return out;
}
