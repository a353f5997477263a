// Times a whole-screen capture (mode 0) of a 1920x1080 headless sway desktop through the
// screenshot portal into the capture window, beside grim (the wlroots screenshot tool)
// writing the same screen as PNG, with and without reading the file back, in one session.
// Run as root: the desktop runs as a user of its own (see tests/support/WaylandSession).
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "support/BenchFigures.h"
#include "support/CaptureSetup.h"
#include "support/IsolatedHome.h"
#include "support/WaylandSession.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kRounds = 15;
constexpr char kInnerVariable[] = "ZORVIN_BENCH_INNER";

// Inside the session: one warm-up of each, then the series one after another.
int measureInSession(int argc, char **argv)
{
    QApplication app(argc, argv);
    CaptureSetup setup;
    FrmMain *window = loadCaptureWindow(*setup.commands);
    // Each capture waits in a loop of its own here: this is the measuring program, not a
    // handler of the one under test.
    const auto portalCapture = [&] {
        QEventLoop loop;
        bool came = false;
        QObject::connect(&window->capture(), &CaptureEngine::captured, &loop, [&] {
            came = true;
            loop.quit();
        });
        QObject::connect(&window->capture(), &CaptureEngine::captureFailed, &loop, &QEventLoop::quit);
        QTimer::singleShot(40000, &loop, &QEventLoop::quit);
        window->GetCaptureItem(CaptDeskTop);
        if (!came)
            loop.exec();
        return came && !window->picture().isNull();
    };
    const QString file = setup.dir.filePath(QStringLiteral("grim.png"));
    const auto grim = [&file] { return QProcess::execute(QStringLiteral("grim"), {file}) == 0; };
    const auto grimAndRead = [&] { return grim() && !QImage(file).isNull(); };

    if (!portalCapture() || !grim()) {
        std::printf("the warm-up failed: no picture from the portal or from grim\n");
        return 1;
    }
    std::printf("screen %dx%d, %d runs each\n", window->picture().width(), window->picture().height(),
                kRounds);
    const std::vector<double> portal = timedRuns(kRounds, portalCapture);
    const std::vector<double> grimOnly = timedRuns(kRounds, grim);
    const std::vector<double> grimRead = timedRuns(kRounds, grimAndRead);
    reportSeconds("mode 0 through the portal, into the window", portal);
    reportSeconds("grim, PNG file written", grimOnly);
    reportSeconds("grim, PNG file written and read back", grimRead);
    if (!portal.empty() && !grimOnly.empty()) {
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::printf("portal / grim (medians): %.2f (goal: at most 1.50)\n",
                    median(portal) / median(grimOnly));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsEmpty(kInnerVariable))
        return measureInSession(argc, argv);

    const IsolatedHome home;
    home.apply();
    QCoreApplication app(argc, argv);
    const QString reason = WaylandSession::unavailableReason({QStringLiteral("grim")});
    if (!reason.isEmpty()) {
        std::printf("bench_wayland_capture skipped: %s\n", qPrintable(reason));
        return 0;
    }
    WaylandSession session;
    const WaylandSession::Result result =
        session.run(QSize(1920, 1080), {QStringLiteral("output * bg #3070c0 solid_color")},
                    QCoreApplication::applicationFilePath(), {},
                    {QString::fromLatin1(kInnerVariable) + QStringLiteral("=1"),
                     QStringLiteral("QT_QPA_PLATFORM=wayland")},
                    300000);
    // Only the figures: the session's own chatter stays out unless something failed.
    for (const QString &line : result.output.split(u'\n')) {
        if (result.exitCode != 0 || line.startsWith(QLatin1String("screen ")) ||
            line.contains(QLatin1String(" s   mean ")) || line.startsWith(QLatin1String("portal / grim")) ||
            line.startsWith(QLatin1String("the warm-up")))
            std::printf("%s\n", qPrintable(line));
    }
    if (!result.sessionUp)
        std::printf("the Wayland session did not start\n");
    return result.exitCode == 0 ? 0 : 1;
}
