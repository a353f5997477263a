// 200 messages arriving within one second from another engine, on the receiving copy's
// own Xvfb screen: how long until every message window (or unread-list row) is there and
// every receipt is back at the sender, how late a 5 ms timer gets meanwhile (the worst
// stall of the event loop), and how much memory each open message window takes. Then
// floods from raw sockets on another thread (10,000 from one address at 2,000/s, face-down
// messages from 200 addresses at 5,000/s): windows shown, rows listed, receipts, memory,
// how late presence answers come meanwhile, and the quit's closing of every window; and
// the quit with 2,000 open windows, against closing them one by one.
#include "base/AnsiCodec.h"
#include "ui/Commands.h"
#include "ui/ModZorvinUi.h"
#include "ui/WindowRegistry.h"
#include "message/FrmMsg.h"
#include "message/MessageWindows.h"
#include "net/MessageDelivery.h"
#include "ui/FrmUnread.h"
#include "support/BenchDesktop.h"
#include "support/LoopbackEngine.h"
#include "support/TestPort.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
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
        b.ctx.ProgramDir = dir.path() + QStringLiteral("/b/");
        b.ctx.MakeTempFolders(dir.path() + QStringLiteral("/btmp/"));
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
    const auto listed = [&desk] {
        const auto *list = desk.windows.find<FrmUnread>(WindowKind::Unread);
        return list ? list->count() : 0;
    };
    const bool done = runUntil([&] { return shown + listed() == kMessages && receipts == kMessages; }, 60000);
    tick.stop();
    const long after = residentKiB();

    std::printf("%s: %d messages sent in %.0f ms; %s\n", what, kMessages, double(lastSentNs) / 1e6,
                done ? "all shown and answered" : "NOT ALL shown and answered within 60 s");
    std::printf("  every window shown %.0f ms after the last arrival (%d shown, %d in the unread list)\n",
                double(lastShownNs - lastSentNs) / 1e6, shown, listed());
    std::printf("  every receipt back %.0f ms after the last arrival (%d receipts)\n",
                double(lastReceiptNs - lastSentNs) / 1e6, receipts);
    std::sort(late.begin(), late.end());
    std::printf("  event loop: a 5 ms timer late by %.1f ms at worst, %.1f ms at the 99th percentile, "
                "%.1f ms median (%zu ticks)\n",
                late.back(), late[late.size() * 99 / 100], late[late.size() / 2], late.size());
    if (measureMemory)
        std::printf("  memory: %.0f KiB resident per open message window (%ld KiB for %d)\n",
                    double(after - before) / std::max(shown, 1), after - before, shown);

    QObject::disconnect(onShown);
    QObject::disconnect(onReceipt);
    for (FrmMsg *w : desk.messages.messageWindows())
        w->close();
    if (QWidget *list = desk.windows.find(WindowKind::Unread))
        list->close();
    runUntil([&] { return desk.messages.messageWindows().isEmpty(); }, 5000);
    runUntil([] { return false; }, 300);
}

// ---- Floods from raw sockets on a thread of their own ----------------------------------

struct FloodFigures
{
    std::atomic<int> sent{0};
    std::atomic<int> receipts{0};
    std::vector<double> answerMs; // each presence probe's answer, from the probe's send
    int unanswered = 0;
};

int udpSocket(const std::string &ip, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    const int buffer = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        // The test port is taken on that address: the receipts to it are not counted.
        address.sin_port = 0;
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    return fd;
}

// `count` messages at `perSecond` to the engine on kA, round robin over `sources` (bound to
// the test port, so that their receipts come back and are counted), with a presence probe
// from 127.0.0.9 every 100 ms until `stop`.
void flood(const std::vector<std::string> &sources, int count, int perSecond, char mode,
           const std::atomic<bool> &stop, FloodFigures &out)
{
    using Clock = std::chrono::steady_clock;
    const quint16 port = TestPort::port();
    std::vector<int> sockets;
    for (const std::string &ip : sources)
        sockets.push_back(udpSocket(ip, port));
    const int probe = udpSocket("127.0.0.9", port);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.2", &to.sin_addr);
    const auto send = [&to](int fd, const char *bytes, int size) {
        ::sendto(fd, bytes, size_t(size), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    };
    const Clock::time_point start = Clock::now();
    Clock::time_point probeSent, nextProbe = start;
    bool probing = false;
    char buffer[65536];
    while (!stop) {
        const Clock::time_point now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const int due = std::min(count, int(elapsed * perSecond) + 1);
        for (int i = out.sent; i < due; ++i) {
            char text[64];
            const int n = std::snprintf(text, sizeof text, "captMSY%c%02dN flood %d", mode, i % 100, i);
            send(sockets[size_t(i) % sockets.size()], text, n);
        }
        out.sent = due;
        for (int fd : sockets) {
            while (::recv(fd, buffer, sizeof buffer, 0) > 0)
                ++out.receipts;
        }
        if (!probing && now >= nextProbe) {
            send(probe, "captBCprobe (p9)", 16);
            probing = true;
            probeSent = now;
        }
        ssize_t n;
        while ((n = ::recv(probe, buffer, sizeof buffer, 0)) > 0) {
            if (probing && n >= 3 && std::memcmp(buffer, "cBX", 3) == 0) {
                out.answerMs.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - probeSent).count());
                probing = false;
                nextProbe = now + std::chrono::milliseconds(100);
            }
        }
        if (probing && now - probeSent > std::chrono::seconds(5)) {
            ++out.unanswered;
            probing = false;
            nextProbe = now;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    for (int fd : sockets)
        ::close(fd);
    ::close(probe);
}

// Every window of the desk goes as at quit; the time until they are hidden and until they
// are deleted.
void quitFigures(Desk &desk)
{
    QList<QPointer<QWidget>> windows;
    for (FrmMsg *w : desk.messages.messageWindows())
        windows << w;
    if (QWidget *list = desk.windows.find(WindowKind::Unread))
        windows << list;
    QElapsedTimer clock;
    clock.start();
    desk.windows.closeAll(nullptr);
    const double closedMs = double(clock.nsecsElapsed()) / 1e6;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const double deletedMs = double(clock.nsecsElapsed()) / 1e6;
    const auto left = std::count_if(windows.cbegin(), windows.cend(),
                                    [](const QPointer<QWidget> &w) { return !w.isNull(); });
    std::printf("  quit: %lld windows hidden in %.0f ms, deleted after %.0f ms (%lld left)\n",
                qlonglong(windows.size()), closedMs, deletedMs, qlonglong(left));
}

void floodScenario(const char *what, const std::vector<std::string> &sources, int count, int perSecond,
                   char mode)
{
    Desk desk;
    if (!desk.a.start() || !desk.b.start())
        return;
    int shown = 0;
    QObject::connect(&desk.messages, &MessageWindows::receivedShown, &desk.messages, [&shown] { ++shown; });
    // Rows, and what came when the list was full (only logged and answered).
    const auto listed = [&desk] {
        const auto *list = desk.windows.find<FrmUnread>(WindowKind::Unread);
        return list ? list->count() + list->notKept() : 0;
    };
    const auto drawn = [&desk] {
        const auto *list = desk.windows.find<FrmUnread>(WindowKind::Unread);
        return !list || list->list()->topLevelItemCount() == list->count();
    };
    const long before = residentKiB();
    long peak = before;
    QTimer sample;
    sample.setInterval(50);
    QObject::connect(&sample, &QTimer::timeout, &sample, [&peak] { peak = std::max(peak, residentKiB()); });
    sample.start();

    FloodFigures figures;
    std::atomic<bool> stop{false};
    QElapsedTimer clock;
    clock.start();
    std::thread thread([&] { flood(sources, count, perSecond, mode, stop, figures); });
    // Taken in once every message is in a window or a row, or nothing has come for a second
    // after the last was sent (the rest was lost in a full socket buffer).
    int takenIn = 0;
    qint64 lastTaken = 0;
    const bool done = runUntil(
        [&] {
            if (shown + listed() != takenIn) {
                takenIn = shown + listed();
                lastTaken = clock.elapsed();
            }
            const bool settled =
                takenIn == count || (figures.sent == count && clock.elapsed() - lastTaken > 1000);
            return settled && drawn() && desk.messages.pendingShows() == 0;
        },
        180000);
    const double busy = double(lastTaken) / 1000;
    runUntil([] { return false; }, 500); // the last receipts and probes
    stop = true;
    thread.join();
    sample.stop();

    std::printf("%s: %d messages from %zu address(es) at %d/s\n", what, int(figures.sent), sources.size(),
                perSecond);
    std::printf("  %s, the last after %.1f s: %lld message windows open (%d shown), %d to the unread list, "
                "%d receipts back, %d not received (full socket buffer)\n",
                done ? "taken in" : "NOT taken in within 180 s", busy,
                qlonglong(desk.messages.messageWindows().size()), shown, listed(), int(figures.receipts),
                count - shown - listed());
    std::printf("  memory: %.1f MiB more resident at the peak, %.1f MiB at the end\n",
                double(peak - before) / 1024, double(residentKiB() - before) / 1024);
    std::vector<double> &answers = figures.answerMs;
    std::sort(answers.begin(), answers.end());
    if (!answers.empty())
        std::printf(
            "  presence answers during the flood: %zu probes, median %.1f ms, 99th percentile %.1f ms, "
            "worst %.1f ms, %d unanswered\n",
            answers.size(), answers[answers.size() / 2], answers[answers.size() * 99 / 100], answers.back(),
            figures.unanswered);
    quitFigures(desk);
}

// The quit with `count` received windows open (opened from the unread list, so beyond the
// bound), against closing the same number one by one.
void quitWithManyWindows(int count)
{
    const auto open = [count](Desk &desk) {
        ReceivedMessage message;
        message.senderAddress = QStringLiteral("127.0.0.7");
        message.displayMode = u'N';
        message.arrivalDate = QStringLiteral("2026/12/08");
        message.arrivalTime = QStringLiteral("10:00:00");
        for (int i = 0; i < count; ++i) {
            message.messageId = MessageDelivery::FormatMessageId(i % 100);
            message.text = QStringLiteral("window %1").arg(i);
            desk.messages.OpenReceived(message);
        }
        runUntil([] { return false; }, 300);
    };
    {
        Desk desk;
        open(desk);
        std::printf("the quit with %d message windows open:\n", count);
        quitFigures(desk);
    }
    {
        Desk desk;
        open(desk);
        QElapsedTimer clock;
        clock.start();
        for (FrmMsg *w : desk.messages.messageWindows())
            w->close();
        const double closedMs = double(clock.nsecsElapsed()) / 1e6;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        std::printf("  for comparison, closed one by one: %.0f ms, deleted after %.0f ms\n", closedMs,
                    double(clock.nsecsElapsed()) / 1e6);
    }
}

} // namespace

int main(int argc, char **argv)
{
    BenchDesktop desktop;
    if (!desktop.start(QSize(1920, 1080), false))
        return 1;
    QApplication app(argc, argv);
    // "quit": only the quit with many windows.
    const bool onlyQuit = argc > 1 && std::strcmp(argv[1], "quit") == 0;
    if (!onlyQuit) {
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
    }
    if (!onlyQuit) {
        floodScenario("flood from one address", {"127.0.0.5"}, 10000, 2000, 'N');
        std::vector<std::string> many;
        for (int i = 1; i <= 200; ++i)
            many.push_back("127.0.1." + std::to_string(i));
        floodScenario("face-down flood from 200 addresses", many, 10000, 5000, 'Y');
    }
    quitWithManyWindows(1000);
    return 0;
}
