// Presence at scale: one engine on 127.0.0.2 hears announcements from 1,000 simulated
// peers (each on its own 127.1.x.y address) and answers each; the same with a keyed engine
// and keyed peers (each announcing its key after its announcement), against the plain round;
// then the cost of one UpdatePeer and one lookup in stores of 100, 1,000 and 10,000 rows. Runs on a free port of
// its own, so it can run beside the tests and beside a real copy.
#include "net/AddressStore.h"
#include "base/AnsiCodec.h"
#include "net/Datagrams.h"
#include "base/ModZorvin.h"
#include "base/Protocol.h"
#include "net/Identity.h"
#include "net/KeyAnnouncement.h"
#include "net/NetDiagnostics.h"
#include "net/NetEngine.h"
#include "net/PeerKeys.h"
#include "support/IsolatedHome.h"
#include "support/RecordingHost.h"
#include "support/TestPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSet>
#include <QTextStream>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int kPeers = 1000;
constexpr int kWindow = 64; // announces in flight in the paced round

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

struct Counters
{
    int answers = 0;
    int answered = 0;
    int inFlight = 0;
    // What ends one peer's exchange: three presence answers, and the key after them from
    // a keyed engine.
    int perPeer = 3;
};

// The keyed side of a round: the engine's data folder (its key pair, the pins it keeps
// between rounds) and each peer's "captPK", sent right after its announcement.
struct Keyed
{
    QString dataDir;
    std::vector<QByteArray> announcements;
};

// The engine a round measures, on 127.0.0.2, and the peers it shows as available.
struct BenchEngine
{
    BenchEngine()
    {
        ctx.net.bindAddress = QHostAddress(QStringLiteral("127.0.0.2"));
        ctx.net.broadcastAddress = QStringLiteral("127.0.0.2");
        ctx.net.port = TestPort::port();
        ctx.settings.Name = QStringLiteral("bench");
        ctx.settings.Grp = QStringLiteral("group");
        QObject::connect(&engine.events(), &EngineEvents::peerUpdating, &engine.events(),
                         [this](const QString &, const QString &ip, const QString &state) {
                             if (state == kStateAvail)
                                 avail.insert(ip);
                         });
    }
    // Its sockets, and with `keyed` its key pair and the pins kept from earlier rounds.
    bool open(QTextStream &out, const Keyed *keyed)
    {
        if (keyed) {
            ctx.ProgramDir = keyed->dataDir + u'/';
            engine.LoadIdentity(true);
            if (!engine.identity().isReady()) {
                out << "engine key pair: " << engine.identity().problem() << Qt::endl;
                return false;
            }
        }
        QString error;
        int number = 0;
        if (!engine.OpenSockets(&error, &number)) {
            out << "engine: " << number << ' ' << error << Qt::endl;
            return false;
        }
        return true;
    }

    ModZorvin ctx;
    RecordingHost host;
    NetEngine engine{ctx, host};
    QSet<QString> avail;
};

// One engine hears `kPeers` announces with at most `window` of them unanswered at a time
// (kPeers = all at once, as when a whole LAN answers one broadcast). Returns true when
// every peer became "avail" and got all its answers.
bool announceRound(QTextStream &out, std::vector<std::unique_ptr<QUdpSocket>> &peers, Counters &c, int window,
                   bool diagnostics = true, qint64 *elapsedMs = nullptr, const Keyed *keyed = nullptr)
{
    BenchEngine bench;
    bench.engine.diagnostics().setEnabled(diagnostics);
    if (!bench.open(out, keyed))
        return false;
    ModZorvin &ctx = bench.ctx;
    NetEngine &engine = bench.engine;
    const QSet<QString> &avail = bench.avail;
    c = Counters();
    c.perPeer = keyed ? 4 : 3;

    QElapsedTimer timer, sinceProgress;
    timer.start();
    sinceProgress.start();
    qint64 allAvailMs = -1;
    int next = 0, lastAnswers = 0;
    // Lost datagrams are not repeated (presence has no retry), so a round ends one second
    // after the last progress.
    while ((c.answered < kPeers || allAvailMs < 0) && sinceProgress.elapsed() < 1000) {
        while (next < kPeers && c.inFlight < window) {
            peers[size_t(next)]->writeDatagram("captBCpeer " + QByteArray::number(next) + " (sim)",
                                               ctx.net.bindAddress, TestPort::port());
            if (keyed)
                peers[size_t(next)]->writeDatagram(keyed->announcements[size_t(next)], ctx.net.bindAddress,
                                                   TestPort::port());
            ++next;
            ++c.inFlight;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (c.answers != lastAnswers) {
            lastAnswers = c.answers;
            sinceProgress.restart();
        }
        if (allAvailMs < 0 && avail.size() == kPeers)
            allAvailMs = timer.elapsed();
    }
    const qint64 answeredMs = timer.elapsed() - (c.answered < kPeers ? 1000 : 0);
    if (elapsedMs)
        *elapsedMs = answeredMs;

    int availRows = 0;
    for (const AddressEntry &e : engine.addresses().rows())
        availRows += e.isAvail() ? 1 : 0;
    if (keyed && engine.peerKeys().size() != kPeers)
        out << "keyed engine pinned " << engine.peerKeys().size() << " keys\n";
    out << (diagnostics ? "" : "(diagnostics off) ") << (keyed ? "(keyed) " : "")
        << QStringLiteral("%1 peers, %2 in flight: %3 rows avail (all after %4 ms); %5 of %6 answers "
                          "received after %7 ms\n")
               .arg(kPeers)
               .arg(window, 4)
               .arg(availRows)
               .arg(allAvailMs)
               .arg(c.answers)
               .arg(kPeers * c.perPeer)
               .arg(answeredMs);
    return availRows == kPeers && c.answers == kPeers * c.perPeer &&
           (!keyed || engine.peerKeys().size() == kPeers);
}

qint64 median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct AnswersFigures
{
    qint64 wallMs = -1;
    double engineCpuMs = 0; // the engine's thread alone
};

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// The other way round: every peer answers the engine's announcement at once with its three
// answers and, keyed, its key after them. The answers leave from a thread of their own, so
// that the CPU time of the engine's thread is what taking them in costs the engine.
AnswersFigures answersRound(QTextStream &out, std::vector<std::unique_ptr<QUdpSocket>> &peers,
                            const Keyed *keyed)
{
    AnswersFigures figures;
    BenchEngine bench;
    if (!bench.open(out, keyed))
        return figures;
    ModZorvin &ctx = bench.ctx;
    NetEngine &engine = bench.engine;
    const QSet<QString> &avail = bench.avail;
    std::vector<QByteArray> datagrams;
    std::vector<int> from;
    const QString version = QString::fromLatin1(kProtocolVersion);
    for (int i = 0; i < kPeers; ++i) {
        const QString name = QStringLiteral("peer %1").arg(i), hostName = QStringLiteral("peerhost%1").arg(i);
        for (const QString &kind : {Protocol::kGroupAnswer + version, QString(Protocol::kLegacyAnswer),
                                    Protocol::kShortAnswer + version}) {
            datagrams.push_back(AnsiCodec::encode(Datagrams::complete(kind, name, hostName, QStringLiteral("g"))));
            from.push_back(peers[size_t(i)]->socketDescriptor());
        }
        if (keyed) {
            datagrams.push_back(keyed->announcements[size_t(i)]);
            from.push_back(peers[size_t(i)]->socketDescriptor());
        }
    }
    sockaddr_in engineAddress{};
    engineAddress.sin_family = AF_INET;
    engineAddress.sin_port = htons(TestPort::port());
    engineAddress.sin_addr.s_addr = htonl(ctx.net.bindAddress.toIPv4Address());

    const auto done = [&] { return avail.size() == kPeers && (!keyed || engine.peerKeys().size() == kPeers); };
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = threadCpuMs();
    std::thread answers([&] {
        for (size_t n = 0; n < datagrams.size(); ++n)
            ::sendto(from[n], datagrams[n].constData(), size_t(datagrams[n].size()), 0,
                     reinterpret_cast<const sockaddr *>(&engineAddress), sizeof engineAddress);
    });
    while (!done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    figures.engineCpuMs = threadCpuMs() - cpuBefore;
    figures.wallMs = done() ? timer.elapsed() : -1;
    answers.join();
    out << (keyed ? "(keyed) " : "")
        << QStringLiteral("%1 peers answering at once: %2 rows avail, %3 keys pinned after %4 ms; engine CPU %5 ms\n")
               .arg(kPeers)
               .arg(avail.size())
               .arg(engine.peerKeys().size())
               .arg(figures.wallMs)
               .arg(figures.engineCpuMs, 0, 'f', 1);
    return figures;
}

// Copies of this version announce their key beside every presence group: the windowed
// round with keyed peers whose keys the engine has pinned, with keys it sees for the first
// time (each pin written to zorvinkeys.dat), and today's plain round, alternating.
bool compareKeyed(QTextStream &out, std::vector<std::unique_ptr<QUdpSocket>> &peers, Counters &c)
{
    Keyed keyed;
    const QString folder = QDir::tempPath() + QStringLiteral("/bench-presence-keys");
    QDir(folder).removeRecursively();
    keyed.dataDir = folder + QStringLiteral("/engine");
    QDir().mkpath(keyed.dataDir);
    for (int i = 0; i < kPeers; ++i) {
        // Each peer's own key pair, made the way every copy makes its own.
        Identity identity;
        identity.load(folder + QStringLiteral("/peer%1.key").arg(i), true);
        if (!identity.isReady()) {
            out << "peer key pair: " << identity.problem() << Qt::endl;
            return false;
        }
        const KeyAnnouncement a{Protocol::kExtensionVersion, identity.publicKey(),
                                QStringLiteral("peerhost%1").arg(i)};
        keyed.announcements.push_back(AnsiCodec::encode(a.text()));
    }
    const QString pins = keyed.dataDir + QStringLiteral("/zorvinkeys.dat");

    // What reading one announcement costs, apart from the sockets.
    QElapsedTimer timer;
    timer.start();
    int parsed = 0;
    for (const QByteArray &datagram : keyed.announcements)
        parsed += KeyAnnouncement::parse(AnsiCodec::decode(datagram)) ? 1 : 0;
    const double firstUs = double(timer.nsecsElapsed()) / 1000.0 / double(kPeers);
    timer.restart();
    const auto seenBefore = [](const QByteArray &) { return true; };
    for (const QByteArray &datagram : keyed.announcements)
        parsed += KeyAnnouncement::parse(AnsiCodec::decode(datagram), seenBefore) ? 1 : 0;
    out << QStringLiteral("one captPK read: %1 us, of a pinned key %2 us (%3 of %4 valid)\n")
               .arg(firstUs, 0, 'f', 2)
               .arg(double(timer.nsecsElapsed()) / 1000.0 / double(kPeers), 0, 'f', 2)
               .arg(parsed)
               .arg(2 * kPeers);

    constexpr int kRounds = 5;
    bool ok = true;
    std::vector<qint64> plain, pinned, firstSight;
    for (int i = 0; i < kRounds; ++i) {
        qint64 ms = 0;
        ok &= announceRound(out, peers, c, kWindow, true, &ms);
        plain.push_back(ms);
        QFile::remove(pins);
        ok &= announceRound(out, peers, c, kWindow, true, &ms, &keyed);
        firstSight.push_back(ms);
        ok &= announceRound(out, peers, c, kWindow, true, &ms, &keyed);
        pinned.push_back(ms);
    }
    const qint64 plainMs = median(plain), pinnedMs = median(pinned), firstMs = median(firstSight);
    const auto ratio = [plainMs](qint64 ms) {
        return QString::number(plainMs > 0 ? double(ms) / double(plainMs) : 0.0, 'f', 3);
    };
    out << QStringLiteral("presence, %1 peers, median of %2 rounds: plain %3 ms; keyed and pinned %4 ms "
                          "(ratio %5, goal <= 1.100); keyed, first sight %6 ms (ratio %7)\n")
               .arg(kPeers)
               .arg(kRounds)
               .arg(plainMs)
               .arg(pinnedMs)
               .arg(ratio(pinnedMs))
               .arg(firstMs)
               .arg(ratio(firstMs));
    // The answers to the engine's own announcement, taken in with keys already pinned.
    std::vector<qint64> plainWall, keyedWall;
    std::vector<double> plainCpu, keyedCpu;
    for (int i = 0; i < kRounds; ++i) {
        const AnswersFigures p = answersRound(out, peers, nullptr);
        const AnswersFigures k = answersRound(out, peers, &keyed);
        ok &= p.wallMs >= 0 && k.wallMs >= 0;
        plainWall.push_back(p.wallMs);
        keyedWall.push_back(k.wallMs);
        plainCpu.push_back(p.engineCpuMs);
        keyedCpu.push_back(k.engineCpuMs);
    }
    std::sort(plainCpu.begin(), plainCpu.end());
    std::sort(keyedCpu.begin(), keyedCpu.end());
    const double plainCpuMs = plainCpu[kRounds / 2], keyedCpuMs = keyedCpu[kRounds / 2];
    out << QStringLiteral("answers to the engine's announcement, median of %1 rounds: plain %2 ms (engine CPU %3 ms); "
                          "keyed and pinned %4 ms (engine CPU %5 ms, ratio %6)\n")
               .arg(kRounds)
               .arg(median(plainWall))
               .arg(plainCpuMs, 0, 'f', 1)
               .arg(median(keyedWall))
               .arg(keyedCpuMs, 0, 'f', 1)
               .arg(plainCpuMs > 0 ? keyedCpuMs / plainCpuMs : 0.0, 0, 'f', 3);

    // Each exchange is the announcement and three answers, and with keys one "captPK" each way:
    // the datagrams alone make the keyed round half as long again.
    constexpr int kPlainDatagrams = 4, kKeyedDatagrams = 6;
    out << QStringLiteral("per datagram crossing: plain %1 us, keyed and pinned %2 us (ratio %3)\n")
               .arg(1000.0 * double(plainMs) / double(kPeers * kPlainDatagrams), 0, 'f', 2)
               .arg(1000.0 * double(pinnedMs) / double(kPeers * kKeyedDatagrams), 0, 'f', 2)
               .arg(plainMs > 0 ? double(pinnedMs) * kPlainDatagrams / (double(plainMs) * kKeyedDatagrams) : 0.0,
                    0, 'f', 3);
    QDir(folder).removeRecursively();
    return ok;
}

// The datagram counters and history stay on in every copy: the same windowed round with
// them on and off, alternating, and the cost of one record alone.
void compareDiagnostics(QTextStream &out, std::vector<std::unique_ptr<QUdpSocket>> &peers, Counters &c)
{
    constexpr int kRounds = 5;
    std::vector<qint64> on, off;
    for (int i = 0; i < kRounds; ++i) {
        for (const bool diagnostics : {true, false}) {
            qint64 ms = 0;
            announceRound(out, peers, c, kWindow, diagnostics, &ms);
            (diagnostics ? on : off).push_back(ms);
        }
    }
    std::sort(on.begin(), on.end());
    std::sort(off.begin(), off.end());
    const qint64 medianOn = on[kRounds / 2], medianOff = off[kRounds / 2];
    out << QStringLiteral("diagnostics on: median %1 ms, off: median %2 ms over %3 rounds (%4 %)\n")
               .arg(medianOn)
               .arg(medianOff)
               .arg(kRounds)
               .arg(medianOff > 0 ? 100.0 * double(medianOn - medianOff) / double(medianOff) : 0.0, 0, 'f',
                    1);

    constexpr int kRecords = 1000000;
    NetDiagnostics diag;
    const QByteArray datagram = "cBX266" + QByteArray(200, ' ');
    std::vector<QString> addresses;
    for (int i = 0; i < kPeers; ++i)
        addresses.push_back(peerAddress(i));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kRecords; ++i)
        diag.record(NetDiagnostics::Received, addresses[size_t(i % kPeers)], datagram);
    out << QStringLiteral("one record: %1 ns\n").arg(double(timer.nsecsElapsed()) / kRecords, 0, 'f', 0);
}

} // namespace

int main(int argc, char *argv[])
{
    // Its own HOME, XDG folders and TMPDIR, as every test has under ctest.
    const IsolatedHome home;
    home.apply();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    raiseFileLimit();

    std::vector<std::unique_ptr<QUdpSocket>> peers;
    Counters counters;
    for (int i = 0; i < kPeers; ++i) {
        auto socket = std::make_unique<QUdpSocket>();
        if (!socket->bind(QHostAddress(peerAddress(i)), TestPort::port())) {
            out << "peer " << peerAddress(i) << ": " << socket->errorString() << Qt::endl;
            return 1;
        }
        QUdpSocket *s = socket.get();
        QObject::connect(s, &QUdpSocket::readyRead, s, [s, &counters] {
            // Read without asking each datagram's size first, so that the simulated peers
            // cost the round as little as they can.
            char bytes[2048];
            while (s->hasPendingDatagrams()) {
                if (s->readDatagram(bytes, sizeof bytes) < 0)
                    break;
                // The third answer ("cBR266"), or the key after it, ends this peer's exchange.
                if (++counters.answers % counters.perPeer == 0) {
                    ++counters.answered;
                    --counters.inFlight;
                }
            }
        });
        peers.push_back(std::move(socket));
    }

    const bool windowed = announceRound(out, peers, counters, kWindow);
    const bool burst = announceRound(out, peers, counters, kPeers);
    compareDiagnostics(out, peers, counters);
    const bool keyed = compareKeyed(out, peers, counters);
    timeStore(out, 100);
    timeStore(out, 1000);
    timeStore(out, 10000);
    return windowed && burst && keyed ? 0 : 1;
}
