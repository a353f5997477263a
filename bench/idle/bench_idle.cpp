// The resident program at rest: started as the program starts (settings, engine on its
// sockets, hidden capture window, tray icon docked in a panel when `trayer` is there,
// else the stand-in), with the interval capture armed at 300 seconds, then left alone for
// 10 seconds. Counts the main loop's wake-ups (the event dispatcher's awake signal) and the
// voluntary context switches of every thread of the process (/proc/self/task/*/status),
// and prints both per second. Goal: at most 2 wake-ups per second.
#include "capture/FrmAutoCapt.h"
#include "app/FrmSket.h"
#include "base/ModZorvin.h"
#include "app/TrayIcon.h"
#include "support/BenchDesktop.h"
#include "support/TestPort.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kSettleMs = 3000;
constexpr int kMeasureMs = 10000;

struct Switches
{
    qint64 voluntary = 0;
    qint64 involuntary = 0;
    int threads = 0;
};

Switches contextSwitches()
{
    Switches total;
    static const QRegularExpression line(QStringLiteral("^(non)?voluntary_ctxt_switches:\\s+(\\d+)$"),
                                         QRegularExpression::MultilineOption);
    for (const QString &task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        ++total.threads;
        auto it = line.globalMatch(QString::fromLatin1(status.readAll()));
        while (it.hasNext()) {
            const auto m = it.next();
            (m.capturedLength(1) ? total.involuntary : total.voluntary) += m.captured(2).toLongLong();
        }
    }
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    BenchDesktop desktop;
    if (!desktop.start(QSize(1280, 800), true))
        return 1;
    QProcess panel;
    const bool withPanel = !QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty();
    if (withPanel)
        panel.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("bottom")});

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir data;
    ModZorvin ctx;
    ctx.ProgramDir = data.path() + u'/';
    ctx.MakeTempFolders(data.filePath(QStringLiteral("tmp")) + u'/');
    ctx.net.bindAddress = QHostAddress(QStringLiteral("127.0.0.11"));
    ctx.net.broadcastAddress = QStringLiteral("127.0.0.11");
    ctx.net.port = TestPort::port();
    QFile ini(ctx.SettingsPath());
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write("[ZorvinSetting]\r\nName=bench\r\nGrp=g\r\nZorvinOpMsg=1\r\nAutoCapt=1\r\nAutoCaptTim=300\r\n");
    ini.close();

    FrmSket sket(ctx);
    if (!sket.Load()) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }

    qint64 wakeUps = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &app,
                     [&wakeUps] { ++wakeUps; });
    Switches before;
    QElapsedTimer clock;
    QTimer::singleShot(kSettleMs, &app, [&] {
        // Given time to dock the icon and answer the first announcement.
        std::printf("icon: %s, interval capture armed: %s\n",
                    sket.tray().usesTray() ? "docked in trayer" : "stand-in window",
                    sket.autoCapt().isRunning() ? "yes (300 s)" : "no");
        wakeUps = 0;
        before = contextSwitches();
        clock.start();
        QTimer::singleShot(kMeasureMs, &app, [&] {
            const double seconds = double(clock.elapsed()) / 1000.0;
            const Switches after = contextSwitches();
            std::printf("over %.1f s at rest (%d threads):\n", seconds, after.threads);
            std::printf("  main loop wake-ups        %6lld  = %5.2f /s   (goal <= 2 /s)\n", wakeUps,
                        double(wakeUps) / seconds);
            std::printf("  voluntary switches, all   %6lld  = %5.2f /s\n", after.voluntary - before.voluntary,
                        double(after.voluntary - before.voluntary) / seconds);
            std::printf("  involuntary switches, all %6lld  = %5.2f /s\n",
                        after.involuntary - before.involuntary,
                        double(after.involuntary - before.involuntary) / seconds);
            sket.QuitWithoutQuestion();
            app.quit();
        });
    });
    const int rc = app.exec();
    if (withPanel) {
        panel.kill();
        panel.waitForFinished();
    }
    return rc;
}
