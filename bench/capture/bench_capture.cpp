// Times one whole-screen capture of a 1920x1080 Xvfb screen into a window, and the same
// followed by the automatic save as BMP, PNG and JPEG, side by side with ImageMagick's
// `import -window root` writing the same formats and `xwd -root`, in the same run.
// Prints the median and mean time per capture of each.
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "capture/CaptureCommands.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"
#include "support/BenchDesktop.h"
#include "support/BusyScreen.h"
#include "support/TestPort.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 15;

struct Figure
{
    QString name;
    double median = 0, mean = 0;
};

Figure measure(const QString &name, const std::function<bool()> &run)
{
    run(); // warm-up
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!run()) {
            std::fprintf(stderr, "%s failed\n", qPrintable(name));
            return {name, -1, -1};
        }
        times.push_back(timer.nsecsElapsed() / 1e9);
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    return {name, times[times.size() / 2], sum / times.size()};
}

bool runTool(const XvfbSession &session, const QString &shell)
{
    return !session.run(QStringLiteral("sh"), {QStringLiteral("-c"), shell}, 60000).isNull();
}

} // namespace

int main(int argc, char **argv)
{
    BenchDesktop desktop;
    if (!desktop.start(QSize(1920, 1080), false))
        return 1;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    ModZorvin ctx;
    ctx.ProgramDir = dir.path() + QStringLiteral("/");
    ctx.MakeTempFolders(dir.path() + QStringLiteral("/tmp"));
    ctx.settings.CaptAutoSaveName = QStringLiteral("CPT");
    ctx.settings.CaptAutoSavePlace = dir.path();
    ctx.settings.CaptAutoSaveNameConst = 1;
    ctx.settings.JpegComp = 25;
    ctx.net.port = TestPort::port();
    PrintingHost host;
    NetEngine engine(ctx, host);

    BusyScreen wallpaper(QStringLiteral("capture benchmark"));
    wallpaper.setGeometry(0, 0, 1920, 1080);
    wallpaper.show();
    WindowRegistry windows;
    Commands commands(ctx, engine, windows);
    RegisterCaptureCommands(ctx, engine, commands, windows);
    FrmMain &window = *loadCaptureWindow(commands);
    window.resize(800, 600);
    window.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    // Mode 0 through the capture window's own engine: grab, draw into the window, status
    // text and the follow-ups that the settings switch on.
    const auto capture = [&](int saveType) {
        return [&, saveType] {
            ctx.settings.CaptAutoSave = saveType < 0 ? 0 : 1;
            ctx.settings.CaptAutoSaveType = uint8_t(std::max(saveType, 0));
            window.capture().CaptureToPicture(0);
            return window.picture().size() == QSize(1920, 1080);
        };
    };
    const auto captureIntoWindow = capture(-1);
    const auto captureAndSave = capture;
    const QString out = dir.path() + QStringLiteral("/import");

    std::vector<Figure> figures;
    figures.push_back(measure(QStringLiteral("capture into the window"), captureIntoWindow));
    figures.push_back(measure(QStringLiteral("xwd -root"), [&] {
        return runTool(desktop.session, QStringLiteral("xwd -root -silent > '%1.xwd'").arg(out));
    }));
    figures.push_back(measure(QStringLiteral("capture + auto-save BMP"), captureAndSave(0)));
    figures.push_back(measure(QStringLiteral("import -window root BMP"), [&] {
        return runTool(desktop.session, QStringLiteral("import -window root '%1.bmp'").arg(out));
    }));
    figures.push_back(measure(QStringLiteral("capture + auto-save PNG"), captureAndSave(3)));
    figures.push_back(measure(QStringLiteral("import -window root PNG"), [&] {
        return runTool(desktop.session, QStringLiteral("import -window root '%1.png'").arg(out));
    }));
    figures.push_back(measure(QStringLiteral("capture + auto-save JPEG"), captureAndSave(2)));
    figures.push_back(measure(QStringLiteral("import -window root JPEG (quality 75)"), [&] {
        return runTool(desktop.session, QStringLiteral("import -window root -quality 75 '%1.jpg'").arg(out));
    }));

    std::printf("1920x1080 screen, %d rounds each, seconds per capture\n", kRounds);
    std::printf("%-40s %10s %10s\n", "", "median", "mean");
    for (const Figure &f : figures)
        std::printf("%-40s %10.4f %10.4f\n", qPrintable(f.name), f.median, f.mean);
    std::printf("file sizes: BMP %lld, PNG %lld, JPEG %lld; import PNG %lld\n",
                QFileInfo(dir.path() + QStringLiteral("/CPT.BMP")).size(),
                QFileInfo(dir.path() + QStringLiteral("/CPT.PNG")).size(),
                QFileInfo(dir.path() + QStringLiteral("/CPT.JPG")).size(),
                QFileInfo(out + QStringLiteral(".png")).size());
    return 0;
}
