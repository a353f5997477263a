// Transfer throughput and memory: a 1 GiB file sent unpacked between two engines over
// loopback and written to disk, beside socat copying the same file the same way; then
// the packed path on a 64 MiB mixed file; last, how long an engine takes to go while it
// unpacks 1 GiB. Prints the figures; asserts nothing.
// Usage: bench_transfer [work folder] [MiB, default 1024]
#include "core/AnsiCodec.h"
#include "core/EngineHost.h"
#include "core/ModZorvin.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"
#include "support/CraftedArchives.h"
#include "support/IsolatedHome.h"
#include "support/TestPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

class BenchHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &, int) override { return 1; }
    void listen(EngineEvents &events)
    {
        QObject::connect(&events, &EngineEvents::sendResultAdded, &events,
                         [this](const QString &, const QString &, int result, const QString &info) {
                             lastResult = result;
                             lastInfo = info;
                             ++results;
                             if (loop)
                                 loop->quit();
                         });
    }
    QEventLoop *loop = nullptr;
    int results = 0;
    int lastResult = -1;
    QString lastInfo;
};

struct Peer
{
    Peer(const QString &ip, const QString &root)
    {
        ctx.net.bindAddress = QHostAddress(ip);
        ctx.net.broadcastAddress = ip;
        ctx.net.port = TestPort::port();
        ctx.MakeTempFolders(root + "/temp-" + ip);
        ctx.ProgramDir = root + "/";
        ctx.settings.RecvFileSavePlace = root + "/recv-" + ip;
        QDir().mkpath(ctx.settings.RecvFileSavePlace);
        host.listen(engine.events());
    }
    ModZorvin ctx;
    BenchHost host;
    NetEngine engine{ctx, host};
};

long statusKb(const char *key)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Resets the peak resident size so that it measures the transfer alone.
void resetPeak()
{
    QFile f("/proc/self/clear_refs");
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

void writeMixed(const QString &path, qint64 size, bool textHalf)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QRandomGenerator g(42);
    QByteArray chunk(4 * 1024 * 1024, Qt::Uninitialized);
    qint64 written = 0;
    int n = 0;
    while (written < size) {
        const bool text = textHalf && (n++ % 2 == 0);
        if (text) {
            chunk.clear();
            for (int i = 0; chunk.size() < 4 * 1024 * 1024; ++i)
                chunk +=
                    "record " + QByteArray::number(i) + " value " + QByteArray::number(i * 31 % 977) + "\n";
            chunk.resize(4 * 1024 * 1024);
        } else {
            chunk.resize(4 * 1024 * 1024);
            g.fillRange(reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / 4);
        }
        const qint64 part = qMin<qint64>(chunk.size(), size - written);
        f.write(chunk.constData(), part);
        written += part;
    }
}

bool sameFiles(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(8 << 20) != fb.read(8 << 20))
            return false;
    return true;
}

struct Run
{
    double seconds = 0;
    long peakKb = 0;
    bool ok = false;
};

Run engineRun(Peer &a, Peer &b, const QString &folder, const QString &name, bool pack)
{
    QFile::remove(b.ctx.settings.RecvFileSavePlace + "/" + name);
    SendRequest r;
    r.destination = "127.0.0.3";
    r.resultName = "bench";
    r.kind = 'F';
    r.folder = folder;
    r.itemName = name;
    r.archiveName = "CAPT" + a.ctx.LocalIpHex + QString::number(a.engine.sender().NextJobNumber()) + ".LZH";
    r.packWanted = pack;
    r.notice = 2;
    QEventLoop loop;
    a.host.loop = &loop;
    resetPeak();
    QElapsedTimer t;
    t.start();
    a.engine.QueueSendJob(r);
    loop.exec();
    Run run;
    run.seconds = t.nsecsElapsed() / 1e9;
    run.peakKb = statusKb("VmHWM:");
    run.ok = a.host.lastResult == 0 &&
             sameFiles(folder + "/" + name, b.ctx.settings.RecvFileSavePlace + "/" + name);
    a.host.loop = nullptr;
    return run;
}

Run socatRun(const QString &source, const QString &target)
{
    Run run;
    QProcess server, client;
    // socat listens on the bench's port too, on an address of its own.
    const QString port = QString::number(TestPort::port());
    server.start("socat", {"-u", "-b", "131072", "TCP-LISTEN:" + port + ",bind=127.0.0.5,reuseaddr",
                           "OPEN:" + target + ",creat,trunc"});
    if (!server.waitForStarted())
        return run;
    // socat has no ready signal: wait until its socket listens (/proc/net/tcp lists
    // 127.0.0.5 as 0500007F, the port in hex, and 0A for LISTEN).
    const QByteArray listening =
        "0500007F:" + QByteArray::number(TestPort::port(), 16).toUpper().rightJustified(4, '0') +
        " 00000000:0000 0A";
    for (int i = 0; i < 500; ++i) {
        QFile tcp("/proc/net/tcp");
        if (tcp.open(QIODevice::ReadOnly) && tcp.readAll().contains(listening))
            break;
        QThread::msleep(10);
    }
    QElapsedTimer t;
    t.start();
    client.start("socat", {"-u", "-b", "131072", "OPEN:" + source, "TCP:127.0.0.5:" + port});
    client.waitForFinished(-1);
    server.waitForFinished(-1);
    run.seconds = t.nsecsElapsed() / 1e9;
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    run.peakKb = ru.ru_maxrss;
    run.ok = sameFiles(source, target);
    return run;
}

// Sends an archive that unpacks to 1 GiB to a fresh engine and destroys the engine once
// the unpack runs: the seconds the destruction took, and whether the receive folder was
// left empty. Negative seconds when the unpack never started.
std::pair<double, bool> quitDuringUnpack(const QString &root)
{
    auto c = std::make_unique<Peer>("127.0.0.4", root);
    QString err;
    int num = 0;
    if (!c->engine.OpenSockets(&err, &num))
        return {-1, false};
    c->engine.CheckArchiver();
    const QString recvTemp = c->ctx.RecvTempDir;
    const QByteArray archive = CraftedArchives::repeatArchive("long.bin", 64);
    SendJob job;
    job.kind = 'F';
    job.itemName = "long.bin";
    job.archiveName = "LONG.LZH";
    job.size = archive.size();
    QTcpSocket sender;
    sender.connectToHost("127.0.0.4", TestPort::port());
    sender.write(AnsiCodec::encode(TransferSender::HeaderText(job, "bench")) + archive);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (c->engine.archiver().isBusy())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    if (!c->engine.archiver().isBusy())
        return {-1, false};
    QElapsedTimer t;
    t.start();
    c.reset();
    return {t.nsecsElapsed() / 1e9, QDir(recvTemp).entryList(QDir::Files).isEmpty()};
}

} // namespace

int main(int argc, char **argv)
{
    // Its own HOME, XDG folders and TMPDIR, as every test has under ctest.
    const IsolatedHome home;
    home.apply();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTemporaryDir tmp(args.size() > 1 ? args[1] + "/bench-transfer-XXXXXX"
                                      : QDir::tempPath() + "/bench-transfer-XXXXXX");
    const qint64 mib = args.size() > 2 ? args[2].toLongLong() : 1024;
    const QString root = tmp.path();
    const QString src = root + "/src";
    QDir().mkpath(src);

    std::printf("writing %lld MiB test file...\n", mib);
    writeMixed(src + "/big.bin", mib << 20, false);
    writeMixed(src + "/mixed.bin", 64 << 20, true);

    Peer a("127.0.0.2", root), b("127.0.0.3", root);
    QString err;
    int num = 0;
    if (!a.engine.OpenSockets(&err, &num) || !b.engine.OpenSockets(&err, &num)) {
        std::printf("cannot open sockets: %d %s\n", num, qPrintable(err));
        return 1;
    }
    a.engine.CheckArchiver();
    b.engine.CheckArchiver();
    const long idleKb = statusKb("VmRSS:");

    // Two rounds each, alternating, so that page-cache write-back of the freshly written
    // file and other load on the machine hit both sides alike; the better round counts.
    Run socat, plain;
    for (int round = 0; round < 2; ++round) {
        const Run s1 = socatRun(src + "/big.bin", root + "/socat-copy.bin");
        QFile::remove(root + "/socat-copy.bin");
        const Run e1 = engineRun(a, b, src, "big.bin", false);
        QFile::remove(b.ctx.settings.RecvFileSavePlace + "/big.bin");
        std::printf("round %d: socat %.2f s, engines %.2f s\n", round + 1, s1.seconds, e1.seconds);
        if (round == 0 || s1.seconds < socat.seconds)
            socat = s1;
        if (round == 0 || e1.seconds < plain.seconds)
            plain = Run{e1.seconds, qMax(e1.peakKb, plain.peakKb), e1.ok && (round == 0 || plain.ok)};
    }
    const Run packed = engineRun(a, b, src, "mixed.bin", true);

    const double mb = double(mib << 20) / 1e6;
    std::printf("\n%-34s %10s %10s %14s %s\n", "run", "seconds", "MB/s", "peak RSS MiB", "identical");
    std::printf("%-34s %10.2f %10.1f %14.1f %s\n", "socat -b 131072 (1 file)", socat.seconds,
                mb / socat.seconds, socat.peakKb / 1024.0, socat.ok ? "yes" : "NO");
    std::printf("%-34s %10.2f %10.1f %14.1f %s\n", "engines, unpacked (both in process)", plain.seconds,
                mb / plain.seconds, plain.peakKb / 1024.0, plain.ok ? "yes" : "NO");
    std::printf("%-34s %10.2f %10.1f %14.1f %s\n", "engines, packed 64 MiB mixed", packed.seconds,
                (64 << 20) / 1e6 / packed.seconds, packed.peakKb / 1024.0, packed.ok ? "yes" : "NO");
    std::printf("\nidle RSS %.1f MiB; unpacked peak above idle %.1f MiB (goal < 64); "
                "throughput ratio to socat %.2f (goal >= 0.8)\n",
                idleKb / 1024.0, (plain.peakKb - idleKb) / 1024.0, socat.seconds / plain.seconds);
    const auto [quitSeconds, quitLeftNothing] = quitDuringUnpack(root);
    std::printf("engine destroyed during a 1 GiB unpack: gone after %.3f s (goal < 1), receive folder %s\n",
                quitSeconds, quitLeftNothing ? "empty" : "NOT EMPTY");
    return plain.ok && packed.ok ? 0 : 1;
}
