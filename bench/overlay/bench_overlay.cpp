// On a 1920x1080 Xvfb screen: the time from the area-capture command to the overlay being
// mapped and painted (with and without the fixed overlay-start timer), beside `xwd -root`
// in the same run; and the memory that each of ten pinned 1920x1080 pictures adds,
// against the picture's own bytes.
#include "capture/CaptureEngine.h"
#include "capture/CaptureMath.h"
#include "pictures/FrmDTopImg.h"
#include "capture/FrmMain.h"
#include "capture/FrmSelect.h"
#include "support/BenchDesktop.h"
#include "support/BenchFigures.h"
#include "support/CaptureSetup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRounds = 15;
constexpr int kPinned = 10;

// Resident memory of this process in bytes.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

// Waits (in the event loop) until `done` holds, polling every few milliseconds.
void waitFor(const std::function<bool()> &done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

class PaintWatch : public QObject
{
  public:
    bool painted = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    BenchDesktop desktop;
    if (!desktop.start(QSize(1920, 1080), true))
        return 1;
    QApplication app(argc, argv);
    CaptureSetup setup;
    FrmMain &window = *loadCaptureWindow(*setup.commands);
    WindowRegistry &windows = *setup.windows;

    std::vector<double> total;
    std::vector<double> afterTimer;
    for (int i = 0; i <= kRounds; ++i) {
        PaintWatch watch;
        QElapsedTimer clock;
        clock.start();
        window.GetCaptureItem(CaptRect);
        FrmSelect *overlay = nullptr;
        waitFor([&] { return (overlay = windows.find<FrmSelect>(FrmSelect::kKind)) != nullptr; });
        const qint64 started = clock.nsecsElapsed();
        overlay->installEventFilter(&watch);
        waitFor(
            [&] { return watch.painted && overlay->windowHandle() && overlay->windowHandle()->isExposed(); });
        const qint64 shown = clock.nsecsElapsed();
        if (i > 0) { // the first round warms up
            total.push_back(double(shown) / 1e9);
            afterTimer.push_back(double(shown - started) / 1e9);
        }
        overlay->Cancel();
        waitFor([&] { return !windows.find(FrmSelect::kKind) && !window.capture().isCapturing(); });
    }
    std::printf("screen 1920x1080, overlay start timer %d ms (fixed)\n", CaptureMath::kOverlayStartMs);
    reportSeconds("area command to overlay mapped and painted", total, 52);
    reportSeconds("  of which: overlay start (freeze, map, paint)", afterTimer, 52);
    reportSeconds("xwd -root (to /dev/null)", timedXwdRoot(kRounds, QStringLiteral("/dev/null")), 52);

    // Pinned pictures: each its own 1920x1080 picture, the caller's copy dropped.
    const qint64 pictureBytes = qint64(1920) * 1080 * 4;
    const qint64 before = residentBytes();
    for (int i = 0; i < kPinned; ++i) {
        QImage picture(1920, 1080, QImage::Format_RGB32);
        picture.fill(QColor(20 * i, 100, 200));
        FrmDTopImg *pinned = FrmDTopImg::Pin(setup.ctx, *setup.engine, *setup.commands, picture);
        picture = QImage();
        waitFor([&] { return pinned->windowHandle() && pinned->windowHandle()->isExposed(); });
    }
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    const double perPicture = double(residentBytes() - before) / kPinned;
    std::printf("pinned %d pictures: %.1f MB added per picture, picture itself %.1f MB (%.2fx)\n", kPinned,
                perPicture / 1e6, double(pictureBytes) / 1e6, perPicture / double(pictureBytes));
    return 0;
}
