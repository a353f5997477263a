// Times the capture window's whole-screen command on a 1920x1080 Xvfb screen, from the
// command to the picture painted in the window (status text and toolbar included), with
// and without hiding the window for the capture, beside `xwd -root` in the same run.
// Prints the median and mean time per capture of each.
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "support/BenchDesktop.h"
#include "support/BenchFigures.h"
#include "support/CaptureSetup.h"

#include <QApplication>
#include <QEventLoop>

#include <cstdio>

namespace {

constexpr int kRounds = 20;

} // namespace

int main(int argc, char **argv)
{
    BenchDesktop desktop;
    if (!desktop.start(QSize(1920, 1080), true))
        return 1;
    QApplication app(argc, argv);
    CaptureSetup setup;
    ModZorvin &ctx = setup.ctx;
    FrmMain &window = *loadCaptureWindow(*setup.commands);
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
        return true;
    };
    captureAndPaint(); // warm-up
    std::printf("screen %dx%d, picture %dx%d\n", 1920, 1080, window.picture().width(),
                window.picture().height());
    reportSeconds("capture window, whole screen, painted", timedRuns(kRounds, captureAndPaint));

    ctx.settings.CaptExeHide1 = 1;
    reportSeconds("  the same, window hidden and shown again", timedRuns(kRounds, captureAndPaint));
    ctx.settings.CaptExeHide1 = 0;

    reportSeconds("xwd -root (to a file)",
                  timedXwdRoot(kRounds, setup.dir.filePath(QStringLiteral("screen.xwd"))));
    return 0;
}
