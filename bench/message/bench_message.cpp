// 200 messages arriving within one second from another engine, on the receiving copy's
// own Xvfb screen: how long until every message window is on screen and every receipt is
// back at the sender, how late a 5 ms timer gets meanwhile (the worst stall of the event
// loop), and how much memory each open message window takes.
#include "base/AnsiCodec.h"
#include "ui/Commands.h"
#include "ui/ModZorvinUi.h"
#include "ui/WindowRegistry.h"
#include "message/FrmMsg.h"
#include "message/MessageWindows.h"
#include "net/MessageDelivery.h"
#include "support/BenchDesktop.h"
#include "support/LoopbackEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kMessages = 200;
constexpr int kSendEveryMs = 5; // 200 in one second
constexpr int kTickMs = 5;

const QString kA = QStringLiteral("127.0.0.2");
const QString kB = QStringLiteral("127.0.0.3");

long residentKiB()
{
    FILE *f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

template <class F> bool runUntil(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

struct Desk
{
    Desk()
        : a(kA, QStringLiteral("受信者"), QStringLiteral("総務"), kA),
          b(kB, QStringLiteral("送信者"), QString(), kB)
    {
        a.ctx.ProgramDir = dir.path() + u'/';
        a.ctx.MakeTempFolders(dir.path() + QStringLiteral("/tmp/"));
    }
    QTemporaryDir dir;
    LoopbackEngine a;
    LoopbackEngine b;
    WindowRegistry windows;
    Commands commands{a.ctx, a.engine, windows};
    MessageWindows messages{a.ctx, a.engine, windows, commands,
                            [](QWidget *w, bool on) { FlashWindow(w, on); }};
};

void burst(Desk &desk, const char *what, bool measureMemory)
{
    int shown = 0, receipts = 0;
    qint64 lastShownNs = 0, lastReceiptNs = 0, lastSentNs = 0;
    QElapsedTimer clock;
    const auto onShown =
        QObject::connect(&desk.messages, &MessageWindows::receivedShown, &desk.messages, [&](FrmMsg *) {
            ++shown;
            lastShownNs = clock.nsecsElapsed();
        });
    const auto onReceipt =
        QObject::connect(&desk.b.engine.events(), &EngineEvents::sendResultAdded, &desk.messages,
                         [&](const QString &, const QString &, int result, const QString &) {
                             if (result == 0) {
                                 ++receipts;
                                 lastReceiptNs = clock.nsecsElapsed();
                             }
                         });
    // The lateness of a 5 ms timer: how long the loop was kept from it.
    std::vector<double> late;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        late.push_back(std::max(0.0, double(sinceTick.nsecsElapsed()) / 1e6 - kTickMs));
        sinceTick.start();
    });

    const long before = residentKiB();
    int sent = 0;
    QTimer sender;
    sender.setTimerType(Qt::PreciseTimer);
    sender.setInterval(kSendEveryMs);
    // Catches up when the loop was late, so the burst takes one second whatever the load.
    QObject::connect(&sender, &QTimer::timeout, &sender, [&] {
        const int due = std::min(kMessages, int(clock.elapsed() / kSendEveryMs) + 1);
        for (; sent < due; ++sent) {
            const QString text = QStringLiteral("メッセージ %1 の本文です。\r\n二行目。").arg(sent);
            desk.b.engine.BCastMsgSend(MessageDelivery::BuildDatagram(true, sent % 3 == 0 ? u'Y' : u'N',
                                                                      MessageDelivery::FormatMessageId(sent),
                                                                      false, text),
                                       kA);
        }
        if (sent == kMessages) {
            sender.stop();
            lastSentNs = clock.nsecsElapsed();
        }
    });
    clock.start();
    sinceTick.start();
    tick.start();
    sender.start();
    const bool done = runUntil([&] { return shown == kMessages && receipts == kMessages; }, 60000);
    tick.stop();
    const long after = residentKiB();

    std::printf("%s: %d messages sent in %.0f ms; %s\n", what, kMessages, double(lastSentNs) / 1e6,
                done ? "all shown and answered" : "NOT ALL shown and answered within 60 s");
    std::printf("  every window shown %.0f ms after the last arrival (%d shown)\n",
                double(lastShownNs - lastSentNs) / 1e6, shown);
    std::printf("  every receipt back %.0f ms after the last arrival (%d receipts)\n",
                double(lastReceiptNs - lastSentNs) / 1e6, receipts);
    std::sort(late.begin(), late.end());
    std::printf("  event loop: a 5 ms timer late by %.1f ms at worst, %.1f ms at the 99th percentile, "
                "%.1f ms median (%zu ticks)\n",
                late.back(), late[late.size() * 99 / 100], late[late.size() / 2], late.size());
    if (measureMemory)
        std::printf("  memory: %.0f KiB resident per open message window (%ld KiB for %d)\n",
                    double(after - before) / kMessages, after - before, kMessages);

    QObject::disconnect(onShown);
    QObject::disconnect(onReceipt);
    for (FrmMsg *w : desk.messages.messageWindows())
        w->close();
    runUntil([&] { return desk.messages.messageWindows().isEmpty(); }, 5000);
    runUntil([] { return false; }, 300);
}

} // namespace

int main(int argc, char **argv)
{
    BenchDesktop desktop;
    if (!desktop.start(QSize(1920, 1080), false))
        return 1;
    QApplication app(argc, argv);
    Desk desk;
    if (!desk.a.start() || !desk.b.start()) {
        std::fprintf(stderr, "the engines' sockets did not open\n");
        return 1;
    }
    desk.a.ctx.NetworkReady = desk.b.ctx.NetworkReady = true;
    // Warm up: the first window loads fonts and styles once for the whole program.
    desk.messages.LoadSendMsg()->close();
    runUntil([] { return false; }, 300);

    burst(desk, "first burst", true);
    burst(desk, "second burst", false);
    desk.a.ctx.settings.RecvMsgMin = 1;
    burst(desk, "minimised windows (RecvMsgMin 1)", false);
    return 0;
}
