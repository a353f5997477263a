// The address book window on its own Xvfb screen: opening it on 1,000 and 10,000 stored
// peers (built, then shown and painted), and 1,000 presence answers arriving while it is
// open on 10,000 peers: the cost of each update as the engine handles it, and, with the
// answers arriving as real datagrams from 1,000 addresses, how late a 10 ms timer gets.
#include "net/AddressStore.h"
#include "address/AddressWindows.h"
#include "address/FrmAdrEdit.h"
#include "base/AnsiCodec.h"
#include "ui/Commands.h"
#include "base/FileLimit.h"
#include "ui/WindowRegistry.h"
#include "net/Datagrams.h"
#include "base/Protocol.h"
#include "support/BenchDesktop.h"
#include "support/LoopbackEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <vector>

namespace {

constexpr int kRounds = 7;
constexpr int kUpdates = 1000;
constexpr int kGroups = 60;

QString storedAddress(int i)
{
    return QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
}

QString peerAddress(int i)
{
    return QStringLiteral("127.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
}

// `count` peers as a long-running copy knows them: learnt rows in groups, every third
// one available, a few manual entries and favourites; the first half of the simulated
// peers' addresses are among them, "unavail".
void fill(AddressStore &store, int count)
{
    store.clear();
    for (int i = 0; i < count; ++i) {
        AddressEntry e;
        const bool simulated = i < kUpdates / 2;
        e.EntryName = QStringLiteral("社員%1 (pc%1)").arg(i);
        e.EntryAddress = simulated ? peerAddress(i) : storedAddress(i);
        e.EntryType = i % 50 == 0 ? QStringLiteral("M") : QString();
        e.EntryState = !simulated && i % 3 == 0 ? kStateAvail : kStateUnavail;
        e.EntryVersion = e.EntryState == kStateAvail ? QStringLiteral("266") : QString();
        e.EntryGroup = QStringLiteral("部署%1").arg(i % kGroups);
        e.EntryFavourite = i % 40 == 0 ? QStringLiteral("1") : QString();
        store.append(e);
    }
}

struct Figures
{
    double median = 0, mean = 0, max = 0;
};

Figures figures(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2],
            std::accumulate(values.begin(), values.end(), 0.0) / double(values.size()), values.back()};
}

// Runs the event loop until `done`, or for at most `ms`.
template <class F> void runUntil(F done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// A simulated peer: a plain socket bound to its own address. Not a QUdpSocket, whose
// notifier every turn of the event loop would poll, a thousand times over.
class PeerSocket
{
  public:
    explicit PeerSocket(const QString &ip)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, ip.toLatin1().constData(), &from.sin_addr);
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&from), sizeof from) == 0;
    }
    ~PeerSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool bound() const { return m_bound; }
    void send(const QByteArray &bytes, const char *ip, quint16 port) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, ip, &to.sin_addr);
        ::sendto(m_fd, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<const sockaddr *>(&to),
                 sizeof to);
    }

  private:
    int m_fd = -1;
    bool m_bound = false;
};

// Counts paint events of a widget.
class PaintWatch : public QObject
{
  public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    int paints = 0;
};

struct Desk
{
    Desk() : a(QStringLiteral("127.0.0.2"), QStringLiteral("bench"), QStringLiteral("部署0"))
    {
        a.ctx.ProgramDir = dir.path() + u'/';
        a.ctx.MakeTempFolders(dir.path() + QStringLiteral("/tmp/"));
    }
    QTemporaryDir dir;
    LoopbackEngine a;
    WindowRegistry windows;
    Commands commands{a.ctx, a.engine, windows};
    AddressWindows wiring{a.engine, windows, commands};

    FrmAdrEdit *book() const { return windows.find<FrmAdrEdit>(WindowKind::AdrEdit); }
    void closeBook()
    {
        if (FrmAdrEdit *window = book())
            window->close();
        // The registry deletes it later; let that happen before the next round.
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

void timeOpening(Desk &desk, int peers)
{
    fill(desk.a.engine.addresses(), peers);
    std::vector<double> built, painted;
    for (int round = 0; round < kRounds + 1; ++round) {
        QElapsedTimer clock;
        clock.start();
        desk.commands.run(QStringLiteral("mnuAdrEdit"));
        const double builtMs = double(clock.nsecsElapsed()) / 1e6;
        FrmAdrEdit *window = desk.book();
        PaintWatch watch;
        QWidget *viewport = window->findChild<QTableView *>(QStringLiteral("LveAdrView"))->viewport();
        viewport->installEventFilter(&watch);
        runUntil([&] { return watch.paints > 0; }, 5000);
        const double paintedMs = double(clock.nsecsElapsed()) / 1e6;
        viewport->removeEventFilter(&watch);
        // The first round warms caches and fonts.
        if (round > 0) {
            built.push_back(builtMs);
            painted.push_back(paintedMs);
        }
        desk.closeBook();
    }
    const Figures b = figures(built), p = figures(painted);
    std::printf("open on %6d peers: built %7.1f ms median (%7.1f max), shown and painted %7.1f ms median "
                "(%7.1f max)\n",
                peers, b.median, b.max, p.median, p.max);
}

QByteArray answer(int i, int generation)
{
    // Half of the answers come from new peers, some of them in groups the tree lacks.
    const QString group = QStringLiteral("部署%1").arg((i + generation * 7) % (kGroups + 40));
    return AnsiCodec::encode(Datagrams::complete(Protocol::kGroupAnswer + QLatin1String(kProtocolVersion),
                                                 QStringLiteral("社員%1-%2").arg(i).arg(generation),
                                                 QStringLiteral("pc%1").arg(i), group));
}

// Each answer handled as the engine's socket hands it over, then one turn of the event
// loop (the list's layout and paint): what one update costs the loop.
void timeDirectUpdates(Desk &desk, int generation)
{
    std::vector<double> handled, withPaint;
    for (int i = 0; i < kUpdates; ++i) {
        const QByteArray bytes = answer(i, generation);
        QElapsedTimer clock;
        clock.start();
        desk.a.engine.HandleDatagram(peerAddress(i), bytes);
        handled.push_back(double(clock.nsecsElapsed()) / 1e3);
        QCoreApplication::processEvents();
        withPaint.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    // The first half of the simulated peers are stored rows; the others join as new rows.
    const auto half = [](const std::vector<double> &all, bool second) {
        return std::vector<double>(all.begin() + (second ? kUpdates / 2 : 0),
                                   all.begin() + (second ? kUpdates : kUpdates / 2));
    };
    for (const bool added : {false, true}) {
        const Figures h = figures(half(handled, added)), p = figures(half(withPaint, added));
        std::printf("%d presence updates with the window open (%s): handled in %.1f us median, %.1f us max; "
                    "with the list laid out and painted %.2f ms median, %.2f ms mean, %.2f ms max\n",
                    kUpdates / 2, added ? "new rows" : "stored rows", h.median, h.max, p.median, p.mean,
                    p.max);
    }
}

// The answers come as datagrams, one every millisecond, while a 10 ms timer notes how late
// each of its ticks is.
void timeLateness(Desk &desk, const std::vector<std::unique_ptr<PeerSocket>> &peers, const char *what)
{
    const int before = desk.a.engine.addresses().size();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QElapsedTimer sinceTick;
    std::vector<double> late;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        late.push_back(std::max(0.0, double(sinceTick.nsecsElapsed()) / 1e6 - 10.0));
        sinceTick.restart();
    });
    int sent = 0;
    QTimer sender;
    sender.setTimerType(Qt::PreciseTimer);
    sender.setInterval(1);
    QObject::connect(&sender, &QTimer::timeout, &sender, [&] {
        if (sent < kUpdates) {
            peers[size_t(sent)]->send(answer(sent, 2), "127.0.0.2", TestPort::port());
            ++sent;
        }
    });
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    ticker.start();
    sender.start();
    // Done when the last answer has reached the store (datagrams on loopback keep their order).
    const QString last = peerAddress(kUpdates - 1);
    const QString lastName = QStringLiteral("社員%1-2 (pc%1)").arg(kUpdates - 1);
    runUntil([&] { return desk.a.engine.addresses().FindAddressByIp(last).EntryName == lastName; }, 20000);
    const double totalMs = double(clock.nsecsElapsed()) / 1e6;
    // A few ticks after the last answer, so that its paint counts too.
    runUntil([&] { return false; }, 50);
    ticker.stop();
    sender.stop();
    const Figures f = figures(late);
    std::printf("%s: %d answers over UDP in %.0f ms (%d rows added); 10 ms timer late by %.2f ms median, "
                "%.2f ms mean, %.2f ms worst (%zu ticks)\n",
                what, sent, totalMs, desk.a.engine.addresses().size() - before, f.median, f.mean, f.max,
                late.size());
}

} // namespace

int main(int argc, char **argv)
{
    BenchDesktop desktop;
    RaiseOpenFileLimit();
    if (!desktop.start(QSize(1920, 1080), false))
        return 1;
    QApplication app(argc, argv);
    Desk desk;
    if (!desk.a.start()) {
        std::fprintf(stderr, "the engine's sockets did not open\n");
        return 1;
    }
    desk.a.ctx.NetworkReady = true;
    std::vector<std::unique_ptr<PeerSocket>> peers;
    for (int i = 0; i < kUpdates; ++i) {
        peers.push_back(std::make_unique<PeerSocket>(peerAddress(i)));
        if (!peers.back()->bound()) {
            std::fprintf(stderr, "peer %s: cannot bind\n", qPrintable(peerAddress(i)));
            return 1;
        }
    }

    timeOpening(desk, 1000);
    timeOpening(desk, 10000);

    fill(desk.a.engine.addresses(), 10000);
    timeLateness(desk, peers, "window closed, 10,000 peers");
    fill(desk.a.engine.addresses(), 10000);
    desk.commands.run(QStringLiteral("mnuAdrEdit"));
    runUntil([] { return false; }, 200);
    timeDirectUpdates(desk, 1);
    fill(desk.a.engine.addresses(), 10000);
    desk.closeBook();
    desk.commands.run(QStringLiteral("mnuAdrEdit"));
    runUntil([] { return false; }, 200);
    timeLateness(desk, peers, "window open, 10,000 peers");
    return 0;
}
