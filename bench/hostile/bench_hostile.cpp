// Hostile load on the receiving side and on start-up, measured:
// 1. 256 connections that trickle one header byte every 10 s, from 200 addresses and from
//    256, each reconnecting a second after it is turned away or made to give way; how long a
//    genuine sender's file takes to arrive meanwhile, and how many trickling connections
//    stay.
// 2. The program started with a 200 MB garbage zorvin.ini, and with a zorvin.dat of 200 rows
//    of 1 MB: how long until it has kept them beside and asks, how long it takes to go on
//    SIGTERM, and its peak memory. Prints the figures; asserts nothing.
// Usage: bench_hostile [rounds, default 5] [slow connections, default 256]
#include "base/ModZorvin.h"
#include "net/NetEngine.h"
#include "net/TransferReceiver.h"
#include "net/TransferSender.h"
#include "support/BenchFigures.h"
#include "support/IsolatedHome.h"
#include "support/LoopbackEngine.h"
#include "support/StartedCopy.h"
#include "support/TestPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

int kTricklers = 256;

// One slow connection from a fixed address: a header byte every `everyMs`, and a new
// connection at once whenever the receiver closes it.
class Trickler : public QObject
{
  public:
    Trickler(const QString &from, const QString &to, int everyMs) : m_from(from), m_to(to)
    {
        m_tick.setInterval(everyMs);
        connect(&m_tick, &QTimer::timeout, this, [this] {
            if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
                m_socket->write("0");
        });
        m_tick.start();
        reconnect();
    }
    bool connected() const { return m_socket && m_socket->state() == QAbstractSocket::ConnectedState; }
    int closedByPeer = 0;

  private:
    void reconnect()
    {
        if (m_socket)
            m_socket->deleteLater();
        m_socket = new QTcpSocket(this);
        m_socket->bind(QHostAddress(m_from), 0);
        connect(m_socket, &QTcpSocket::disconnected, this, [this] {
            ++closedByPeer;
            // As soon as the attacker's own host would: after a second.
            QTimer::singleShot(1000, this, [this] { reconnect(); });
        });
        connect(m_socket, &QTcpSocket::readyRead, m_socket, [s = m_socket] { s->readAll(); });
        connect(m_socket, &QTcpSocket::connected, m_socket, [s = m_socket] { s->write("0"); });
        m_socket->connectToHost(m_to, TestPort::port());
    }

    QString m_from, m_to;
    QTimer m_tick;
    QTcpSocket *m_socket = nullptr;
};

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void slotsUnderTrickle(const char *title, int addresses, int rounds, const QString &root)
{
    LoopbackEngine a("127.0.0.2", "a", "g"), b("127.0.0.3", "b", "g");
    b.ctx.MakeTempFolders(root + "/tb");
    a.ctx.MakeTempFolders(root + "/ta");
    b.ctx.settings.RecvFileSavePlace = root + "/recv";
    QDir().mkpath(b.ctx.settings.RecvFileSavePlace);
    if (!a.start() || !b.start()) {
        std::printf("%s: cannot start the engines\n", title);
        return;
    }
    int results = 0, lastResult = -1;
    QObject::connect(&a.engine.events(), &EngineEvents::sendResultAdded, &a.engine,
                     [&](const QString &, const QString &, int result, const QString &) {
                         ++results;
                         lastResult = result;
                     });
    std::vector<std::unique_ptr<Trickler>> tricklers;
    for (int i = 0; i < kTricklers; ++i) {
        const int n = i % addresses;
        tricklers.push_back(std::make_unique<Trickler>(
            QString("127.0.%1.%2").arg(1 + n / 250).arg(1 + n % 250), "127.0.0.3", 10000));
        if (i % 32 == 31)
            waitMs(20);
    }
    waitMs(2000);
    const QString outbox = root + "/out/";
    QDir().mkpath(outbox);
    QFile f(outbox + "genuine.bin");
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray(200000, 'g'));
    f.close();
    std::vector<double> seconds;
    int failed = 0;
    for (int r = 0; r < rounds; ++r) {
        SendRequest req;
        req.destination = "127.0.0.3";
        req.resultName = "b";
        req.kind = 'F';
        req.folder = outbox;
        req.itemName = "genuine.bin";
        req.archiveName =
            "CAPT" + a.ctx.LocalIpHex + QString::number(a.engine.sender().NextJobNumber()) + ".LZH";
        req.notice = 2; // success and failure both reported
        const int before = results;
        QElapsedTimer clock;
        clock.start();
        if (a.engine.QueueSendJob(req) < 0)
            std::printf("  the job was not queued\n");
        QEventLoop loop;
        const QMetaObject::Connection done =
            QObject::connect(&a.engine.events(), &EngineEvents::sendResultAdded, &loop, &QEventLoop::quit,
                             Qt::QueuedConnection);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        if (results == before)
            loop.exec();
        QObject::disconnect(done);
        if (results == before || lastResult != 0)
            ++failed;
        else
            seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
        std::printf("  round %d: %s after %.3f s\n", r + 1,
                    results == before ? "no result"
                    : lastResult == 0 ? "arrived"
                                      : "refused",
                    double(clock.nsecsElapsed()) / 1e9);
        waitMs(3000);
    }
    int live = 0, closed = 0;
    for (const auto &t : tricklers) {
        live += t->connected() ? 1 : 0;
        closed += t->closedByPeer;
    }
    std::printf("%s\n", title);
    reportSeconds("  genuine 200 KB file arrives in", seconds);
    std::printf("  failed sends %d of %d; trickling connections held by the receiver %d of %d "
                "(%d slots in use); trickler connections closed by the receiver %d\n",
                failed, rounds, live, kTricklers, b.engine.receiver().slotsInUse(), closed);
    tricklers.clear();
    waitMs(500);
}

qint64 peakKiB(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

void startWith(const char *title, const IsolatedHome &home, const QString &file, qint64 bytes, int lineBytes,
               const QByteArray &lineTemplate)
{
    QTemporaryDir data(home.path() + "/data-XXXXXX");
    {
        QFile ini(data.filePath("zorvin.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write("[ZorvinSetting]\r\nZorvinOpMsg=1\r\n");
    }
    QFile out(data.filePath(file));
    out.open(QIODevice::WriteOnly | QIODevice::Append);
    QByteArray line = lineTemplate;
    line.replace("@", QByteArray(lineBytes, 'x'));
    for (qint64 written = 0; written < bytes; written += line.size())
        out.write(line);
    out.close();
    QProcess p;
    p.setProcessEnvironment(StartedCopy::offscreen(home.environment()));
    p.setReadChannel(QProcess::StandardError);
    QElapsedTimer clock;
    clock.start();
    p.start(ZORVIN_BINARY, StartedCopy::onLoopback(data.path(), "127.0.0.9"));
    QByteArray said;
    while (!said.contains(".bak") && clock.elapsed() < 60000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(100);
        said += p.readAllStandardError();
    }
    const double toNotice = double(clock.nsecsElapsed()) / 1e9;
    const qint64 peak = peakKiB(p.processId());
    clock.restart();
    ::kill(pid_t(p.processId()), SIGTERM);
    p.waitForFinished(60000);
    const double toEnd = double(clock.nsecsElapsed()) / 1e9;
    std::printf(
        "%s\n  kept beside and asking after %.3f s; ended %.3f s after SIGTERM; peak memory %lld KiB; "
        "kept %s\n",
        title, toNotice, toEnd, peak, QFileInfo::exists(data.filePath(file + ".bak")) ? "yes" : "NO");
}

} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const IsolatedHome home;
    home.apply();
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? QByteArray(argv[1]).toInt() : 5;
    if (argc > 2)
        kTricklers = QByteArray(argv[2]).toInt();
    QTemporaryDir root;
    slotsUnderTrickle("256 trickling connections from 200 addresses", 200, rounds, root.path() + "/s200");
    slotsUnderTrickle("256 trickling connections from 256 addresses (table full)", 256, rounds,
                      root.path() + "/s256");
    startWith("start-up with a 200 MB garbage zorvin.ini", home, "zorvin.ini", 200 << 20, 4000, "@\r\n");
    startWith("start-up with a 200 MB zorvin.ini of 1 MB lines", home, "zorvin.ini", 200 << 20, 1 << 20,
              "Junk=@\r\n");
    startWith("start-up with a zorvin.dat of 200 rows of 1 MB", home, "zorvin.dat", 200 << 20, 1 << 20,
              "\"@\",\"10.0.0.1\",\"M\",\"\",\"\",\"\"\r\n");
    return 0;
}
