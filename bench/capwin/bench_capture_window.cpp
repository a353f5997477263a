// Times the capture window's whole-screen command on a 1920x1080 Xvfb screen, from the
// command to the picture painted in the window (status text and toolbar included), with
// and without hiding the window for the capture, beside `xwd -root` in the same run.
// Prints the median and mean time per capture of each.
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "core/Commands.h"
#include "core/EngineHost.h"
#include "core/ModZorvin.h"
#include "core/WindowRegistry.h"
#include "net/NetEngine.h"
#include "support/IsolatedHome.h"
#include "support/TestPort.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <vector>

namespace {

constexpr int kRounds = 20;

class QuietHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &text, int) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return MsgBox::IdOk;
    }
};

void report(const char *what, std::vector<double> seconds)
{
    std::sort(seconds.begin(), seconds.end());
    const double mean = std::accumulate(seconds.begin(), seconds.end(), 0.0) / double(seconds.size());
    std::printf("%-44s median %7.4f s   mean %7.4f s   (%zu runs)\n", what, seconds[seconds.size() / 2], mean,
                seconds.size());
}

std::vector<double> timed(const std::function<void()> &run)
{
    std::vector<double> seconds;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        run();
        seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
    }
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    // Its own HOME, XDG folders and TMPDIR, as every test has under ctest.
    const IsolatedHome home;
    home.apply();
    XvfbSession session;
    if (!session.start(QSize(1920, 1080), true)) {
        std::fprintf(stderr, "no X server: %s\n", qPrintable(session.errorText()));
        return 1;
    }
    QApplication app(argc, argv);
    QTemporaryDir dir;
    ModZorvin ctx;
    ctx.ProgramDir = dir.path() + u'/';
    ctx.MakeTempFolders(dir.filePath(QStringLiteral("tmp")) + u'/');
    ctx.net.port = TestPort::port();
    QuietHost host;
    NetEngine engine(ctx, host);
    WindowRegistry windows;
    Commands commands(ctx, engine, windows);
    FrmMain &window = *commands.loadCaptureWindow();
    window.setGeometry(100, 100, 1000, 700);
    window.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    const auto captureAndPaint = [&] {
        // With the window hidden first, the command returns while the window manager takes
        // the window away; the capture ends with `captured`.
        QEventLoop done;
        QObject::connect(&window.capture(), &CaptureEngine::captured, &done, &QEventLoop::quit);
        window.GetCaptureItem(CaptDeskTop);
        if (window.capture().isCapturing())
            done.exec();
        window.picDraw()->repaint();
    };
    captureAndPaint(); // warm-up
    std::printf("screen %dx%d, picture %dx%d\n", 1920, 1080, window.picture().width(),
                window.picture().height());
    report("capture window, whole screen, painted", timed(captureAndPaint));

    ctx.settings.CaptExeHide1 = 1;
    report("  the same, window hidden and shown again", timed(captureAndPaint));
    ctx.settings.CaptExeHide1 = 0;

    const QString xwdOut = dir.filePath(QStringLiteral("screen.xwd"));
    report("xwd -root (to a file)", timed([&] {
               QProcess::execute(QStringLiteral("xwd"), {QStringLiteral("-root"), QStringLiteral("-silent"),
                                                         QStringLiteral("-out"), xwdOut});
           }));
    return 0;
}
