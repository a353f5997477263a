// Presence at scale: one engine on 127.0.0.2 hears announcements from 1,000 simulated
// peers (each on its own 127.1.x.y address) and answers each; then the cost of one
// UpdatePeer and one lookup in stores of 100, 1,000 and 10,000 rows. Uses port 62411 so that it
// can run beside the tests.
#include "address/AddressStore.h"
#include "core/EngineHost.h"
#include "core/ModZorvin.h"
#include "net/NetEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSet>
#include <QTextStream>
#include <QUdpSocket>

#include <sys/resource.h>

#include <memory>
#include <vector>

namespace {

constexpr int kPeers = 1000;
constexpr int kWindow = 64; // announces in flight, so the engine's receive buffer never overflows
constexpr quint16 kBenchPort = 62411;

class CountingHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &, int) override { return MsgBox::IdOk; }
    void PeerUpdated(const QString &, const QString &ip, const QString &state, const QString &,
                     const QString &) override
    {
        if (state == kStateAvail)
            avail.insert(ip);
    }
    QSet<QString> avail;
};

QString peerAddress(int i)
{
    return QStringLiteral("127.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
}

void raiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void timeStore(QTextStream &out, int rows)
{
    AddressStore store;
    for (int i = 0; i < rows; ++i)
        store.UpdatePeer(QStringLiteral("peer %1 (sim)").arg(i),
                         QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256),
                         kStateAvail, QStringLiteral("266"), QStringLiteral("g"));
    std::vector<QString> ips;
    for (int i = 0; i < rows; ++i)
        ips.push_back(store.at(i).EntryAddress);
    const QString name = QStringLiteral("renamed (sim)");
    constexpr int kCalls = 200000;
    QElapsedTimer timer;
    timer.start();
    qint64 sink = 0;
    for (int n = 0; n < kCalls; ++n)
        sink += store.UpdatePeer(name, ips[size_t((n * 7919) % rows)], kStateAvail, QString(), QString());
    const double updateNs = double(timer.nsecsElapsed()) / kCalls;
    timer.restart();
    for (int n = 0; n < kCalls; ++n)
        sink += store.FindAddressByIp(ips[size_t((n * 7919) % rows)]).EntryName.size();
    const double findNs = double(timer.nsecsElapsed()) / kCalls;
    out << QStringLiteral("store of %1 rows: UpdatePeer %2 ns, FindAddressByIp %3 ns (checksum %4)\n")
               .arg(rows, 6)
               .arg(updateNs, 0, 'f', 1)
               .arg(findNs, 0, 'f', 1)
               .arg(sink);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    raiseFileLimit();

    ModZorvin ctx;
    ctx.net.bindAddress = QHostAddress(QStringLiteral("127.0.0.2"));
    ctx.net.broadcastAddress = QStringLiteral("127.0.0.2");
    ctx.net.port = kBenchPort;
    ctx.settings.Name = QStringLiteral("bench");
    ctx.settings.Grp = QStringLiteral("group");
    CountingHost host;
    NetEngine engine(ctx, host);
    QString error;
    int number = 0;
    if (!engine.OpenSockets(&error, &number)) {
        out << "engine: " << number << ' ' << error << Qt::endl;
        return 1;
    }

    std::vector<std::unique_ptr<QUdpSocket>> peers;
    int answers = 0, answered = 0, inFlight = 0;
    for (int i = 0; i < kPeers; ++i) {
        auto socket = std::make_unique<QUdpSocket>();
        if (!socket->bind(QHostAddress(peerAddress(i)), kBenchPort)) {
            out << "peer " << peerAddress(i) << ": " << socket->errorString() << Qt::endl;
            return 1;
        }
        QUdpSocket *s = socket.get();
        QObject::connect(s, &QUdpSocket::readyRead, s, [s, &answers, &answered, &inFlight] {
            while (s->hasPendingDatagrams()) {
                s->receiveDatagram();
                // The third answer ("cBR266") ends this peer's exchange.
                if (++answers % 3 == 0) {
                    ++answered;
                    --inFlight;
                }
            }
        });
        peers.push_back(std::move(socket));
    }

    QElapsedTimer timer;
    timer.start();
    qint64 allAvailMs = -1;
    int next = 0;
    while ((answered < kPeers || allAvailMs < 0) && timer.elapsed() < 60000) {
        while (next < kPeers && inFlight < kWindow) {
            peers[size_t(next)]->writeDatagram("captBCpeer " + QByteArray::number(next) + " (sim)",
                                               ctx.net.bindAddress, kBenchPort);
            ++next;
            ++inFlight;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (allAvailMs < 0 && host.avail.size() == kPeers)
            allAvailMs = timer.elapsed();
    }
    const qint64 answeredMs = timer.elapsed();

    int availRows = 0;
    for (const AddressEntry &e : engine.addresses().rows())
        availRows += e.isAvail() ? 1 : 0;
    out << QStringLiteral(
               "%1 peers announced: %2 rows avail after %3 ms; %4 of %5 answers received after %6 ms\n")
               .arg(kPeers)
               .arg(availRows)
               .arg(allAvailMs)
               .arg(answers)
               .arg(kPeers * 3)
               .arg(answeredMs);
    timeStore(out, 100);
    timeStore(out, 1000);
    timeStore(out, 10000);
    return availRows == kPeers && answers == kPeers * 3 ? 0 : 1;
}
