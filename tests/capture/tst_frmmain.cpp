// The capture window under a real X server (Xvfb + openbox): captures and their status
// text, click captures of windows that take no focus and of the desktop, the armed click's
// notice and its cancel, the enabling rules and the actions the window shares with the
// tray with their standard keys, a reordered toolbar, the clipboard watch against another
// program (xclip), copy, drops, and the paint-program hand-off.
#include "net/AddressStore.h"
#include "capture/CaptureArrival.h"
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "capture/FrmToolbarEdit.h"
#include "ui/PrintTarget.h"
#include "ui/ToolbarLayout.h"
#include "capture/CaptureCommands.h"
#include "ui/Commands.h"
#include "support/RecordingHost.h"
#include "base/ModZorvin.h"
#include "app/TrayIcon.h"
#include "app/TrayMenu.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"
#include "platform/ScreenPlatform.h"
#include "support/SolidWindow.h"
#include "support/TestPort.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

namespace {

QImage solidImage(const QSize &size, const QColor &color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    QPainter(&image).fillRect(0, 0, 4, 4, Qt::black); // a corner to tell the orientation
    return image;
}

const QString kUnsupported = QStringLiteral("未サポートのファイル形式です。");

// The sub-menu under `root` whose entry carries that name ("mnuCapture", "mnuPFile", ...).
QMenu *subMenu(QWidget *root, const QString &name)
{
    for (QMenu *menu : root->findChildren<QMenu *>()) {
        if (menu->menuAction()->objectName() == name)
            return menu;
    }
    return nullptr;
}

} // namespace

class TstFrmMain : public QObject
{
    Q_OBJECT
  public:
    TstFrmMain(XvfbSession &session, const QString &skipReason) : m_session(session), m_skip(skipReason) {}

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeScreenCaptureShowsItsSizeAndEnablesPictureCommands();
    void windowHiddenForCaptureIsNotInThePictureAndComesBack();
    void windowHiddenBeforeCaptureStaysHidden();
    void delayedCaptureTakesTheActiveWindowFrameAndClient();
    void armedClickCapturesTheClickedWindow();
    void clickCaptureTakesAWindowWithoutFocusOrTheDesktop();
    void escapeOrAnotherCaptureCommandEndsAnArmedClick();
    void engineTellsItsWindowWhatToDoAndWorksWithoutOne();
    void reorderedToolbarKeepsMeaningAndIsRestored();
    void customiseDialogAddsRemovesMovesAndResets();
    void pasteFollowsClipboardOfAnotherProgram();
    void copyHandsThePictureToAnotherProgram();
    void dropsLoadRefuseOrOfferForSending();
    void paintProgramGetsTheBitmapFile();
    void toolMenuOpensTodaysLogAndTheReceivedFolder();
    void autoTransferQueuesOneJobPerAvailableTarget();
    void areaCaptureWithoutOverlayGivesThePictureBack();
    void emptyCaptureIsHandledQuietly();
    void trayMenuShowsHidesAndCaptures();
    void closeUnloadsTheWindow();
    void secondCaptureCommandWhileOneRunsIsRefused();
    void newCommandReplacesAWaitingDelayOrArmedClick();
    void closeDuringACaptureWaitEndsTheCapture_data();
    void closeDuringACaptureWaitEndsTheCapture();
    void oneActionServesToolbarMenusPopupAndTray();
    void commandWithoutItsWindowStaysDisabled();
    void standardKeysActInTheCaptureWindowAndShowInMenusAndTips();

  private:
    FrmMain *makeWindow();
    // Shows the window with its viewport in `marker`; the viewport's centre on the screen,
    // or a null point when the window did not come up.
    QPoint showMarked(FrmMain &window, const QColor &marker);
    void dropOn(FrmMain &window, const QList<QUrl> &urls);
    // Arms a click capture of `mode` in `window` and clicks at a screen point with a real
    // pointer; true once the capture has come.
    bool clickCapture(FrmMain &window, int mode, const QPoint &at);

    XvfbSession &m_session;
    QString m_skip;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModZorvin> m_ctx;
    std::unique_ptr<RecordingHost> m_host;
    std::unique_ptr<NetEngine> m_engine;
    std::unique_ptr<WindowRegistry> m_windows;
    std::unique_ptr<Commands> m_commands;
    QPointer<FrmMain> m_window;
};

void TstFrmMain::initTestCase()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    QVERIFY(QGuiApplication::platformName() == QLatin1String("xcb"));
}

void TstFrmMain::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The toolbar layout lives in the user's Qt settings: keep it inside this test.
    qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toUtf8());
    QSettings(QStringLiteral("Velmora"), QStringLiteral("Zorvin")).clear();
    m_ctx = std::make_unique<ModZorvin>();
    m_ctx->ProgramDir = m_dir->path() + u'/';
    m_ctx->MakeTempFolders(m_dir->filePath(QStringLiteral("tmp")) + u'/');
    m_ctx->settings.IntTimer = QStringLiteral("0");
    m_ctx->net.port = TestPort::port();
    m_host = std::make_unique<RecordingHost>();
    m_engine = std::make_unique<NetEngine>(*m_ctx, *m_host);
    m_host->listen(m_engine->events());
    m_windows = std::make_unique<WindowRegistry>();
    m_commands = std::make_unique<Commands>(*m_ctx, *m_engine, *m_windows);
    RegisterCaptureCommands(*m_ctx, *m_engine, *m_commands, *m_windows);
}

void TstFrmMain::cleanup()
{
    m_windows.reset();
    m_commands.reset();
    m_engine.reset();
    m_host.reset();
    m_ctx.reset();
    m_dir.reset();
}

FrmMain *TstFrmMain::makeWindow()
{
    m_window = loadCaptureWindow(*m_commands);
    return m_window;
}

QPoint TstFrmMain::showMarked(FrmMain &window, const QColor &marker)
{
    window.setBackgroundColor(marker);
    window.setGeometry(100, 100, 400, 300);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {};
    QWidget *viewport = window.viewport()->viewport();
    return viewport->mapToGlobal(viewport->rect().center());
}

void TstFrmMain::wholeScreenCaptureShowsItsSizeAndEnablesPictureCommands()
{
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    const QStringList pictureKeys = {"FileSave", "CaptClear", "ClipCut", "ClipCopy"};
    for (const QString &key : pictureKeys)
        QVERIFY2(!w.toolbarAction(key)->isEnabled(), qPrintable(key));
    for (const QString &key :
         {"FileOpen", "CaptDeskTop", "CaptDeskTop1", "CaptRect", "CaptAct", "CaptAct1", "Help"})
        QVERIFY2(w.toolbarAction(key)->isEnabled(), qPrintable(key));
    // Without a running network and without the send dialog, sending stays off.
    for (const QString &key : {"PicTran", "MessTran", "FileTran", "Print", "Paint"})
        QVERIFY2(!w.toolbarAction(key)->isEnabled(), qPrintable(key));

    w.toolbarAction(QStringLiteral("CaptDeskTop"))->trigger();
    const QSize screen =
        QGuiApplication::primaryScreen()->size() * QGuiApplication::primaryScreen()->devicePixelRatio();
    QCOMPARE(w.statusText(1), QStringLiteral("%1*%2 ｷｬﾌﾟﾁｬ").arg(screen.width()).arg(screen.height()));
    QCOMPARE(w.picture().size(), screen);
    QVERIFY(w.HasPicture());
    for (const QString &key : pictureKeys)
        QVERIFY2(w.toolbarAction(key)->isEnabled(), qPrintable(key));
    QVERIFY(!w.toolbarAction(QStringLiteral("PicTran"))->isEnabled());
    // A picture larger than the viewport scrolls.
    QVERIFY(w.viewport()->horizontalScrollBar()->maximum() > 0);

    // The paint program needs both a picture and a program.
    m_ctx->settings.PicEditApp = QStringLiteral("/bin/true");
    w.SetToolbar();
    QVERIFY(w.toolbarAction(QStringLiteral("Paint"))->isEnabled());

    w.toolbarAction(QStringLiteral("CaptClear"))->trigger();
    QCOMPARE(w.statusText(1), QString());
    QVERIFY(!w.HasPicture());
    for (const QString &key : pictureKeys)
        QVERIFY2(!w.toolbarAction(key)->isEnabled(), qPrintable(key));
    QVERIFY(!w.menuAction(QStringLiteral("mnuSave"))->isEnabled());
}

void TstFrmMain::windowHiddenForCaptureIsNotInThePictureAndComesBack()
{
    m_ctx->settings.CaptExeHide1 = 1;
    FrmMain &w = *makeWindow();
    const QColor marker(255, 0, 255);
    const QPoint centre = showMarked(w, marker);
    QVERIFY(!centre.isNull());
    QCOMPARE(QGuiApplication::primaryScreen()
                 ->grabWindow(0, centre.x(), centre.y(), 1, 1)
                 .toImage()
                 .pixelColor(0, 0),
             marker);

    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);
    w.GetCaptureItem(CaptDeskTop);
    // The command returns while the window manager takes the window away.
    QVERIFY(w.capture().isCapturing());
    QVERIFY(!w.isVisible());
    // The follow-ups report before the capture ends, with the window back: no tray notice.
    QList<bool> shownAtFollowUps;
    connect(&w.captureArrival(), &CaptureArrival::followUpsDone, this, [&](const CaptureFollowUps &done) {
        QVERIFY(captured.isEmpty());
        shownAtFollowUps << done.windowShown;
    });
    QVERIFY(captured.wait(5000));
    QCOMPARE(shownAtFollowUps, QList<bool>{true});
    QVERIFY(w.isVisible());
    QVERIFY(!w.capture().MainHiddenForCapture());
    QVERIFY(w.picture().pixelColor(centre) != marker);
}

void TstFrmMain::windowHiddenBeforeCaptureStaysHidden()
{
    m_ctx->settings.CaptExeHide1 = 1;
    FrmMain &w = *makeWindow();
    w.GetCaptureItem(CaptDeskTop1);
    QVERIFY(!w.isVisible());
    QVERIFY(w.HasPicture());
    // openbox publishes a work area; without panels it is the whole screen.
    QCOMPARE(w.picture().size(), QGuiApplication::primaryScreen()->size());
}

void TstFrmMain::delayedCaptureTakesTheActiveWindowFrameAndClient()
{
    const QColor green(20, 200, 60);
    SolidWindow target(green, QSize(300, 200));
    target.move(300, 250);
    target.show();
    QVERIFY(QTest::qWaitForWindowExposed(&target));
    target.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&target));

    FrmMain &w = *makeWindow();
    m_ctx->settings.ActCaptMode = 0;
    m_ctx->settings.IntTimer = QStringLiteral("0.5");
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);

    w.GetCaptureItem(CaptAct1);
    QCOMPARE(w.capture().CaptWaitTicks(), int16_t(1));
    QVERIFY(w.capture().delayRunning());
    QVERIFY(captured.wait(5000));
    QCOMPARE(w.statusText(1), QStringLiteral("300*200 ｷｬﾌﾟﾁｬ"));
    QCOMPARE(w.picture().pixelColor(150, 100), green);
    QCOMPARE(w.picture().pixelColor(0, 0), green);

    w.GetCaptureItem(CaptAct);
    QVERIFY(captured.wait(5000));
    const QSize frame = w.picture().size();
    QVERIFY2(frame.width() > 300 && frame.height() > 200, qPrintable(w.statusText(1)));
    // The title bar is on top: the client starts lower than it does on the sides.
    const int side = (frame.width() - 300) / 2;
    QCOMPARE(w.picture().pixelColor(side + 150, frame.height() - side - 100), green);
    QVERIFY(w.picture().pixelColor(frame.width() / 2, 1) != green);

    // A hotkey capture of the active window neither waits nor arms a click.
    m_ctx->settings.IntTimer = QStringLiteral("3");
    w.CaptHotKey(CaptAct1);
    QCOMPARE(captured.size(), 3);
    QVERIFY(!w.capture().delayRunning());
    QCOMPARE(w.statusText(1), QStringLiteral("300*200 ｷｬﾌﾟﾁｬ"));
    m_ctx->settings.ActCaptMode = 1;
    w.CaptHotKey(CaptAct);
    QCOMPARE(captured.size(), 4);
    QCOMPARE(w.capture().ArmedClickMode(), int16_t(0));
    QCOMPARE(w.picture().size(), frame);
}

void TstFrmMain::armedClickCapturesTheClickedWindow()
{
    const QColor blue(30, 60, 220);
    SolidWindow target(blue, QSize(240, 160));
    target.move(500, 120);
    target.show();
    QVERIFY(QTest::qWaitForWindowExposed(&target));

    FrmMain &w = *makeWindow();
    w.setGeometry(40, 40, 300, 200);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    m_ctx->settings.ActCaptMode = 1;
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);

    w.GetCaptureItem(CaptAct1);
    QTRY_COMPARE(w.capture().ArmedClickMode(), int16_t(CaptAct1));
    QVERIFY(w.platform().pointerGrabbed());
    QVERIFY(captured.isEmpty());

    const QPoint centre = target.mapToGlobal(target.rect().center());
    // xdotool runs while this process serves the grab, so it is started, not waited for.
    QProcess click;
    click.start(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
                 QStringLiteral("click"), QStringLiteral("1")});
    QVERIFY(captured.wait(5000));
    QTRY_VERIFY(click.state() == QProcess::NotRunning);
    QCOMPARE(w.statusText(1), QStringLiteral("240*160 ｷｬﾌﾟﾁｬ"));
    QCOMPARE(w.picture().pixelColor(120, 80), blue);
    QVERIFY(!w.platform().pointerGrabbed());
}

bool TstFrmMain::clickCapture(FrmMain &window, int mode, const QPoint &at)
{
    QSignalSpy captured(&window.capture(), &CaptureEngine::captured);
    window.GetCaptureItem(mode);
    if (!QTest::qWaitFor([&] { return window.capture().ArmedClickMode() == mode; }))
        return false;
    // xdotool runs while this process serves the grab, so it is started, not waited for.
    QProcess click;
    click.start(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                 QStringLiteral("click"), QStringLiteral("1")});
    const bool came = captured.wait(10000);
    click.waitForFinished();
    return came && captured.size() == 1;
}

void TstFrmMain::clickCaptureTakesAWindowWithoutFocusOrTheDesktop()
{
    // xclock takes no focus, so the window manager refuses to make it the active window.
    QProcess clock;
    clock.start(QStringLiteral("xclock"), {QStringLiteral("-geometry"), QStringLiteral("200x150+700+300")});
    QVERIFY(clock.waitForStarted());
    QString clockId;
    QTRY_VERIFY_WITH_TIMEOUT(!(clockId = m_session
                                             .run(QStringLiteral("xdotool"),
                                                  {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                   QStringLiteral("--name"), QStringLiteral("^xclock$")})
                                             .trimmed())
                                  .isEmpty(),
                             10000);

    FrmMain &w = *makeWindow();
    w.setGeometry(40, 40, 300, 200);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    m_ctx->settings.ActCaptMode = 1;
    const QRect clockClient = w.platform().windowClientRect(clockId.toULongLong());
    QCOMPARE(clockClient.size(), QSize(200, 150));

    QVERIFY(clickCapture(w, CaptAct1, clockClient.center()));
    QCOMPARE(w.statusText(1), QStringLiteral("200*150 ｷｬﾌﾟﾁｬ"));
    QVERIFY(w.platform().foregroundWindow() != clockId.toULongLong());

    // Where no window is, the desktop: the whole screen, in both modes.
    const QSize screen = w.platform().screenSize();
    const QPoint nowhere(screen.width() - 30, screen.height() - 30);
    QVERIFY(clickCapture(w, CaptAct, nowhere));
    QCOMPARE(w.picture().size(), screen);
    QVERIFY(clickCapture(w, CaptAct1, nowhere));
    QCOMPARE(w.picture().size(), screen);
    clock.kill();
    clock.waitForFinished();
}

void TstFrmMain::escapeOrAnotherCaptureCommandEndsAnArmedClick()
{
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.setPicture(solidImage(QSize(20, 10), Qt::red), QString());
    w.setHasPicture(true);
    w.SetToolbar();
    m_ctx->settings.ActCaptMode = 1;
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);
    auto *notice = w.findChild<QLabel *>(QStringLiteral("StBarNotice"));
    QVERIFY(notice);

    w.GetCaptureItem(CaptAct);
    QTRY_COMPARE(w.capture().ArmedClickMode(), int16_t(CaptAct));
    QCOMPARE(w.statusNotice(), QStringLiteral("ｷｬﾌﾟﾁｬするｳｨﾝﾄﾞｳをｸﾘｯｸしてください (Escで中止)"));
    QVERIFY(notice->isVisible());
    QVERIFY(!w.HasPicture());

    // Esc from the real keyboard, wherever the focus is.
    QProcess key;
    key.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    QTRY_VERIFY(!w.capture().isCapturing());
    QTRY_VERIFY(key.state() == QProcess::NotRunning);
    QCOMPARE(w.statusNotice(), QString());
    QVERIFY(!notice->isVisible());
    QVERIFY(!w.platform().pointerGrabbed());
    QVERIFY(w.HasPicture());
    QVERIFY(w.toolbarAction(QStringLiteral("FileSave"))->isEnabled());
    QVERIFY(captured.isEmpty());

    // Any other capture command ends the armed click and runs.
    w.GetCaptureItem(CaptAct1);
    QTRY_COMPARE(w.capture().ArmedClickMode(), int16_t(CaptAct1));
    w.toolbarAction(QStringLiteral("CaptDeskTop"))->trigger();
    QCOMPARE(captured.size(), 1);
    QCOMPARE(captured[0][0].toInt(), int(CaptDeskTop));
    QCOMPARE(w.picture().size(), w.platform().screenSize());
    QCOMPARE(w.capture().ArmedClickMode(), int16_t(0));
    QCOMPARE(w.statusNotice(), QString());
    QVERIFY(!w.platform().pointerGrabbed());

    // So does an active-window hotkey, which captures the foreground window at once.
    w.GetCaptureItem(CaptAct);
    QTRY_COMPARE(w.capture().ArmedClickMode(), int16_t(CaptAct));
    w.CaptHotKey(CaptAct1);
    QCOMPARE(captured.size(), 2);
    QCOMPARE(captured[1][0].toInt(), int(CaptAct1));
    QCOMPARE(w.capture().ArmedClickMode(), int16_t(0));
    QCOMPARE(w.statusNotice(), QString());
    QVERIFY(!w.capture().isCapturing());
}

void TstFrmMain::engineTellsItsWindowWhatToDoAndWorksWithoutOne()
{
    // A plain window stands in for the capture window: the engine knows it only by its facts.
    const QColor marker(255, 0, 255);
    SolidWindow standIn(marker, QSize(300, 200));
    standIn.move(200, 150);
    standIn.show();
    QVERIFY(QTest::qWaitForWindowExposed(&standIn));
    const QPoint centre = standIn.mapToGlobal(standIn.rect().center());
    bool hasPicture = true;
    const std::unique_ptr<ScreenPlatform> platform = ScreenPlatform::create();
    CaptureEngine engine(*m_ctx, *platform, [&] {
        return CaptureWindowFacts{standIn.isVisible(), hasPicture, standIn.frameGeometry().center(),
                                  standIn.winId()};
    });
    QStringList said;
    QImage taken;
    connect(&engine, &CaptureEngine::pictureStateChanged, this, [&](bool has) {
        hasPicture = has;
        said << QStringLiteral("picture %1").arg(has);
    });
    connect(&engine, &CaptureEngine::hideWindow, this, [&] {
        standIn.hide();
        said << QStringLiteral("hide");
    });
    connect(&engine, &CaptureEngine::restoreWindow, this, [&] { said << QStringLiteral("restore"); });
    connect(&engine, &CaptureEngine::commandsChanged, this, [&] { said << QStringLiteral("commands"); });
    connect(&engine, &CaptureEngine::statusNotice, this,
            [&](const QString &text) { said << QStringLiteral("notice ") + text; });
    connect(&engine, &CaptureEngine::pictureTaken, this, [&](const CapturedPicture &shot) {
        QVERIFY(engine.isCapturing());
        taken = shot.picture;
        if (shot.showWindow)
            standIn.show();
        said << QStringLiteral("taken %1 shown %2").arg(shot.mode).arg(shot.showWindow);
    });
    connect(&engine, &CaptureEngine::captured, this, [&] { said << QStringLiteral("captured"); });

    // Hidden for the capture: the picture is taken once the window manager took it away.
    m_ctx->settings.CaptExeHide1 = 1;
    engine.GetCaptureItem(CaptDeskTop);
    QCOMPARE(said, QStringList({"picture 0", "hide"}));
    QTRY_COMPARE_WITH_TIMEOUT(said.size(), 4, 5000);
    QCOMPARE(said, QStringList({"picture 0", "hide", "taken 0 shown 1", "captured"}));
    QCOMPARE(taken.size(), platform->screenSize());
    QVERIFY(taken.pixelColor(centre) != marker);
    QVERIFY(!engine.isCapturing() && !engine.MainHiddenForCapture());
    QVERIFY(QTest::qWaitForWindowExposed(&standIn));

    // An armed click given up: its prompt goes and the picture state comes back.
    said.clear();
    hasPicture = true;
    m_ctx->settings.ActCaptMode = 1;
    engine.GetCaptureItem(CaptAct);
    QTRY_COMPARE(engine.ArmedClickMode(), int16_t(CaptAct));
    QCOMPARE(said, QStringList({QStringLiteral("picture 0"),
                                QStringLiteral("notice ｷｬﾌﾟﾁｬするｳｨﾝﾄﾞｳをｸﾘｯｸしてください (Escで中止)")}));
    engine.CancelArmedClick();
    QCOMPARE(said.mid(2), QStringList({"notice ", "picture 1", "commands"}));
    QVERIFY(!platform->pointerGrabbed());

    // Without a window: nothing to hide, the capture comes at once.
    CaptureEngine bare(*m_ctx, *platform);
    QSignalSpy hides(&bare, &CaptureEngine::hideWindow);
    QSignalSpy captured(&bare, &CaptureEngine::captured);
    bare.GetCaptureItem(CaptDeskTop1);
    QCOMPARE(captured.size(), 1);
    QCOMPARE(captured[0][1].toSize(), platform->screenSize());
    QVERIFY(hides.isEmpty());
}

void TstFrmMain::reorderedToolbarKeepsMeaningAndIsRestored()
{
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QStringList reversed = ToolbarLayout::DefaultLayout();
    std::reverse(reversed.begin(), reversed.end());
    reversed.removeAll(QStringLiteral("Print"));
    w.applyToolbarLayout(reversed);
    ToolbarLayout::Save(w.toolbarLayout());

    const QList<QAction *> shown = w.toolBar()->actions();
    QCOMPARE(shown.first()->objectName(), QStringLiteral("Help"));
    QVERIFY(!w.toolbarAction(QStringLiteral("Print")));

    // The whole-desktop-without-taskbar button moved far from its default position 6
    // and still captures mode 1.
    QAction *capture = w.toolbarAction(QStringLiteral("CaptDeskTop1"));
    QCOMPARE(shown.indexOf(capture), reversed.indexOf(QStringLiteral("CaptDeskTop1")));
    QVERIFY(shown.indexOf(capture) + 1 > 20);
    capture->trigger();
    QCOMPARE(w.capture().CaptureMode(), int16_t(CaptDeskTop1));
    QVERIFY(w.statusText(1).endsWith(QStringLiteral(" ｷｬﾌﾟﾁｬ")));
    QVERIFY(w.toolbarAction(QStringLiteral("FileSave"))->isEnabled());
    QVERIFY(!w.toolbarAction(QStringLiteral("PicTran"))->isEnabled());

    // A new window restores the saved arrangement when it is first shown.
    const QStringList saved = w.toolbarLayout();
    QCOMPARE(saved, reversed);
    delete m_window;
    FrmMain &again = *makeWindow();
    QCOMPARE(again.toolBar()->actions().first()->objectName(), QStringLiteral("FileOpen"));
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.toolBar()->actions().first()->objectName(), QStringLiteral("Help"));
    QCOMPARE(again.toolbarLayout(), saved);
}

void TstFrmMain::customiseDialogAddsRemovesMovesAndResets()
{
    FrmToolbarEdit dialog(ToolbarLayout::DefaultLayout());
    auto rowOf = [](QListWidget *list, const QString &key) {
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->data(Qt::UserRole).toString() == key)
                return row;
        }
        return -1;
    };
    QCOMPARE(dialog.availableList()->count(), 1); // only the separator is left over

    dialog.currentList()->setCurrentRow(rowOf(dialog.currentList(), QStringLiteral("Print")));
    dialog.removeSelected();
    dialog.currentList()->setCurrentRow(rowOf(dialog.currentList(), QStringLiteral("FileOpen")));
    dialog.removeSelected();
    QVERIFY(!dialog.layout().contains(QStringLiteral("Print")));
    // Removed buttons go back in their default order after the separator.
    QCOMPARE(rowOf(dialog.availableList(), QStringLiteral("FileOpen")), 1);
    QCOMPARE(rowOf(dialog.availableList(), QStringLiteral("Print")), 2);

    // Added after the selected row; the separator stays available.
    dialog.currentList()->setCurrentRow(rowOf(dialog.currentList(), QStringLiteral("Help")));
    dialog.availableList()->setCurrentRow(rowOf(dialog.availableList(), QStringLiteral("Print")));
    dialog.addSelected();
    dialog.availableList()->setCurrentRow(0);
    dialog.addSelected();
    QCOMPARE(dialog.layout().mid(dialog.layout().size() - 3),
             (QStringList{QStringLiteral("Help"), QStringLiteral("Print"), QStringLiteral("-")}));
    QCOMPARE(dialog.availableList()->count(), 2);

    dialog.currentList()->setCurrentRow(rowOf(dialog.currentList(), QStringLiteral("Print")));
    dialog.moveSelected(-1);
    QCOMPARE(dialog.layout().indexOf(QStringLiteral("Print")),
             dialog.layout().indexOf(QStringLiteral("Help")) - 1);
    dialog.moveSelected(-1);
    QCOMPARE(dialog.layout().indexOf(QStringLiteral("Print")),
             dialog.layout().indexOf(QStringLiteral("Config")) - 1);

    dialog.reset();
    QCOMPARE(dialog.layout(), ToolbarLayout::DefaultLayout());
    QCOMPARE(dialog.availableList()->count(), 1);
}

void TstFrmMain::pasteFollowsClipboardOfAnotherProgram()
{
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAction *paste = w.toolbarAction(QStringLiteral("ClipPest"));

    const QString png = m_dir->filePath(QStringLiteral("clip.png"));
    QVERIFY(solidImage(QSize(64, 48), QColor(200, 120, 10)).save(png));
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                 QStringLiteral("image/png"), QStringLiteral("-i"), png});
    QTRY_VERIFY_WITH_TIMEOUT(paste->isEnabled(), 5000);
    QVERIFY(w.menuAction(QStringLiteral("mnuPest"))->isEnabled());

    paste->trigger();
    QCOMPARE(w.statusText(1), QStringLiteral("64*48 ﾋﾟｸﾁｬｰﾌｧｲﾙ"));
    QCOMPARE(w.picture().pixelColor(30, 30), QColor(200, 120, 10));
    QCOMPARE(w.picture().pixelColor(1, 1), QColor(Qt::black));
    QVERIFY(w.HasPicture());
    QCOMPARE(w.pictureTag(), QString());

    QProcess text;
    text.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")});
    QVERIFY(text.waitForStarted());
    text.write("just text");
    text.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(!paste->isEnabled(), 5000);
    xclip.kill();
    text.kill();
    xclip.waitForFinished();
    text.waitForFinished();
}

void TstFrmMain::copyHandsThePictureToAnotherProgram()
{
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString source = m_dir->filePath(QStringLiteral("source.png"));
    QVERIFY(solidImage(QSize(50, 40), QColor(10, 90, 160)).save(source));
    QVERIFY(w.LoadPictureFile(source));
    QCOMPARE(w.statusText(1), QStringLiteral("50*40 ﾋﾟｸﾁｬｰﾌｧｲﾙ"));
    QCOMPARE(w.pictureTag(), source);

    w.toolbarAction(QStringLiteral("ClipCopy"))->trigger();
    QVERIFY(w.toolbarAction(QStringLiteral("ClipPest"))->isEnabled());

    // This process owns the clipboard now, so it must keep serving it while xclip reads.
    QProcess reader;
    reader.start(QStringLiteral("xclip"),
                 {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                  QStringLiteral("image/png"), QStringLiteral("-o")});
    QTRY_VERIFY_WITH_TIMEOUT(reader.state() == QProcess::NotRunning, 10000);
    QCOMPARE(reader.exitCode(), 0);
    const QImage pasted = QImage::fromData(reader.readAllStandardOutput(), "PNG");
    QCOMPARE(pasted.size(), QSize(50, 40));
    QCOMPARE(pasted.pixelColor(25, 20), QColor(10, 90, 160));
    QCOMPARE(pasted.pixelColor(1, 1), QColor(Qt::black));

    // Cut copies as well, then empties the window.
    w.toolbarAction(QStringLiteral("ClipCut"))->trigger();
    QVERIFY(!w.HasPicture());
    QCOMPARE(w.statusText(1), QString());
    QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(50, 40));
}

void TstFrmMain::dropOn(FrmMain &window, const QList<QUrl> &urls)
{
    auto *mime = new QMimeData;
    if (!urls.isEmpty())
        mime->setUrls(urls);
    else
        mime->setText(QStringLiteral("plain text"));
    QWidget *target = window.viewport()->viewport();
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
    delete mime;
}

void TstFrmMain::dropsLoadRefuseOrOfferForSending()
{
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QList<std::tuple<int, QString>> sent;
    auto file = [this](const QString &name, const QByteArray &bytes) {
        const QString path = m_dir->filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    };
    const QString picture = m_dir->filePath(QStringLiteral("picture.bmp"));
    QVERIFY(solidImage(QSize(33, 22), Qt::red).save(picture, "BMP"));
    const QString gif =
        file(QStringLiteral("really-a-gif.bmp"), QByteArray("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14));
    const QString text = file(QStringLiteral("notes.txt"), "hello");
    const QString second = file(QStringLiteral("more.txt"), "more");

    // One picture: loaded.
    dropOn(w, {QUrl::fromLocalFile(picture)});
    QTRY_COMPARE(w.statusText(1), QStringLiteral("33*22 ﾋﾟｸﾁｬｰﾌｧｲﾙ"));
    QCOMPARE(w.pictureTag(), picture);

    // A GIF by content is refused whatever its name; the picture stays.
    dropOn(w, {QUrl::fromLocalFile(gif)});
    QTRY_COMPARE(m_host->asked, QStringList{kUnsupported});
    QCOMPARE(w.pictureTag(), picture);

    // A folder.
    dropOn(w, {QUrl::fromLocalFile(m_dir->path())});
    QTRY_COMPARE(m_host->asked.size(), 2);
    QCOMPARE(m_host->asked.last(), QStringLiteral("フォルダは読み込みできません。"));

    // Data without a file list.
    dropOn(w, {});
    QTRY_COMPARE(m_host->asked.size(), 3);
    QCOMPARE(m_host->asked.last(), kUnsupported);

    // Without the network a non-picture and several files are refused.
    dropOn(w, {QUrl::fromLocalFile(text)});
    QTRY_COMPARE(m_host->asked.size(), 4);
    QCOMPARE(m_host->asked.last(), kUnsupported);
    dropOn(w, {QUrl::fromLocalFile(text), QUrl::fromLocalFile(second)});
    QTRY_COMPARE(m_host->asked.size(), 5);
    QCOMPARE(m_host->asked.last(), QStringLiteral("複数ファイルの読み込みはできません。"));
    QCOMPARE(m_host->styles.last(), 0);

    // With the network they go to the send dialog in file mode.
    m_ctx->NetworkReady = true;
    m_commands->setSendDialog([&sent](const SendHandOver &handOver) {
        sent.append({handOver.kind, handOver.tag});
    });
    dropOn(w, {QUrl::fromLocalFile(text)});
    QTRY_COMPARE(sent.size(), 1);
    QCOMPARE(sent[0], std::make_tuple(2, text));
    dropOn(w, {QUrl::fromLocalFile(text), QUrl::fromLocalFile(second)});
    QTRY_COMPARE(sent.size(), 2);
    const QString expected = m_dir->path() + QStringLiteral("/") + QChar(u'\0') +
                             QStringLiteral("notes.txt") + QChar(u'\0') + QStringLiteral("more.txt");
    QCOMPARE(std::get<1>(sent[1]), expected);
    QCOMPARE(m_host->asked.size(), 5);
    QCOMPARE(w.pictureTag(), picture);
}

void TstFrmMain::paintProgramGetsTheBitmapFile()
{
    const QString script = m_dir->filePath(QStringLiteral("paint.sh"));
    const QString record = m_dir->filePath(QStringLiteral("paint-args.txt"));
    {
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("#!/bin/sh\nprintf '%s|' \"$@\" > '%1.part' && mv '%1.part' '%1'\n")
                    .arg(record)
                    .toUtf8());
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    m_ctx->settings.PicEditApp = script;
    m_ctx->settings.PicEditAppInf = 0;
    FrmMain &w = *makeWindow();
    const QString source = m_dir->filePath(QStringLiteral("paint-source.png"));
    QVERIFY(solidImage(QSize(21, 13), QColor(0, 128, 0)).save(source));
    QVERIFY(w.LoadPictureFile(source));

    w.toolbarAction(QStringLiteral("Paint"))->trigger();
    // Inside the work folder, which is emptied at every start and removed at quit.
    const QString bitmap = m_ctx->WorkDir + QStringLiteral("zorvnimg.bmp");
    QTRY_VERIFY(QFile::exists(record));
    QFile args(record);
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(args.readAll()), bitmap + u'|');
    QFile bmp(bitmap);
    QVERIFY(bmp.open(QIODevice::ReadOnly));
    const QByteArray header = bmp.read(30);
    QCOMPARE(header.left(2), QByteArray("BM"));
    QCOMPARE(int(uchar(header[28])), 24); // bits per pixel
    QCOMPARE(QImage(bitmap).pixelColor(10, 10), QColor(0, 128, 0));
}

void TstFrmMain::toolMenuOpensTodaysLogAndTheReceivedFolder()
{
    m_ctx->settings.RecvFileSavePlace = m_dir->filePath(QStringLiteral("received"));
    m_ctx->settings.MsgLogSavePlace = m_dir->path();
    m_ctx->settings.MsgLogName = QStringLiteral("talk");
    m_ctx->settings.MsgLogType = 1;
    m_ctx->settings.MsgLogShowApp = QStringLiteral("/usr/bin/mousepad");
    FrmMain &w = *makeWindow();
    w.menuAction(QStringLiteral("mnuFileTranFolOpen"))->trigger();
    QCOMPARE(m_host->folders, QStringList{m_ctx->settings.RecvFileSavePlace});
    w.menuAction(QStringLiteral("mnuMsgLogShow"))->trigger();
    QCOMPARE(m_host->logViews.size(), 1);
    const QString log = m_dir->path() + QStringLiteral("/talk") +
                        QDate::currentDate().toString(QStringLiteral("yyyy")) + QStringLiteral(".log");
    QCOMPARE(m_host->logViews[0][0], QStringLiteral("/usr/bin/mousepad"));
    QCOMPARE(m_host->logViews[0][2], log);
    QVERIFY(m_host->logViews[0][1].endsWith(log));
}

void TstFrmMain::autoTransferQueuesOneJobPerAvailableTarget()
{
    // Nobody listens on these addresses: the jobs start, fail and are reported.
    const auto add = [this](const QString &name, const QString &ip, const QString &type,
                            const QString &state) {
        AddressEntry entry;
        entry.EntryName = name;
        entry.EntryAddress = ip;
        entry.EntryType = type;
        entry.EntryState = state;
        m_engine->addresses().append(entry);
    };
    add(QStringLiteral("first (a)"), QStringLiteral("127.0.0.250"), QStringLiteral("T"),
        QStringLiteral("avail"));
    add(QStringLiteral("not a target (b)"), QStringLiteral("127.0.0.251"), QStringLiteral("M"),
        QStringLiteral("avail"));
    add(QStringLiteral("away (c)"), QStringLiteral("127.0.0.252"), QStringLiteral("T"),
        QStringLiteral("unavail"));
    add(QStringLiteral("second (d)"), QStringLiteral("127.0.0.253"), QStringLiteral("MT"),
        QStringLiteral("avail"));
    m_ctx->SetLocalIp(QStringLiteral("127.0.0.1"));
    m_ctx->settings.CaptAutoTran = 1;
    FrmMain &w = *makeWindow();
    QSignalSpy changed(&m_engine->sender(), &TransferSender::jobsChanged);

    w.GetCaptureItem(CaptDeskTop);
    QStringList destinations;
    QStringList items;
    for (int slot = 0; slot < kSendJobSlots; ++slot) {
        const SendJob &job = m_engine->sender().job(slot);
        if (!job.inUse)
            continue;
        destinations << job.destination;
        items << job.itemName;
        QVERIFY(job.itemName.startsWith(QStringLiteral("CAPT7F000001")));
        QCOMPARE(job.archiveName, job.itemName.chopped(4) + QStringLiteral(".LZH"));
        QCOMPARE(job.kind, QLatin1Char('I'));
    }
    QCOMPARE(destinations, (QStringList{QStringLiteral("127.0.0.250"), QStringLiteral("127.0.0.253")}));
    // One bitmap per capture, shared by every target's job.
    QCOMPARE(items[0], items[1]);
    QVERIFY(QFileInfo::exists(m_ctx->SendTempDir + items[0]));
    QCOMPARE(w.statusText(2), QStringLiteral("自動転送中"));

    // The pop-up lists the running jobs and cancels the one chosen.
    w.preparePopup();
    QAction *first = w.popupMenu()->findChild<QAction *>(QStringLiteral("mnuPCan0"));
    QAction *second = w.popupMenu()->findChild<QAction *>(QStringLiteral("mnuPCan1"));
    QVERIFY(first && second);
    QCOMPARE(first->text(), QStringLiteral("first (a)"));
    QCOMPARE(second->text(), QStringLiteral("second (d)"));
    QVERIFY(first->isVisible() && second->isVisible());
    QVERIFY(!w.popupMenu()->findChild<QAction *>(QStringLiteral("mnuPCan2"))->isVisible());
    first->trigger();
    QCOMPARE(w.RunningJobCaptions(), QStringList{QStringLiteral("second (d)")});
    // The other target's job still needs the bitmap.
    QVERIFY(QFileInfo::exists(m_ctx->SendTempDir + items[0]));

    // Both fail (connection refused), are listed, and the panel clears with the last one.
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->sender().anyJobInUse(), 10000);
    QCOMPARE(w.statusText(2), QString());
    QVERIFY(!changed.isEmpty());
    QVERIFY(!QFileInfo::exists(m_ctx->SendTempDir + items[0]));
}

void TstFrmMain::areaCaptureWithoutOverlayGivesThePictureBack()
{
    m_ctx->settings.CaptExeHide2 = 1;
    FrmMain &w = *makeWindow();
    w.selectionHooks() = SelectionHooks{}; // the overlay's own hooks are replaced here
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.GetCaptureItem(CaptDeskTop);
    QVERIFY(w.HasPicture());

    w.GetCaptureItem(CaptRect);
    QVERIFY(!w.isVisible());
    QVERIFY(!w.HasPicture());
    QVERIFY(w.capture().isCapturing());
    // No area selection to start: the command ends as a cancelled selection does.
    QTRY_VERIFY(w.isVisible());
    QVERIFY(!w.capture().isCapturing());
    QVERIFY(w.HasPicture());
    QVERIFY(w.toolbarAction(QStringLiteral("FileSave"))->isEnabled());

    // With an overlay, its rectangle (dragged upwards to the left) is captured.
    bool started = false;
    bool closed = false;
    w.selectionHooks().StartOverlay = [&] {
        started = true;
        w.capture().setSelection(300, 200, 100, 50);
        w.capture().CaptureToPicture(CaptRect);
    };
    w.selectionHooks().CloseOverlay = [&] { closed = true; };
    w.GetCaptureItem(CaptRect);
    QTRY_VERIFY(started);
    QVERIFY(closed);
    QCOMPARE(w.statusText(1), QStringLiteral("200*150 ｷｬﾌﾟﾁｬ"));
    QTRY_VERIFY(w.isVisible());

    // A window left visible starts the overlay timer at once; the release of the
    // selection's button captures on the next delay tick, after the rubber band is gone.
    m_ctx->settings.CaptExeHide2 = 0;
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);
    w.selectionHooks().StartOverlay = [&] {
        w.capture().setSelection(10, 20, 50, 40);
        w.capture().AreaSelectionReleased();
    };
    w.GetCaptureItem(CaptRect);
    QVERIFY(w.capture().overlayStartRunning());
    QVERIFY(captured.wait(5000));
    QCOMPARE(captured.last().at(1).toSize(), QSize(40, 20));
    QVERIFY(w.isVisible());
}

void TstFrmMain::emptyCaptureIsHandledQuietly()
{
    const QString folder = m_dir->filePath(QStringLiteral("auto"));
    QVERIFY(QDir().mkpath(folder));
    m_ctx->settings.CaptAutoSave = 1;
    m_ctx->settings.CaptAutoSaveName = QStringLiteral("CPT");
    m_ctx->settings.CaptAutoSavePlace = folder;
    m_ctx->settings.CaptAutoClip = 1;
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // An area of no size (a click without a drag) gives an empty picture.
    w.capture().setSelection(40, 40, 40, 90);
    w.capture().CaptureToPicture(CaptRect);
    QCOMPARE(w.statusText(1), QStringLiteral("0*0 ｷｬﾌﾟﾁｬ"));
    QVERIFY(w.picture().isNull());
    QVERIFY(m_host->asked.isEmpty());
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    for (const QString &key : {"FileSave", "ClipCopy", "ClipCut"})
        QVERIFY2(!w.toolbarAction(key)->isEnabled(), qPrintable(key));
    QVERIFY(w.toolbarAction(QStringLiteral("CaptClear"))->isEnabled());

    // The next real capture is saved as usual.
    w.GetCaptureItem(CaptDeskTop);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("CPT00001.BMP")});
    QVERIFY(m_host->asked.isEmpty());
}

void TstFrmMain::trayMenuShowsHidesAndCaptures()
{
    TrayIcon icon;
    QSignalSpy loads(m_windows.get(), &WindowRegistry::windowAdded);
    TrayMenu entries(*m_ctx, icon, *m_commands, m_engine->sender());
    QCOMPARE(icon.menu()->actions().last(), icon.quitAction());
    QMenu *captureMenu = entries.subMenu(QStringLiteral("mnuCapture"));
    QCOMPARE(captureMenu->actions().size(), 7); // five modes, a separator, clear
    QAction *showAction = m_commands->action(QStringLiteral("mnuShow"));
    QAction *hideAction = m_commands->action(QStringLiteral("mnuHide"));

    entries.prepare();
    QVERIFY(showAction->isVisible());
    QVERIFY(!hideAction->isVisible());

    // A capture from the tray loads the window and keeps it hidden.
    captureMenu->actions().at(CaptDeskTop)->trigger();
    QCOMPARE(loads.size(), 1);
    m_window = captureWindow(*m_commands);
    QVERIFY(m_window && m_window->HasPicture());
    QVERIFY(!m_window->isVisible());

    showAction->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    entries.prepare();
    QVERIFY(!showAction->isVisible());
    QVERIFY(hideAction->isVisible());
    hideAction->trigger();
    QVERIFY(!m_window->isVisible());

    // After the window was closed, showing it loads it again.
    m_window->close();
    QTRY_VERIFY(!m_window);
    showAction->trigger();
    QCOMPARE(loads.size(), 2);
    m_window = captureWindow(*m_commands);
    QVERIFY(m_window && m_window->isVisible());
}

void TstFrmMain::closeUnloadsTheWindow()
{
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.menuAction(QStringLiteral("mnuPHide"))->trigger();
    QVERIFY(!w.isVisible());
    QVERIFY(m_window);
    w.show();
    w.menuAction(QStringLiteral("mnuClose"))->trigger();
    QTRY_VERIFY(!m_window);
}

void TstFrmMain::secondCaptureCommandWhileOneRunsIsRefused()
{
    m_ctx->settings.CaptExeHide1 = 1;
    FrmMain &w = *makeWindow();
    const QColor marker(255, 0, 255);
    const QPoint centre = showMarked(w, marker);
    QVERIFY(!centre.isNull());
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);

    w.toolbarAction(QStringLiteral("CaptDeskTop"))->trigger();
    QVERIFY(w.capture().isCapturing());
    // While the window is being taken away: the menu, hotkeys of both kinds, and a hotkey
    // that arrives from the event loop in the middle of the wait.
    w.menuAction(QStringLiteral("mnuCaptureItem1"))->trigger();
    w.CaptHotKey(CaptRect);
    w.CaptHotKey(CaptAct);
    bool lateCommandRan = false;
    QTimer::singleShot(0, &w, [&] {
        QVERIFY(w.capture().isCapturing());
        w.CaptHotKey(CaptDeskTop1);
        lateCommandRan = true;
    });
    QVERIFY(captured.wait(5000));
    QVERIFY(lateCommandRan);
    QCOMPARE(captured.size(), 1);
    QCOMPARE(captured[0][0].toInt(), int(CaptDeskTop));
    // Nothing refused was kept for later, and the picture is the screen without us.
    QVERIFY(!w.capture().isCapturing());
    QVERIFY(!w.capture().delayRunning() && !w.capture().overlayStartRunning());
    QVERIFY(w.isVisible());
    QVERIFY(w.picture().pixelColor(centre) != marker);
}

void TstFrmMain::newCommandReplacesAWaitingDelayOrArmedClick()
{
    FrmMain &w = *makeWindow();
    w.selectionHooks() = SelectionHooks{};
    w.setPicture(solidImage(QSize(20, 10), Qt::red), QString());
    w.setHasPicture(true);
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);

    // A delayed capture gives way to an area command; that one ends as a cancelled
    // selection (no overlay here) with the picture state from before both commands.
    m_ctx->settings.ActCaptMode = 0;
    m_ctx->settings.IntTimer = QStringLiteral("3");
    w.GetCaptureItem(CaptAct);
    QVERIFY(w.capture().delayRunning());
    QVERIFY(!w.HasPicture());
    w.GetCaptureItem(CaptRect);
    QVERIFY(!w.capture().delayRunning());
    QVERIFY(w.capture().overlayStartRunning());
    QTRY_VERIFY(!w.capture().isCapturing());
    QVERIFY(w.HasPicture());

    // An armed click gives way to the next command.
    m_ctx->settings.ActCaptMode = 1;
    w.GetCaptureItem(CaptAct1);
    QTRY_COMPARE(w.capture().ArmedClickMode(), int16_t(CaptAct1));
    w.GetCaptureItem(CaptAct);
    QTRY_COMPARE(w.capture().ArmedClickMode(), int16_t(CaptAct));
    QVERIFY(w.platform().pointerGrabbed());
    QVERIFY(!w.HasPicture());

    // Another button than the left one gives the click up.
    QProcess click;
    click.start(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("3")});
    QTRY_VERIFY(!w.capture().isCapturing());
    QTRY_VERIFY(click.state() == QProcess::NotRunning);
    QVERIFY(!w.platform().pointerGrabbed());
    QVERIFY(w.HasPicture());
    QVERIFY(captured.isEmpty());
}

void TstFrmMain::closeDuringACaptureWaitEndsTheCapture_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("actCaptMode");
    QTest::newRow("window being hidden") << int(CaptDeskTop) << 0;
    QTest::newRow("delay") << int(CaptAct) << 0;
    QTest::newRow("armed click") << int(CaptAct) << 1;
    QTest::newRow("area selection up") << int(CaptRect) << 0;
}

void TstFrmMain::closeDuringACaptureWaitEndsTheCapture()
{
    QFETCH(int, mode);
    QFETCH(int, actCaptMode);
    m_ctx->settings.CaptExeHide1 = 1;
    m_ctx->settings.ActCaptMode = uint8_t(actCaptMode);
    FrmMain &w = *makeWindow();
    w.capture().setDelayTickInterval(20);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    bool overlayUp = false;
    w.selectionHooks().StartOverlay = [&] { overlayUp = true; };
    w.selectionHooks().CloseOverlay = [&] { overlayUp = false; };
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);
    w.GetCaptureItem(mode);
    if (actCaptMode == 1)
        QTRY_VERIFY(w.platform().pointerGrabbed());
    if (mode == CaptRect)
        QTRY_VERIFY(overlayUp);
    QVERIFY(w.capture().isCapturing());

    w.close();
    QVERIFY(!overlayUp);
    QTRY_VERIFY(!m_window);
    // Every wait of the capture would have gone on within this time (ticks of 20 ms,
    // polls of 10 ms): none does, on the window that is gone.
    QVERIFY(!captured.wait(300));
}

void TstFrmMain::oneActionServesToolbarMenusPopupAndTray()
{
    FrmMain &w = *makeWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    TrayIcon icon;
    TrayMenu entries(*m_ctx, icon, *m_commands, m_engine->sender());

    // Clear sits in all four places as one object, with the texts each place shows.
    QAction *clear = m_commands->action(QStringLiteral("mnuClear"));
    QVERIFY(clear);
    QCOMPARE(w.toolbarAction(QStringLiteral("CaptClear")), clear);
    QVERIFY(w.toolBar()->actions().contains(clear));
    QVERIFY(subMenu(w.menuBar(), QStringLiteral("mnuCapture"))->actions().contains(clear));
    QVERIFY(w.popupMenu()->actions().contains(clear));
    QVERIFY(entries.subMenu(QStringLiteral("mnuCapture"))->actions().contains(clear));
    QCOMPARE(clear->objectName(), QStringLiteral("CaptClear"));
    QCOMPARE(clear->text(), QStringLiteral("ｸﾘｱ(&C)"));
    auto *clearButton = qobject_cast<QToolButton *>(w.toolBar()->widgetForAction(clear));
    QVERIFY(clearButton);
    QCOMPARE(clearButton->toolTip(), QStringLiteral("ｸﾘｱ"));
    // Save: toolbar, the menu bar's file group and the pop-up's.
    QAction *save = m_commands->action(QStringLiteral("mnuSave"));
    QCOMPARE(w.toolbarAction(QStringLiteral("FileSave")), save);
    QCOMPARE(w.menuAction(QStringLiteral("mnuSave")), save);
    QVERIFY(subMenu(w.menuBar(), QStringLiteral("mnuFile"))->actions().contains(save));
    QVERIFY(subMenu(w.popupMenu(), QStringLiteral("mnuPFile"))->actions().contains(save));
    QCOMPARE(save->text(), QStringLiteral("保存(&S)"));
    QCOMPARE(save->toolTip(), QStringLiteral("保存 (Ctrl+S)"));
    // The paste command keeps its two spellings: the menu's and the button's.
    QCOMPARE(m_commands->action(QStringLiteral("ClipPest"))->text(), QStringLiteral("張り付け(&P)"));
    QCOMPARE(m_commands->action(QStringLiteral("ClipPest"))->toolTip(), QStringLiteral("貼り付け (Ctrl+V)"));

    // No picture: off everywhere, the toolbar button included.
    QVERIFY(!save->isEnabled());
    QVERIFY(!clear->isEnabled());
    QVERIFY(!clearButton->isEnabled());
    entries.prepare();
    QVERIFY(!clear->isEnabled());

    // After a paste: on everywhere.
    QGuiApplication::clipboard()->setImage(solidImage(QSize(40, 30), QColor(90, 10, 10)));
    QTRY_VERIFY(m_commands->action(QStringLiteral("mnuPest"))->isEnabled());
    m_commands->action(QStringLiteral("ClipPest"))->trigger();
    QCOMPARE(w.statusText(1), QStringLiteral("40*30 ﾋﾟｸﾁｬｰﾌｧｲﾙ"));
    QVERIFY(save->isEnabled());
    QVERIFY(clear->isEnabled());
    QVERIFY(clearButton->isEnabled());

    // Clear chosen in the tray acts on the window.
    entries.prepare();
    entries.subMenu(QStringLiteral("mnuCapture"))->actions().last()->trigger();
    QVERIFY(!w.HasPicture());
    QVERIFY(!save->isEnabled());
    QVERIFY(!clearButton->isEnabled());

    // The tray keeps the actions when the window goes; clear follows the window's absence.
    m_window->close();
    QTRY_VERIFY(!m_window);
    QVERIFY(entries.subMenu(QStringLiteral("mnuCapture"))->actions().contains(clear));
    QVERIFY(!clear->isEnabled());
    QVERIFY(m_commands->action(QStringLiteral("mnuCaptureItem0"))->isEnabled());
}

void TstFrmMain::commandWithoutItsWindowStaysDisabled()
{
    m_ctx->NetworkReady = true;
    FrmMain &w = *makeWindow();
    const QString source = m_dir->filePath(QStringLiteral("send-me.png"));
    QVERIFY(solidImage(QSize(12, 9), QColor(0, 0, 200)).save(source));
    QVERIFY(w.LoadPictureFile(source));

    // Their windows are still to come: the commands are there, and off, in every place.
    const QStringList waiting = {"mnuAdrEdit", "mnuOpt", "mnuKeySet", "mnuMsgSend", "mnuSend", "mnuFileTran"};
    for (const QString &name : waiting) {
        QAction *action = m_commands->action(name);
        QVERIFY2(action && action->isVisible() && !action->isEnabled(), qPrintable(name));
    }
    QVERIFY(w.toolbarAction(QStringLiteral("AddrBook")));
    QVERIFY(!m_commands->run(QStringLiteral("mnuAdrEdit")));
    QVERIFY(m_commands->action(QStringLiteral("mnuSave"))->isEnabled());

    // Printing goes where the print target says.
    const QString pdf = m_dir->filePath(QStringLiteral("printed.pdf"));
    m_commands->setPrintTarget(PrintTarget::pdfFile(pdf));
    QVERIFY(w.toolbarAction(QStringLiteral("Print"))->isEnabled());
    w.toolbarAction(QStringLiteral("Print"))->trigger();
    QVERIFY(QFileInfo(pdf).size() > 0);

    // Once the address book is there, the same action opens it.
    int opened = 0;
    m_commands->setHandler(QStringLiteral("mnuAdrEdit"), [&opened] { ++opened; });
    QVERIFY(w.toolbarAction(QStringLiteral("AddrBook"))->isEnabled());
    w.toolbarAction(QStringLiteral("AddrBook"))->trigger();
    QCOMPARE(opened, 1);

    // The send dialog brings both send commands; the picture goes with its source file.
    QList<SendHandOver> handed;
    m_commands->setSendDialog([&handed](const SendHandOver &handOver) { handed << handOver; });
    QVERIFY(w.toolbarAction(QStringLiteral("FileTran"))->isEnabled());
    w.toolbarAction(QStringLiteral("PicTran"))->trigger();
    QCOMPARE(handed.size(), 1);
    QCOMPARE(handed[0].kind, 0);
    QCOMPARE(handed[0].tag, source);
    QCOMPARE(handed[0].picture.size(), QSize(12, 9));

    // The rule is asked again on a click: with the network gone since the last refresh,
    // the still-enabled button sends nothing and turns itself off.
    m_ctx->NetworkReady = false;
    QAction *send = m_commands->action(QStringLiteral("mnuSend"));
    QVERIFY(send->isEnabled());
    send->trigger();
    QCOMPARE(handed.size(), 1);
    QVERIFY(!send->isEnabled());
    QVERIFY(!m_commands->action(QStringLiteral("mnuFileTran"))->isEnabled());
}

void TstFrmMain::standardKeysActInTheCaptureWindowAndShowInMenusAndTips()
{
    FrmMain &w = *makeWindow();
    // The tray's menu and a second window (as the viewer will) show the same actions.
    TrayIcon icon;
    TrayMenu entries(*m_ctx, icon, *m_commands, m_engine->sender());
    QMainWindow other;
    other.addToolBar(QStringLiteral("other"))->addAction(m_commands->action(QStringLiteral("mnuCopy")));
    other.setGeometry(700, 100, 200, 100);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    w.setGeometry(40, 40, 500, 300);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    const struct
    {
        const char *name;
        QKeySequence::StandardKey key;
        const char *tip;
    } keys[] = {{"mnuOpen", QKeySequence::Open, "開く (Ctrl+O)"},
                {"mnuSave", QKeySequence::Save, "保存 (Ctrl+S)"},
                {"mnuPrint", QKeySequence::Print, "印刷 (Ctrl+P)"},
                {"mnuCut", QKeySequence::Cut, "切り取り (Ctrl+X)"},
                {"mnuCopy", QKeySequence::Copy, "ｺﾋﾟｰ (Ctrl+C)"},
                {"mnuPest", QKeySequence::Paste, "貼り付け (Ctrl+V)"}};
    for (const auto &k : keys) {
        QAction *action = m_commands->action(QLatin1String(k.name));
        QCOMPARE(action->shortcut(), QKeySequence(k.key));
        auto *button = qobject_cast<QToolButton *>(w.toolBar()->widgetForAction(action));
        QVERIFY2(button, k.name);
        QCOMPARE(button->toolTip(), QString::fromUtf8(k.tip));
    }

    const QString source = m_dir->filePath(QStringLiteral("keys.png"));
    QVERIFY(solidImage(QSize(50, 40), QColor(10, 90, 160)).save(source));
    QVERIFY(w.LoadPictureFile(source));
    QSignalSpy copies(m_commands->action(QStringLiteral("mnuCopy")), &QAction::triggered);
    QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(copies.size(), 1);
    QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(50, 40));

    w.Clear();
    QTRY_VERIFY(m_commands->action(QStringLiteral("mnuPest"))->isEnabled());
    QTest::keyClick(&w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.statusText(1), QStringLiteral("50*40 ﾋﾟｸﾁｬｰﾌｧｲﾙ"));
    QCOMPARE(w.picture().pixelColor(25, 20), QColor(10, 90, 160));

    // Save proposes the time the pasted picture came.
    QString proposed;
    QTimer::singleShot(0, &w, [&proposed] {
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
        proposed = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
        dialog->reject();
    });
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{8}-\\d{6}$")).match(proposed).hasMatch(),
             qPrintable(proposed));

    // Cut: copied, and the window is empty.
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&w, Qt::Key_X, Qt::ControlModifier);
    QVERIFY(!w.HasPicture());
    QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(50, 40));
}

ZORVIN_XVFB_MAIN(TstFrmMain, QSize(1280, 800), true)
#include "tst_frmmain.moc"
