// Captures on a real Wayland desktop: a headless sway with the screenshot portals, started
// by this test as a user of its own. The test runs itself inside that session (Qt on
// Wayland) for the captures; a copy of it on a bus without any portal checks the failure.
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "capture/FrmSelect.h"
#include "ui/Commands.h"
#include "app/FrmAbout.h"
#include "net/Identity.h"
#include "base/StartOptions.h"
#include "platform/ScreenPlatform.h"
#include "platform/wayland/ScreenshotPortal.h"
#include "support/CaptureSetup.h"
#include "support/SolidWindow.h"
#include "support/WaylandSession.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Where the inner copies run: in the session, or in it on a bus without a portal.
constexpr char kInnerVariable[] = "ZORVIN_WAYLAND_INNER";

const QSize kScreen(800, 600);
const QRect kProbe(120, 90, 200, 150);
const QColor kDesktop(255, 0, 0);
const QColor kProbeColour(0, 200, 0);
const QString kProbeTitle = QStringLiteral("zorvin-probe");

const QString kNoSingleWindow =
    QStringLiteral("このデスクトップでは、ほかのプログラムのウィンドウを 1 つだけ取り込むことはできません。");

// The desktop is one colour; the probe floats without a border at a known place, so every
// pixel of a capture has a known colour.
QStringList swayLines()
{
    return {QStringLiteral("output * bg #ff0000 solid_color"), QStringLiteral("default_border none"),
            QStringLiteral("default_floating_border none"),
            QStringLiteral("for_window [title=\"^%1$\"] floating enable, move position %2 %3")
                .arg(kProbeTitle)
                .arg(kProbe.x())
                .arg(kProbe.y())};
}

// The number of pixels of `rect` in `image` that are not `colour`.
int pixelsOtherThan(const QImage &image, const QRect &rect, const QColor &colour)
{
    int other = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (image.pixelColor(x, y).rgb() != colour.rgb())
                ++other;
        }
    }
    return other;
}

// The capture has come, or it failed (the spy of captureFailed then says why).
bool waitForCapture(QSignalSpy &captured, QSignalSpy &failed)
{
    const int before = captured.count();
    return QTest::qWaitFor([&] { return captured.count() > before || !failed.isEmpty(); }, 40000) &&
           captured.count() > before;
}

QString failureOf(const QSignalSpy &failed)
{
    return failed.isEmpty() ? QStringLiteral("no answer") : failed.last().at(0).toString();
}

// Where sway shows the window of that title, empty while it shows none: a window's node is
// visible once its first picture has come (being exposed in Qt comes before that), and only
// then do the portal's screenshots show it.
QRect swayShows(const QString &title)
{
    QProcess swaymsg;
    swaymsg.start(QStringLiteral("swaymsg"),
                  {QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_tree")});
    if (!swaymsg.waitForFinished(10000))
        return {};
    std::function<QRect(const QJsonObject &)> find = [&find, &title](const QJsonObject &node) {
        if (node.value(QLatin1String("name")).toString() == title &&
            node.value(QLatin1String("visible")).toBool()) {
            const QJsonObject rect = node.value(QLatin1String("rect")).toObject();
            return QRect(rect.value(QLatin1String("x")).toInt(), rect.value(QLatin1String("y")).toInt(),
                         rect.value(QLatin1String("width")).toInt(),
                         rect.value(QLatin1String("height")).toInt());
        }
        for (const char *children : {"nodes", "floating_nodes"}) {
            for (const QJsonValue child : node.value(QLatin1String(children)).toArray()) {
                if (const QRect found = find(child.toObject()); !found.isEmpty())
                    return found;
            }
        }
        return QRect();
    };
    return find(QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object());
}

// The screen as grim (the wlroots screenshot tool) reads it, for waiting until a window's
// first picture is really on the screen.
QImage grimShot()
{
    QProcess grim;
    grim.start(QStringLiteral("grim"), {QStringLiteral("-t"), QStringLiteral("ppm"), QStringLiteral("-")});
    if (!grim.waitForFinished(10000))
        return {};
    return QImage::fromData(grim.readAllStandardOutput(), "PPM");
}

} // namespace

// Runs inside the sway session.
class InSession : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void wholeScreenShowsTheWindowAtItsPlaceWithoutOurs();
    void workAreaIsTheAvailableGeometry();
    void areaSelectionFreezesTheScreenAndCutsTheDrag();
    void singleWindowModesSayWhyAndCaptureNothing();
    void missingPortalSaysSoOnceAndGivesNoPicture();
    void aboutBoxNamesTheBackEndTheSessionChose();

  private:
    std::unique_ptr<CaptureSetup> m_setup;
    std::unique_ptr<SolidWindow> m_probe;
    FrmMain *m_window = nullptr;
};

void InSession::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
    QCOMPARE(ScreenPlatform::backendInUse(QString()), ScreenPlatform::Backend::Wayland);
    m_probe = std::make_unique<SolidWindow>(kProbeColour, kProbe.size(), kProbeTitle);
    m_probe->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_probe.get()));
    QTRY_COMPARE_WITH_TIMEOUT(swayShows(kProbeTitle), kProbe, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(pixelsOtherThan(grimShot(), kProbe, kProbeColour), 0, 20000);
}

void InSession::init()
{
    m_setup = std::make_unique<CaptureSetup>();
    m_setup->ctx.settings.CaptExeHide1 = 1;
    m_setup->ctx.settings.CaptExeHide2 = 1;
    m_window = loadCaptureWindow(*m_setup->commands);
    QVERIFY(m_window);
    QCOMPARE(m_window->platform().name(), QStringLiteral("wayland"));
    m_window->capture().setDelayTickInterval(20);
}

void InSession::cleanup()
{
    m_setup.reset();
}

void InSession::wholeScreenShowsTheWindowAtItsPlaceWithoutOurs()
{
    // The capture window is tiled over the whole output: only its hiding lets the desktop
    // colour through around the probe.
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QSignalSpy captured(&m_window->capture(), &CaptureEngine::captured);
    QSignalSpy failed(&m_window->capture(), &CaptureEngine::captureFailed);
    m_window->GetCaptureItem(CaptDeskTop);
    QVERIFY(!m_window->isVisible());
    QVERIFY2(waitForCapture(captured, failed), qPrintable(failureOf(failed)));

    const QImage picture = m_window->picture();
    QCOMPARE(picture.size(), kScreen);
    QVERIFY2(pixelsOtherThan(picture, kProbe, kProbeColour) == 0,
             qPrintable(QStringLiteral("the probe's centre is %1; sway placed it: %2")
                            .arg(picture.pixelColor(kProbe.center()).name())
                            .arg(swayShows(kProbeTitle) == kProbe)));
    // Its edges are where the desktop put it: one pixel out is the desktop.
    QCOMPARE(picture.pixelColor(kProbe.topLeft() - QPoint(1, 1)).rgb(), kDesktop.rgb());
    QCOMPARE(picture.pixelColor(kProbe.bottomRight() + QPoint(1, 1)).rgb(), kDesktop.rgb());
    QCOMPARE(pixelsOtherThan(picture, QRect(0, 0, kScreen.width(), kProbe.top()), kDesktop), 0);
    QCOMPARE(pixelsOtherThan(picture, QRect(0, kProbe.bottom() + 1, kScreen.width(), 50), kDesktop), 0);
    QCOMPARE(m_window->statusText(1), QStringLiteral("800*600 ｷｬﾌﾟﾁｬ"));
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->HasPicture());
}

void InSession::workAreaIsTheAvailableGeometry()
{
    QSignalSpy captured(&m_window->capture(), &CaptureEngine::captured);
    QSignalSpy failed(&m_window->capture(), &CaptureEngine::captureFailed);
    m_window->GetCaptureItem(CaptDeskTop1);
    QVERIFY2(waitForCapture(captured, failed), qPrintable(failureOf(failed)));
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen->availableGeometry().translated(-screen->geometry().topLeft());
    const QRect work(available.topLeft() * screen->devicePixelRatio(),
                     available.size() * screen->devicePixelRatio());
    QCOMPARE(m_window->picture().size(), work.size());
    const QRect probeInWork = kProbe.translated(-work.topLeft()).intersected(QRect(QPoint(), work.size()));
    QVERIFY(!probeInWork.isEmpty());
    QCOMPARE(pixelsOtherThan(m_window->picture(), probeInWork, kProbeColour), 0);
    // The capture window was hidden before the command: it stays so.
    QVERIFY(!m_window->isVisible());
}

void InSession::areaSelectionFreezesTheScreenAndCutsTheDrag()
{
    QSignalSpy captured(&m_window->capture(), &CaptureEngine::captured);
    QSignalSpy failed(&m_window->capture(), &CaptureEngine::captureFailed);
    m_window->GetCaptureItem(CaptRect);
    QWidget *overlay = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((overlay = m_setup->windows->find(FrmSelect::kKind)) != nullptr, 20000);
    QVERIFY(QTest::qWaitForWindowExposed(overlay));
    QTRY_COMPARE(overlay->size(), kScreen);
    QCOMPARE(overlay->mapToGlobal(QPoint(0, 0)), QPoint(0, 0));

    // From inside the probe to the desktop beyond its corner.
    const QPoint from = kProbe.topLeft() + QPoint(50, 40);
    const QPoint to = kProbe.bottomRight() + QPoint(30, 20);
    QTest::mousePress(overlay, Qt::LeftButton, {}, from);
    QTest::mouseMove(overlay, to);
    QTest::mouseRelease(overlay, Qt::LeftButton, {}, to);
    QVERIFY2(waitForCapture(captured, failed), qPrintable(failureOf(failed)));

    const QImage picture = m_window->picture();
    QCOMPARE(picture.size(), QSize(to.x() - from.x(), to.y() - from.y()));
    const QRect probePart = QRect(from, kProbe.bottomRight()).translated(-from);
    QCOMPARE(pixelsOtherThan(picture, probePart, kProbeColour), 0);
    QCOMPARE(picture.pixelColor(picture.width() - 1, picture.height() - 1).rgb(), kDesktop.rgb());
    QVERIFY(!m_setup->windows->find(FrmSelect::kKind));
}

void InSession::singleWindowModesSayWhyAndCaptureNothing()
{
    // sway's portal hands out the whole screen only: no picker to offer.
    QVERIFY(!m_window->platform().offersUserPick());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QSignalSpy captured(&m_window->capture(), &CaptureEngine::captured);
    QSignalSpy failed(&m_window->capture(), &CaptureEngine::captureFailed);
    m_window->GetCaptureItem(CaptAct);
    QCOMPARE(captured.count(), 1);
    QCOMPARE(captured.at(0).at(1).toSize(), QSize(0, 0));
    QVERIFY(m_window->picture().isNull());
    QCOMPARE(m_window->statusNotice(), kNoSingleWindow);
    QCOMPARE(m_window->statusText(1), QStringLiteral("0*0 ｷｬﾌﾟﾁｬ"));
    QVERIFY(!m_window->capture().isCapturing());

    m_window->CaptHotKey(CaptAct1);
    QCOMPARE(captured.count(), 2);
    QCOMPARE(m_window->statusNotice(), kNoSingleWindow);
    // A whole-screen capture afterwards takes the notice away.
    m_window->GetCaptureItem(CaptDeskTop);
    QVERIFY2(waitForCapture(captured, failed), qPrintable(failureOf(failed)));
    QCOMPARE(m_window->statusNotice(), QString());
    QCOMPARE(m_window->picture().size(), kScreen);
}

void InSession::missingPortalSaysSoOnceAndGivesNoPicture()
{
    // A bus of our own that knows no services at all.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile config(dir.filePath(QStringLiteral("bus.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(
        QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                       "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                       "<policy context=\"default\"><allow send_destination=\"*\"/><allow own=\"*\"/>"
                       "</policy></busconfig>\n")
            .arg(dir.path())
            .toUtf8());
    config.close();
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                                              QStringLiteral("--config-file=") + config.fileName()});
    QVERIFY(bus.waitForStarted());
    QVERIFY(bus.waitForReadyRead(10000));
    const QString address = QString::fromLatin1(bus.readLine()).trimmed();
    QVERIFY(!address.isEmpty());

    QProcess copy;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kInnerVariable), QStringLiteral("noportal"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    copy.setProcessEnvironment(env);
    copy.setProcessChannelMode(QProcess::MergedChannels);
    copy.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(copy.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(copy.readAll());
    QVERIFY2(copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("PASS   : NoPortal::captureFailsWithOneMessage")),
             qPrintable(output));
    bus.kill();
    bus.waitForFinished();
}

void InSession::aboutBoxNamesTheBackEndTheSessionChose()
{
    // No --platform-backend: the session alone makes it Wayland.
    QVERIFY(m_setup->ctx.PlatformBackend.isEmpty());
    const Identity noKey;
    FrmAbout about(m_setup->ctx, noKey);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QVERIFY2(about.text().endsWith(QStringLiteral("\n画面の取り込み：Wayland (xdg-desktop-portal)")),
             qPrintable(about.text()));
    QRect shown;
    QTRY_VERIFY_WITH_TIMEOUT(!(shown = swayShows(about.windowTitle())).isEmpty(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(
        pixelsOtherThan(grimShot(), shown, kDesktop) > shown.width() * shown.height() / 2, 20000);

    // The desktop with the box on it, through the portal, for looking at.
    QSignalSpy captured(&m_window->capture(), &CaptureEngine::captured);
    QSignalSpy failed(&m_window->capture(), &CaptureEngine::captureFailed);
    m_window->GetCaptureItem(CaptDeskTop);
    QVERIFY2(waitForCapture(captured, failed), qPrintable(failureOf(failed)));
    QCOMPARE(m_window->picture().size(), kScreen);
    const QString shots = qEnvironmentVariable("ZORVIN_SHOT_DIR");
    if (!shots.isEmpty())
        QVERIFY(m_window->picture().save(shots + QStringLiteral("/capture-mode0-sway.png")));
    // The box is in the picture: its place is not the desktop's colour.
    QVERIFY2(pixelsOtherThan(m_window->picture(), shown, kDesktop) > shown.width() * shown.height() / 2,
             qPrintable(QStringLiteral("the box at %1,%2 %3x%4")
                            .arg(shown.x())
                            .arg(shown.y())
                            .arg(shown.width())
                            .arg(shown.height())));
}

// Runs in the session, on a bus where no portal answers.
class NoPortal : public QObject
{
    Q_OBJECT
  private slots:
    void captureFailsWithOneMessage();
};

void NoPortal::captureFailsWithOneMessage()
{
    CaptureSetup setup;
    FrmMain *window = loadCaptureWindow(*setup.commands);
    QVERIFY(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    setup.ctx.settings.CaptExeHide1 = 1;
    QSignalSpy captured(&window->capture(), &CaptureEngine::captured);
    QSignalSpy failed(&window->capture(), &CaptureEngine::captureFailed);

    for (int attempt = 1; attempt <= 2; ++attempt) {
        window->GetCaptureItem(CaptDeskTop);
        QVERIFY(failed.wait(20000));
        QCOMPARE(failed.count(), attempt);
        QCOMPARE(failed.last().at(0).toString(), ScreenshotPortal::kMissingText);
        QCOMPARE(captured.count(), 0);
        QVERIFY(window->picture().isNull());
        QVERIFY(!window->HasPicture());
        QCOMPARE(window->statusNotice(), ScreenshotPortal::kMissingText);
        // The window hidden for the capture is back.
        QVERIFY(window->isVisible());
        QVERIFY(!window->capture().isCapturing());
    }
    // Told in a box once; the second failure only in the status bar.
    QCOMPARE(setup.host.asked, QStringList{ScreenshotPortal::kMissingText});
}

// Runs as root: starts the session and the copy of itself in it.
class TstWayland : public QObject
{
    Q_OBJECT
  private slots:
    void backendFollowsTheSessionUnlessTold();
    void capturesInASwaySession();
};

void TstWayland::backendFollowsTheSessionUnlessTold()
{
    using B = ScreenPlatform::Backend;
    const QString xcb = QStringLiteral("xcb");
    const QString wayland = QStringLiteral("wayland");
    // A Wayland session takes the portal whether Qt runs there or through XWayland.
    QCOMPARE(ScreenPlatform::chooseBackend(QString(), true, wayland), B::Wayland);
    QCOMPARE(ScreenPlatform::chooseBackend(QString(), true, xcb), B::Wayland);
    QCOMPARE(ScreenPlatform::chooseBackend(QString(), false, xcb), B::X11);
    QCOMPARE(ScreenPlatform::chooseBackend(QString(), false, QStringLiteral("offscreen")), B::Null);
    QCOMPARE(ScreenPlatform::chooseBackend(QStringLiteral("x11"), true, xcb), B::X11);
    // X11 needs Qt on xcb.
    QCOMPARE(ScreenPlatform::chooseBackend(QStringLiteral("x11"), true, wayland), B::Null);
    QCOMPARE(ScreenPlatform::chooseBackend(wayland, false, xcb), B::Wayland);

    QVERIFY(ScreenshotPortal::desktopPicksWindows(QStringLiteral("GNOME")));
    QVERIFY(ScreenshotPortal::desktopPicksWindows(QStringLiteral("ubuntu:GNOME")));
    QVERIFY(ScreenshotPortal::desktopPicksWindows(QStringLiteral("KDE")));
    QVERIFY(!ScreenshotPortal::desktopPicksWindows(QStringLiteral("sway:gnome")));
    QVERIFY(!ScreenshotPortal::desktopPicksWindows(QStringLiteral("Hyprland")));
    QVERIFY(!ScreenshotPortal::desktopPicksWindows(QString()));

    const auto parsed = [](const char *name) {
        return ParseCommandLine(
            {QStringLiteral("zorvin"), QStringLiteral("--platform-backend"), QString::fromLatin1(name)});
    };
    QCOMPARE(parsed("wayland").platformBackend, wayland);
    QCOMPARE(parsed("x11").platformBackend, QStringLiteral("x11"));
    QVERIFY(parsed("x11").error.isEmpty());
    QVERIFY(!parsed("mir").error.isEmpty());
    QVERIFY(ParseCommandLine({QStringLiteral("zorvin")}).platformBackend.isEmpty());
}

void TstWayland::capturesInASwaySession()
{
    const QString reason =
        WaylandSession::unavailableReason({QStringLiteral("grim"), QStringLiteral("swaymsg")});
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    WaylandSession session;
    // Pictures for looking at go to the session's exchange folder first: the session's user
    // may not write where this test may.
    const QString shots = qEnvironmentVariable("ZORVIN_SHOT_DIR");
    QStringList environment = {QString::fromLatin1(kInnerVariable) + QStringLiteral("=session"),
                               QStringLiteral("QT_QPA_PLATFORM=wayland")};
    if (!shots.isEmpty())
        environment << QStringLiteral("ZORVIN_SHOT_DIR=") + session.exchangeDir();
    const WaylandSession::Result result =
        session.run(kScreen, swayLines(), QCoreApplication::applicationFilePath(), {}, environment, 240000);
    if (!shots.isEmpty()) {
        QDir().mkpath(shots);
        const QString shot = QStringLiteral("/capture-mode0-sway.png");
        QFile::remove(shots + shot);
        QFile::copy(session.exchangeDir() + shot, shots + shot);
    }
    if (!result.sessionUp)
        QSKIP(qPrintable(QStringLiteral("the Wayland session did not start:\n") + result.output));
    qInfo().noquote() << result.output;
    QVERIFY2(result.exitCode == 0, "the captures in the session failed (output above)");
    // Every case ran, none was skipped.
    QVERIFY(result.output.contains(QLatin1String("Totals: 8 passed, 0 failed, 0 skipped")));
}

int main(int argc, char **argv)
{
    const QByteArray inner = qgetenv(kInnerVariable);
    if (inner.isEmpty()) {
        QCoreApplication app(argc, argv);
        TstWayland test;
        return QTest::qExec(&test, argc, argv);
    }
    QApplication app(argc, argv);
    if (inner == "noportal") {
        NoPortal test;
        return QTest::qExec(&test, argc, argv);
    }
    InSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wayland.moc"
