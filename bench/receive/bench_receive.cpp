// End to end: a 1920x1080 capture sent packed from one engine process to another, timed
// until the receiving process's viewer has painted it, beside `xwd -root | gzip -1 |
// socat` into `socat | gunzip` of the same screen in the same run. Then a burst of 20
// pictures: the time until all are painted and the longest stall of the receiver's event
// loop meanwhile (a 10 ms timer's lateness). Own Xvfb, own home, own port.
#include "net/AddressEntry.h"
#include "pictures/SendJobs.h"
#include "capture/CaptureCommands.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"
#include "password/PasswordWindows.h"
#include "receive/FrmView.h"
#include "receive/ReceiveWindows.h"
#include "support/BenchDesktop.h"
#include "support/BusyScreen.h"
#include "support/TestPort.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRounds = 5;
constexpr int kBurst = 20;
const QString kSenderIp = QStringLiteral("127.0.0.2");
const QString kReceiverIp = QStringLiteral("127.0.0.3");

void setUp(ModZorvin &ctx, const QString &ip, const QString &folder, quint16 port)
{
    ctx.net.bindAddress = QHostAddress(ip);
    ctx.net.broadcastAddress = ip;
    ctx.net.port = port;
    ctx.ProgramDir = folder + u'/';
    ctx.MakeTempFolders(folder + QStringLiteral("/temp/"));
    ctx.settings.RecvFileSavePlace = folder + QStringLiteral("/RECVFILE");
    ctx.settings.Name = QStringLiteral("bench");
}

bool open(NetEngine &engine, ModZorvin &ctx)
{
    QString text;
    int number = 0;
    if (!engine.OpenSockets(&text, &number)) {
        std::fprintf(stderr, "sockets: %d %s\n", number, qPrintable(text));
        return false;
    }
    ctx.LocalHostName = QStringLiteral("h") + ctx.LocalIp.section(u'.', 3);
    engine.CheckArchiver();
    return true;
}

// The receiving process: prints "ready", then "painted <n> <longest stall ms>" for every
// viewer that has painted its picture (the viewer is closed right after); "reset" on
// standard input starts a new stall measurement.
int runReceiver(QApplication &app, quint16 port)
{
    QTemporaryDir dir;
    ModZorvin ctx;
    setUp(ctx, kReceiverIp, dir.path(), port);
    PrintingHost host;
    NetEngine engine(ctx, host);
    WindowRegistry windows;
    Commands commands(ctx, engine, windows);
    RegisterCaptureCommands(ctx, engine, commands, windows);
    RegisterPasswordWindows(ctx, windows);
    ReceiveWindows receive(ctx, engine, windows, commands, {});
    if (!open(engine, ctx))
        return 1;

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed();
    qint64 worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - lastTick - tick.interval());
        lastTick = now;
    });
    tick.start(10);
    int painted = 0;
    QObject::connect(&receive, &ReceiveWindows::viewerCreated, &app, [&](FrmView *viewer) {
        QObject::connect(viewer, &FrmView::pictureShown, viewer, [&, viewer] {
            std::printf("painted %d %lld\n", ++painted, static_cast<long long>(worst));
            std::fflush(stdout);
            viewer->close();
        });
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            app.quit();
            return;
        }
        worst = 0;
        lastTick = clock.elapsed();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One round of the pipeline: the listener first, then the sender; done when gunzip ends.
double pipelineRound(const QString &display, const QString &out)
{
    quint16 port = TestPort::port() + 1;
    while (!TestPort::reserve(port))
        ++port;
    QProcess listener;
    listener.start(QStringLiteral("sh"),
                   {QStringLiteral("-c"),
                    QStringLiteral("socat -u TCP-LISTEN:%1,bind=127.0.0.5,reuseaddr - | gunzip > %2")
                        .arg(port)
                        .arg(out)});
    listener.waitForStarted();
    // socat needs a moment to listen; the sender retries until it connects.
    QElapsedTimer timer;
    timer.start();
    QProcess sender;
    sender.start(QStringLiteral("sh"),
                 {QStringLiteral("-c"), QStringLiteral("xwd -root -display %1 | gzip -1 | socat -u - "
                                                       "TCP:127.0.0.5:%2,retry=100,interval=0.005")
                                            .arg(display)
                                            .arg(port)});
    sender.waitForFinished(60000);
    listener.waitForFinished(60000);
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--receiver") == 0) {
        QApplication app(argc, argv);
        // Viewers come and go; the process ends when its input does.
        app.setQuitOnLastWindowClosed(false);
        return runReceiver(app, quint16(argc > 2 ? QByteArray(argv[2]).toUInt() : 0));
    }

    BenchDesktop desktop;
    if (!desktop.start(QSize(1920, 1080), false))
        return 1;
    QApplication app(argc, argv);
    BusyScreen wallpaper(QStringLiteral("receive benchmark"));
    wallpaper.setGeometry(0, 0, 1920, 1080);
    wallpaper.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        app.processEvents();
    const QImage picture = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    std::printf("picture %dx%d\n", picture.width(), picture.height());

    // The pipeline of the same screen, in the same run.
    QTemporaryDir dir;
    std::vector<double> pipeline;
    for (int i = 0; i < kRounds; ++i)
        pipeline.push_back(
            pipelineRound(desktop.session.display(), dir.filePath(QStringLiteral("screen.xwd"))));
    std::printf("xwd -root | gzip -1 | socat -> socat | gunzip: median %.1f ms (%lld bytes unpacked)\n",
                median(pipeline),
                static_cast<long long>(QFile(dir.filePath(QStringLiteral("screen.xwd"))).size()));

    QProcess receiver;
    receiver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The receiver's engine shares this process's port on its own address.
    receiver.start(QString::fromLocal8Bit(argv[0]),
                   {QStringLiteral("--receiver"), QString::number(TestPort::port())});
    if (!receiver.waitForReadyRead(20000) || !receiver.readLine().startsWith("ready")) {
        std::fprintf(stderr, "the receiver did not start\n");
        return 1;
    }
    ModZorvin ctx;
    setUp(ctx, kSenderIp, dir.filePath(QStringLiteral("sender")), TestPort::port());
    PrintingHost host;
    NetEngine engine(ctx, host);
    if (!open(engine, ctx))
        return 1;
    engine.UpdatePeer(QStringLiteral("recv"), kReceiverIp, kStateAvail, QStringLiteral("266"), QString());
    std::printf("archiver: %s\n", ctx.ArchiverReady ? "packing" : "missing, sent unpacked");

    QEventLoop loop;
    QList<QByteArray> lines;
    QObject::connect(&receiver, &QProcess::readyReadStandardOutput, &loop, [&] {
        while (receiver.canReadLine())
            lines << receiver.readLine().trimmed();
        loop.quit();
    });
    const auto waitPainted = [&](int count) {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(120000);
        while (lines.size() < count && guard.isActive())
            loop.exec();
        return lines.size() >= count;
    };
    const SendRecipient to{QStringLiteral("recv"), kReceiverIp};

    std::vector<double> ours;
    for (int i = 0; i < kRounds + 1; ++i) {
        lines.clear();
        QElapsedTimer timer;
        timer.start();
        SendJobs(engine).SendPicture(picture, QString(), {to});
        if (!waitPainted(1)) {
            std::fprintf(stderr, "no picture painted (receiver state %d, exit %d)\n", int(receiver.state()),
                         receiver.exitCode());
            return 1;
        }
        if (i > 0) // the first round warms up
            ours.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double ourMedian = median(ours);
    std::printf("capture sent packed -> viewer painted:    median %.1f ms (%.2fx the pipeline)\n", ourMedian,
                ourMedian / median(pipeline));

    lines.clear();
    receiver.write("reset\n");
    QElapsedTimer burst;
    burst.start();
    for (int i = 0; i < kBurst; ++i)
        SendJobs(engine).SendPicture(picture, QString(), {to});
    if (!waitPainted(kBurst)) {
        std::fprintf(stderr, "the burst did not arrive (%lld painted)\n",
                     static_cast<long long>(lines.size()));
        return 1;
    }
    const QList<QByteArray> last = lines.constLast().split(' ');
    std::printf("%d pictures in a burst: all painted after %.1f ms, longest receiver stall %s ms\n", kBurst,
                burst.nsecsElapsed() / 1e6, last.value(2).constData());

    receiver.closeWriteChannel();
    receiver.waitForFinished(10000);
    return 0;
}
