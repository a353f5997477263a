// The resident window's start-up as it meets a quit: a quit that arrives while start-up
// waits (its warning box is up) ends it there, with nothing opened or announced after it;
// the tray menu's quit entry, chosen from the menu, unloads in order; a
// quit while a capture waits ends that capture with nothing captured after it; a quit while
// a window waits in its own box closes everything and deletes that window only after the
// box. The capture window closed and opened again through the tray. Without a tray the
// stand-in window's × is the quit command; the icon and the stand-in follow a tray that
// arrives late or goes away; a capture that leaves the capture window hidden is announced.
// Running transfers show in the send and received lists and the tip; the quit question
// names them, and quitting stops them at the peer.
#include "address/AddressWindows.h"
#include "address/FrmSend.h"
#include "capture/CaptureEngine.h"
#include "capture/FrmAutoCapt.h"
#include "capture/FrmMain.h"
#include "ui/Commands.h"
#include "app/FrmSket.h"
#include "base/ModZorvin.h"
#include "ui/QuitGuard.h"
#include "base/SettingsFile.h"
#include "app/TrayIcon.h"
#include "ui/WindowRegistry.h"
#include "message/MessageWindows.h"
#include "net/Identity.h"
#include "net/NetEngine.h"
#include "net/TransferReceiver.h"
#include "net/TransferSender.h"
#include "options/FrmOptions.h"
#include "receive/FrmRecv.h"
#include "receive/ReceiveWindows.h"
#include "support/FirstRun.h"
#include "support/LoopbackEngine.h"
#include "support/NextMessageBox.h"
#include "support/PlaceCopy.h"
#include "support/SlowLoopback.h"
#include "support/TestPort.h"
#include "support/XvfbSession.h"
#include "ui/TransferRows.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

// Data and work folders inside `data`; sockets and broadcasts on one loopback address.
static void prepareContext(ModZorvin &ctx, const QTemporaryDir &data)
{
    placeCopy(ctx, QStringLiteral("127.0.0.12"), data.path());
    skipFirstRunPrompt(data.path());
}

// A window holding a picture nobody has opened yet: the quit asks about it.
class UnopenedPicture : public QWidget, public QuitGuard
{
  public:
    Concern quitConcern() const override { return UnopenedImage; }
};

static QWidget *findStandIn()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QStringLiteral("TrayStandIn") && w->isVisible())
            return w;
    }
    return nullptr;
}

// A notification area that starts (or ends) while the program runs.
struct Tray
{
    QProcess process;
    void start()
    {
        process.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("bottom")});
        QVERIFY(process.waitForStarted());
    }
    void stop()
    {
        process.kill();
        process.waitForFinished();
    }
    ~Tray() { stop(); }
};

// A resident window on a private data folder, not loaded yet.
struct Started
{
    QTemporaryDir data;
    ModZorvin ctx;
    std::unique_ptr<FrmSket> sket;
    Started()
    {
        prepareContext(ctx, data);
        sket = std::make_unique<FrmSket>(ctx);
    }
};

// What is still on screen (after a quit: nothing).
static QStringList visibleWindows()
{
    QStringList names;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible())
            names << w->objectName() + u':' + QString::fromLatin1(w->metaObject()->className());
    }
    return names;
}

class tst_FrmSket : public QObject
{
    Q_OBJECT
  public:
    tst_FrmSket(XvfbSession &session, const QString &skipReason)
        : m_session(session), m_skipReason(skipReason)
    {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }
    void quitWhileStartupWaitsEndsStartup();
    void quitFromTheTrayMenu();
    void anAddressBookThatCannotBeSavedIsReportedAtQuit();
    void aDamagedKeyFileIsLeftAloneUntilTheUserChooses();
    void quitWhileACaptureShowsItsSaveError();
    void closingTheCaptureWindowDuringACapture();
    void quitDuringACaptureWaitEndsTheCapture_data();
    void quitDuringACaptureWaitEndsTheCapture();
    void quitWhileAWindowWaitsInItsBox();
    void captureWindowClosedAndOpenedAgainFromTheTray();
    void closingTheStandInIsTheQuitCommand();
    void iconAndStandInFollowTheTray();
    void hiddenCaptureIsAnnouncedInTheStandIn();
    void hiddenCaptureIsAnnouncedAtTheIcon();
    void savedOptionsReachOpenMessageWindowsAndTheIntervalCapture();
    void runningTransfersShowAndTheQuitStopsThem();

  private:
    [[maybe_unused]] XvfbSession &m_session;
    QString m_skipReason;
};

void tst_FrmSket::quitWhileStartupWaitsEndsStartup()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    // A received-files folder that does not exist: start-up stops at its warning.
    QFile ini(ctx.SettingsPath());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[ZorvinSetting]\r\nZorvinOpMsg=1\r\nRecvFileSavePlace=" + QFile::encodeName(data.path()) +
              "/missing\r\n");
    ini.close();

    FrmSket sket(ctx);
    QSignalSpy unloaded(&sket, &FrmSket::unloaded);
    QString warning;
    onNextBox([&](QMessageBox *box) {
        warning = box->text();
        sket.QuitWithoutQuestion(); // as SIGTERM does
    });
    QVERIFY(!sket.Load());

    QVERIFY(warning.contains(QStringLiteral("受信ファイルの保存先：")));
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(ctx.StartupDone, uint8_t(StartupQuitting));
    QVERIFY(!ctx.NetworkReady);
    // The version stamp marks a finished start-up only.
    QCOMPARE(SettingsFile(ctx.SettingsPath()).ReadSetting(QStringLiteral("Zorvin"), QStringLiteral("Major")),
             QString());
    QCOMPARE(visibleWindows(), QStringList());
}

void tst_FrmSket::quitFromTheTrayMenu()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QSignalSpy unloaded(&sket, &FrmSket::unloaded);
    QVERIFY(sket.Load());

    // Xvfb has no notification area: the tray is the stand-in window with its menu button.
    QWidget *standIn = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QStringLiteral("TrayStandIn"))
            standIn = w;
    }
    QVERIFY(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(standIn));
    auto *button = standIn->findChild<QPushButton *>();
    QVERIFY(button);
    const QPoint onButton = button->mapToGlobal(button->rect().center());

    // The button pops the menu up; the quit entry is clicked from there, as a user does.
    QProcess first, second;
    std::function<void()> clickQuit = [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QAction *quit = menu ? menu->findChild<QAction *>(QStringLiteral("mnuEnd")) : nullptr;
        if (!quit || !menu->isVisible()) {
            QTimer::singleShot(20, qApp, clickQuit);
            return;
        }
        const QPoint onQuit = menu->mapToGlobal(menu->actionGeometry(quit).center());
        second.start(QStringLiteral("xdotool"),
                     {QStringLiteral("mousemove"), QString::number(onQuit.x()), QString::number(onQuit.y()),
                      QStringLiteral("click"), QStringLiteral("1")});
    };
    QTimer::singleShot(20, qApp, clickQuit);
    first.start(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(onButton.x()), QString::number(onButton.y()),
                 QStringLiteral("click"), QStringLiteral("1")});
    QVERIFY(unloaded.wait(10000));
    QTRY_VERIFY(first.state() == QProcess::NotRunning && second.state() == QProcess::NotRunning);
    QCOMPARE(ctx.StartupDone, uint8_t(StartupQuitting));
    QVERIFY(!QFileInfo::exists(ctx.WorkDir));
    QCOMPARE(visibleWindows(), QStringList());
}

void tst_FrmSket::anAddressBookThatCannotBeSavedIsReportedAtQuit()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QSignalSpy unloaded(&sket, &FrmSket::unloaded);
    QVERIFY(sket.Load());
    // A folder where the file should go: it cannot be replaced.
    QVERIFY(QDir().mkpath(ctx.AddressBookPath()));
    QString said;
    onNextBox([&](QMessageBox *box) {
        said = box->text();
        box->accept();
    });
    sket.mnuEnd();
    QCOMPARE(unloaded.count(), 1);
    QVERIFY2(said.startsWith(QStringLiteral("アドレス帳を保存できませんでした。\n") + ctx.AddressBookPath() +
                             u'\n'),
             qPrintable(said));
    QVERIFY(QFileInfo(ctx.AddressBookPath()).isDir());
    QCOMPARE(visibleWindows(), QStringList());
}

void tst_FrmSket::aDamagedKeyFileIsLeftAloneUntilTheUserChooses()
{
    const QByteArray damaged = "ZorvinIdentity 1\nnot a key\n";
    for (const bool startAfresh : {false, true}) {
        QTemporaryDir data;
        ModZorvin ctx;
        prepareContext(ctx, data);
        {
            QFile file(ctx.IdentityPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(damaged), damaged.size());
        }
        const auto contents = [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        FrmSket sket(ctx);
        QString said;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        onNextBox([&](QMessageBox *box) {
            said = box->text();
            defaultButton = box->standardButton(box->defaultButton());
            box->button(startAfresh ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        QVERIFY(sket.Load());
        QVERIFY2(said.contains(ctx.IdentityPath()) && said.contains(QStringLiteral("新しい鍵を作りますか")),
                 qPrintable(said));
        // Keeping the file is what Enter does.
        QCOMPARE(defaultButton, QMessageBox::No);
        const Identity &identity = sket.engine().identity();
        if (startAfresh) {
            QVERIFY(identity.isReady());
            QCOMPARE(contents(ctx.IdentityPath() + ".bak"), damaged);
        } else {
            // Unsealed, like a 2.66 copy, and the file exactly as it was.
            QCOMPARE(identity.state(), Identity::State::Damaged);
            QCOMPARE(contents(ctx.IdentityPath()), damaged);
            QVERIFY(!QFile::exists(ctx.IdentityPath() + ".bak"));
        }
        sket.QuitWithoutQuestion();
    }
}

void tst_FrmSket::quitWhileACaptureShowsItsSaveError()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QSignalSpy unloaded(&sket, &FrmSket::unloaded);
    QVERIFY(sket.Load());
    // Auto-save into a folder that is gone: every capture ends in the save error box.
    ctx.settings.CaptAutoSave = 1;
    ctx.settings.CaptAutoSaveName = QStringLiteral("CPT");
    ctx.settings.CaptAutoSavePlace = data.path() + QStringLiteral("/gone");
    QPointer<FrmMain> window = sket.windows().load<FrmMain>(WindowKind::Capture);
    QVERIFY(window);
    QSignalSpy captured(&window->capture(), &CaptureEngine::captured);

    // The quit arrives while the capture waits on its box; the capture then runs to its
    // end on a window that is closed but still there.
    QString error;
    onNextBox([&](QMessageBox *box) {
        error = box->text();
        sket.QuitWithoutQuestion();
    });
    window->GetCaptureItem(CaptDeskTop);
    QVERIFY(error.startsWith(QStringLiteral("保存出来ません")));
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(captured.count(), 1);
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    // Deleted once the capture has returned.
    QTRY_VERIFY(window.isNull());
}

void tst_FrmSket::closingTheCaptureWindowDuringACapture()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QVERIFY(sket.Load());
    QPointer<FrmMain> window = sket.windows().load<FrmMain>(WindowKind::Capture);
    QVERIFY(window);
    QSignalSpy captured(&window->capture(), &CaptureEngine::captured);

    // The capture of the hidden window runs to its end inside the command; "閉じる" chosen
    // right after it closes the window for good.
    QTimer::singleShot(0, window, [&] { window->menuAction(QStringLiteral("mnuClose"))->trigger(); });
    window->GetCaptureItem(CaptDeskTop);
    QCOMPARE(captured.count(), 1);
    QTRY_VERIFY(window.isNull());
    // A later use loads the window again.
    QVERIFY(sket.windows().load<FrmMain>(WindowKind::Capture));
    sket.QuitWithoutQuestion();
}

void tst_FrmSket::quitDuringACaptureWaitEndsTheCapture_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("actCaptMode");
    QTest::newRow("window being hidden") << int(CaptDeskTop) << 0;
    QTest::newRow("delay") << int(CaptAct) << 0;
    QTest::newRow("armed click") << int(CaptAct) << 1;
}

void tst_FrmSket::quitDuringACaptureWaitEndsTheCapture()
{
    QFETCH(int, mode);
    QFETCH(int, actCaptMode);
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QVERIFY(sket.Load());
    ctx.settings.CaptExeHide1 = 1;
    ctx.settings.ActCaptMode = uint8_t(actCaptMode);
    ctx.settings.IntTimer = QStringLiteral("0");
    QPointer<FrmMain> window = sket.windows().find<FrmMain>(WindowKind::Capture);
    QVERIFY(window);
    CaptureEngine &capture = window->capture();
    capture.setDelayTickInterval(20);
    QImage before(20, 10, QImage::Format_RGB32);
    before.fill(Qt::red);
    window->setPicture(before, QString());
    window->setHasPicture(true);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QSignalSpy captured(&capture, &CaptureEngine::captured);
    window->GetCaptureItem(mode);
    if (actCaptMode == 1)
        QTRY_VERIFY(window->platform().pointerGrabbed());
    QVERIFY(capture.isCapturing());

    // The quit closes the window (it is deleted once the event loop runs again); the
    // capture is over with it: nothing waits, nothing is grabbed, the picture state is the
    // one before the command.
    sket.QuitWithoutQuestion();
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    QVERIFY(!capture.isCapturing());
    QVERIFY(!capture.delayRunning());
    QVERIFY(!capture.MainHiddenForCapture());
    QCOMPARE(capture.ArmedClickMode(), int16_t(0));
    QVERIFY(!window->platform().pointerGrabbed());
    QVERIFY(window->HasPicture());
    // Every wait would have gone on within this time (ticks of 20 ms, polls of 10 ms).
    QVERIFY(!captured.wait(300));
    QVERIFY(window.isNull());
}

void tst_FrmSket::quitWhileAWindowWaitsInItsBox()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QSignalSpy unloaded(&sket, &FrmSket::unloaded);
    QVERIFY(sket.Load());
    QPointer<FrmMain> capture = sket.windows().find<FrmMain>(WindowKind::Capture);
    QVERIFY(capture);
    // One of many windows (a message window) asks a question in a box of its own; this
    // test function stands for the handler that waits in the box.
    QPointer<QWidget> asking = new QWidget;
    sket.windows().add(QStringLiteral("FrmMsg"), QStringLiteral("7"), asking);
    asking->show();
    QVERIFY(QTest::qWaitForWindowExposed(asking));

    bool closedButThere = false;
    bool thereWhileTheBoxRuns = false;
    {
        // Two buttons and no escape: the quit cannot close this box, and its loop runs on.
        QMessageBox box(QMessageBox::Question, QStringLiteral("FrmMsg"), QStringLiteral("続けますか？"),
                        QMessageBox::NoButton, asking);
        QPushButton *go = box.addButton(QStringLiteral("続ける"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("やめる"), QMessageBox::AcceptRole);
        onNextBox([&](QMessageBox *shown) {
            sket.QuitWithoutQuestion(); // as SIGTERM does
            closedButThere = asking && capture && !asking->isVisible() && !capture->isVisible();
            // A few rounds of the box's loop, then the answer.
            QTimer::singleShot(0, shown, [&, shown] {
                QTimer::singleShot(50, shown, [&, shown] {
                    thereWhileTheBoxRuns = asking && capture && shown->isVisible();
                    go->click();
                });
            });
        });
        QCOMPARE(box.exec(), 0);
        QCOMPARE(box.clickedButton(), go);
    }
    QCOMPARE(unloaded.count(), 1);
    QVERIFY(closedButThere);
    QVERIFY(thereWhileTheBoxRuns);
    // The box's loop is over and its handler goes on with its window, even past a round
    // of pending events.
    QVERIFY(asking);
    QCoreApplication::processEvents();
    QVERIFY(asking);
    QVERIFY(!sket.windows().find(QStringLiteral("FrmMsg"), QStringLiteral("7")));
    QTRY_VERIFY(asking.isNull());
    QTRY_VERIFY(capture.isNull());
    QCOMPARE(visibleWindows(), QStringList());
}

void tst_FrmSket::captureWindowClosedAndOpenedAgainFromTheTray()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QVERIFY(sket.Load());
    // Loaded hidden at start.
    QPointer<FrmMain> first = sket.windows().find<FrmMain>(WindowKind::Capture);
    QVERIFY(first);
    QVERIFY(!first->isVisible());

    // The tray's double-click (LDblClick 1) shows it; opening again raises the same one.
    ctx.settings.LDblClick = 1;
    emit sket.tray().doubleClicked();
    QVERIFY(QTest::qWaitForWindowExposed(first));
    QCOMPARE(sket.windows().open(WindowKind::Capture), first.data());

    // "閉じる" unloads it; the tray keeps its capture entries, clear goes off.
    first->menuAction(QStringLiteral("mnuClose"))->trigger();
    QTRY_VERIFY(first.isNull());
    QVERIFY(!sket.windows().find(WindowKind::Capture));
    QMenu *captureMenu = nullptr;
    for (QMenu *menu : sket.tray().menu()->findChildren<QMenu *>()) {
        if (menu->menuAction()->objectName() == QStringLiteral("mnuCapture"))
            captureMenu = menu;
    }
    QVERIFY(captureMenu);
    QVERIFY(!sket.commands().action(QStringLiteral("mnuClear"))->isEnabled());

    // A capture from the tray loads a new window, hidden, holding the picture.
    captureMenu->actions().at(CaptDeskTop)->trigger();
    QPointer<FrmMain> second = sket.windows().find<FrmMain>(WindowKind::Capture);
    QVERIFY(second);
    QVERIFY(second->HasPicture());
    QVERIFY(!second->isVisible());
    QVERIFY(sket.commands().action(QStringLiteral("mnuClear"))->isEnabled());

    // The tray's show entry shows it, and its own toolbar acts on it.
    sket.commands().action(QStringLiteral("mnuShow"))->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(second));
    second->toolbarAction(QStringLiteral("CaptClear"))->trigger();
    QVERIFY(!second->HasPicture());

    sket.QuitWithoutQuestion();
    QTRY_VERIFY(second.isNull());
}

void tst_FrmSket::closingTheStandInIsTheQuitCommand()
{
    Started started;
    ModZorvin &ctx = started.ctx;
    FrmSket &sket = *started.sket;
    QSignalSpy unloaded(&sket, &FrmSket::unloaded);
    QVERIFY(sket.Load());
    QVERIFY(sket.tray().usesStandInWindow());
    QPointer<QWidget> standIn = findStandIn();
    QVERIFY(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(standIn));
    auto *unopened = new UnopenedPicture;
    sket.windows().add(QStringLiteral("FrmView"), QStringLiteral("1"), unopened);
    unopened->show();

    // × asks the quit question; Cancel keeps the program and the stand-in.
    QString question;
    onNextBox([&](QMessageBox *box) {
        question = box->text();
        box->button(QMessageBox::Cancel)->click();
    });
    standIn->close();
    QTRY_VERIFY(!question.isEmpty());
    QVERIFY(question.contains(QStringLiteral("未開封の画像があります。")));
    QVERIFY(question.endsWith(QStringLiteral("終了しますか？")));
    QCOMPARE(unloaded.count(), 0);
    QVERIFY(standIn && standIn->isVisible());
    QCOMPARE(ctx.StartupDone, uint8_t(StartupQuitting)); // as the menu's quit leaves it

    // OK quits in order.
    onNextBox([](QMessageBox *box) { box->button(QMessageBox::Ok)->click(); });
    standIn->close();
    QVERIFY(unloaded.wait(10000));
    QVERIFY(!QFileInfo::exists(ctx.WorkDir));
    QTRY_VERIFY(standIn.isNull());
    QCOMPARE(visibleWindows(), QStringList());
}

void tst_FrmSket::iconAndStandInFollowTheTray()
{
    Started started;
    FrmSket &sket = *started.sket;
    QVERIFY(sket.Load());
    TrayIcon &tray = sket.tray();
    QVERIFY(tray.usesStandInWindow());
    QSignalSpy moved(&tray, &TrayIcon::placeChanged);
    const int screenHeight = QApplication::primaryScreen()->geometry().height();

    // Twice: a tray that comes back after it went takes the icon again.
    for (int round = 0; round < 2; ++round) {
        Tray panel;
        panel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tray.usesTray(), 10000);
        QVERIFY(!tray.usesStandInWindow());
        QTRY_VERIFY(!findStandIn());
        // Docked: inside the panel at the bottom edge.
        QTRY_VERIFY_WITH_TIMEOUT(tray.iconGeometry().bottom() >= screenHeight - 40, 10000);

        panel.stop();
        QTRY_VERIFY_WITH_TIMEOUT(tray.usesStandInWindow(), 10000);
        QVERIFY(!tray.usesTray());
        QWidget *standIn = findStandIn();
        QVERIFY(standIn);
        QVERIFY(QTest::qWaitForWindowExposed(standIn));
    }
    QCOMPARE(moved.count(), 4);
    // The menu is the same in either place.
    QVERIFY(tray.menu()->findChild<QAction *>(QStringLiteral("mnuEnd")));
    sket.QuitWithoutQuestion();
    QCOMPARE(visibleWindows(), QStringList());
}

// Auto-save into `folder` as `type`, copy to the clipboard.
static void autoSaveAndCopy(ModZorvin &ctx, const QString &folder, int type)
{
    ctx.settings.CaptAutoClip = 1;
    ctx.settings.CaptAutoSave = 1;
    ctx.settings.CaptAutoSaveType = uint8_t(type);
    ctx.settings.CaptAutoSaveName = QStringLiteral("CPT");
    ctx.settings.CaptAutoSavePlace = folder;
}

void tst_FrmSket::hiddenCaptureIsAnnouncedInTheStandIn()
{
    Started started;
    ModZorvin &ctx = started.ctx;
    FrmSket &sket = *started.sket;
    QVERIFY(sket.Load());
    QVERIFY(ctx.ArchiverReady);
    TrayIcon &tray = sket.tray();
    tray.setNoticeDuration(300);
    QSignalSpy notices(&tray, &TrayIcon::noticeShown);
    QVERIFY(QDir(started.data.path()).mkdir(QStringLiteral("shots")));
    const QString shots = started.data.path() + QStringLiteral("/shots");
    autoSaveAndCopy(ctx, shots, 1);
    QPointer<FrmMain> window = sket.windows().find<FrmMain>(WindowKind::Capture);
    QVERIFY(window);

    // From the tray, the window hidden: the packed save ends on the archiver's thread, and
    // the notice waits for it.
    QVERIFY(sket.commands().run(QStringLiteral("mnuCaptureItem0")));
    QVERIFY(!window->isVisible());
    QVERIFY(notices.wait(20000));
    const QString expected = QStringLiteral("800*600 ｷｬﾌﾟﾁｬ\nｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰしました。\n保存しました：") +
                             QDir::toNativeSeparators(shots + QStringLiteral("/CPT00001.LZH"));
    QCOMPARE(notices.takeFirst().at(0).toString(), expected);
    auto *status = findStandIn()->findChild<QLabel *>(QStringLiteral("TrayStandInStatus"));
    QVERIFY(status && status->isVisible());
    QCOMPARE(status->text(), expected);
    QCOMPARE(tray.noticeText(), expected);

    // The interval capture tells nothing; neither does a capture into the shown window.
    ctx.settings.CaptAutoSaveType = 0;
    window->capture().GetCaptureItem(CaptDeskTop1, CaptureEngine::Feedback::Quiet);
    QTRY_VERIFY(QFileInfo::exists(shots + QStringLiteral("/CPT00002.BMP")));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    ctx.settings.CaptExeHide1 = 0;
    window->GetCaptureItem(CaptDeskTop);
    QTRY_VERIFY(QFileInfo::exists(shots + QStringLiteral("/CPT00003.BMP")));
    QVERIFY(!window->capture().isCapturing());
    QCOMPARE(notices.count(), 0);

    // A save into a folder that went fails (its box is answered) and the notice says so.
    window->hide();
    ctx.settings.CaptAutoClip = 0;
    ctx.settings.CaptAutoSavePlace = started.data.path() + QStringLiteral("/gone");
    onNextBox([](QMessageBox *box) { box->accept(); });
    QVERIFY(sket.commands().run(QStringLiteral("mnuCaptureItem0")));
    QTRY_COMPARE(notices.count(), 1);
    QCOMPARE(notices.takeFirst().at(0).toString(), QStringLiteral("800*600 ｷｬﾌﾟﾁｬ\n保存出来ませんでした。"));
    // The notice goes by itself.
    QTRY_VERIFY(!status->isVisible());
    QCOMPARE(tray.noticeText(), QString());
    sket.QuitWithoutQuestion();
}

void tst_FrmSket::hiddenCaptureIsAnnouncedAtTheIcon()
{
    Tray panel;
    panel.start();
    Started started;
    ModZorvin &ctx = started.ctx;
    FrmSket &sket = *started.sket;
    QVERIFY(sket.Load());
    TrayIcon &tray = sket.tray();
    QTRY_VERIFY_WITH_TIMEOUT(tray.usesTray(), 10000);
    QSignalSpy notices(&tray, &TrayIcon::noticeShown);
    autoSaveAndCopy(ctx, started.data.path(), 2);

    // A hotkey capture with the window hidden: the size, the copy and the saved file.
    FrmMain *window = sket.windows().find<FrmMain>(WindowKind::Capture);
    QVERIFY(window);
    window->CaptHotKey(CaptDeskTop);
    QCOMPARE(notices.count(), 1);
    QCOMPARE(notices.takeFirst().at(0).toString(),
             QStringLiteral("800*600 ｷｬﾌﾟﾁｬ\nｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰしました。\n保存しました：") +
                 QDir::toNativeSeparators(started.data.path() + QStringLiteral("/CPT00001.JPG")));
    QVERIFY(QFileInfo::exists(started.data.path() + QStringLiteral("/CPT00001.JPG")));
    sket.QuitWithoutQuestion();
}

// A copy sends a packed file to a peer engine while the peer sends one to it, over a slow
// loopback: both show as running rows (the send list comes up by itself, the received list
// only shows them when open), the tip counts them, the quit question names them, and OK
// stops the send at the peer ("captSP") and cuts the reception there.
void tst_FrmSket::runningTransfersShowAndTheQuitStopsThem()
{
    SlowLoopback slow;
    QString why;
    if (!slow.enter(QStringLiteral("20mbit"), &why))
        QSKIP(qPrintable(why));
    Started started;
    ModZorvin &ctx = started.ctx;
    FrmSket &sket = *started.sket;
    QSignalSpy unloaded(&sket, &FrmSket::unloaded);
    QVERIFY(sket.Load());
    QTemporaryDir peerData;
    LoopbackEngine peer(QStringLiteral("127.0.0.3"), QStringLiteral("peer"), QStringLiteral("grp"));
    peer.ctx.MakeTempFolders(peerData.path() + QStringLiteral("/temp/"));
    peer.ctx.settings.RecvFileSavePlace = peerData.path();
    peer.engine.CheckArchiver();
    QVERIFY(peer.start());
    QStringList peerReceived, peerSent;
    connect(&peer.engine.events(), &EngineEvents::recvInfoAdded, this,
            [&](const QString &, int, const QString &info) { peerReceived << info; });
    connect(&peer.engine.events(), &EngineEvents::sendResultAdded, this,
            [&](const QString &, const QString &, int, const QString &info) { peerSent << info; });
    sket.engine().UpdatePeer(QStringLiteral("peer (h3)"), QStringLiteral("127.0.0.3"),
                             QStringLiteral("avail"), QStringLiteral("266"), QStringLiteral("grp"));

    // Text packs to about half: the send goes packed and runs for seconds.
    QByteArray text;
    for (int i = 0; text.size() < (16 << 20); ++i)
        text += "line " + QByteArray::number(i * 7919 % 100003) + " of a long report, " +
                QByteArray::number(i * 104729 % 999983) + "\n";
    for (const QString &path : {peerData.path() + QStringLiteral("/report.txt"),
                                started.data.path() + QStringLiteral("/report.txt")}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }
    SendRequest out;
    out.destination = QStringLiteral("127.0.0.3");
    out.resultName = QStringLiteral("peer (h3)");
    out.kind = QLatin1Char('F');
    out.folder = started.data.path();
    out.itemName = QStringLiteral("report.txt");
    out.archiveName =
        QStringLiteral("CAPT%1%2.LZH").arg(ctx.LocalIpHex).arg(sket.engine().sender().NextJobNumber());
    QVERIFY(sket.engine().QueueSendJob(out) >= 0);
    // The received list is open before the peer's file comes.
    auto *recv = sket.windows().load<FrmRecv>(QString(WindowKind::Recv));
    QVERIFY(recv);
    recv->show();
    SendRequest in = out;
    in.destination = ctx.LocalIp;
    in.resultName = QStringLiteral("me");
    in.folder = peerData.path();
    in.packWanted = false;
    QVERIFY(peer.engine.QueueSendJob(in) >= 0);

    // Both rows run, the send list came up by itself, the tip counts both.
    QTRY_VERIFY_WITH_TIMEOUT(peer.engine.receiver().slotsInUse() == 1 &&
                                 peer.engine.receiver().slot(0).state == 1 &&
                                 peer.engine.receiver().slot(0).received > (512 << 10),
                             30000);
    auto *send = sket.windows().find<FrmSend>(QString(WindowKind::Send));
    QVERIFY(send);
    QTRY_VERIFY(send->isVisible());
    QTRY_COMPARE(send->runningRows()->runningCount(), 1);
    QTRY_COMPARE(recv->runningRows()->runningCount(), 1);
    const auto progressOf = [](TransferRows *rows) {
        QTreeWidgetItem *item = rows->topLevelItem(0);
        return item ? item->text(rows->column(TransferRows::Bytes)) : QString();
    };
    QTRY_VERIFY(progressOf(send->runningRows()).contains(QStringLiteral(" MB / ")));
    const QString before = progressOf(recv->runningRows());
    QTRY_VERIFY(progressOf(recv->runningRows()) != before);
    QCOMPARE(send->runningRows()->topLevelItem(0)->text(send->runningRows()->column(TransferRows::State)),
             QStringLiteral("送信中"));
    QCOMPARE(recv->runningRows()->topLevelItem(0)->text(recv->runningRows()->column(TransferRows::Item)),
             QStringLiteral("report.txt"));
    QVERIFY(send->runningRows()->isVisible() && recv->runningRows()->isVisible());
    // The running rows sit above the lines, inside the window.
    QVERIFY(send->runningRows()->geometry().bottom() < send->list()->geometry().top());
    QVERIFY(send->rect().contains(send->list()->geometry()));
    QTRY_VERIFY(sket.tray().currentTip().contains(QStringLiteral("送信中 1 件  受信中 1 件")));
    if (const QByteArray shots = qgetenv("ZORVIN_SCREENSHOT_DIR"); !shots.isEmpty()) {
        send->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/FrmSend-running.png"));
        recv->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/FrmRecv-running.png"));
    }

    QString question;
    onNextBox([&](QMessageBox *box) {
        question = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    sket.mnuEnd();
    QVERIFY(unloaded.count() == 1 || unloaded.wait(10000));
    QVERIFY(question.contains(QStringLiteral("実行中の送信が 1 件あります。")));
    QVERIFY(question.contains(QStringLiteral("実行中の受信が 1 件あります。")));
    QVERIFY(question.contains(QStringLiteral("中断されます。")));
    QVERIFY(question.endsWith(QStringLiteral("終了しますか？")));
    // The peer learns of both: its reception was stopped, its send cut off.
    QTRY_COMPARE(peerReceived, QStringList({QStringLiteral("送信側でキャンセルされました。 report.txt")}));
    QTRY_COMPARE(peerSent.size(), 1);
    QCOMPARE(peer.engine.receiver().slotsInUse(), 0);
    QCOMPARE(QDir(peer.ctx.RecvTempDir).entryList(QDir::Files), QStringList());
    QVERIFY(!QFileInfo::exists(ctx.WorkDir));
}

ZORVIN_XVFB_MAIN(tst_FrmSket, QSize(800, 600), false)
#include "tst_frmsket.moc"
// "更新" in the options dialog restyles a message window that is already open and starts
// or stops the interval capture, without a restart.
void tst_FrmSket::savedOptionsReachOpenMessageWindowsAndTheIntervalCapture()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QVERIFY(sket.Load());

    sket.commands().action(QStringLiteral("mnuMsgSend"))->trigger();
    QTRY_COMPARE(sket.windows().windows(WindowKind::Msg).size(), 1);
    QWidget *message = sket.windows().windows(WindowKind::Msg).first();
    auto *text = message->findChild<QPlainTextEdit *>(QStringLiteral("TxtMsg"));
    QVERIFY(text);
    QVERIFY(text->font().pointSize() != 17);

    QAction *options = sket.commands().action(QStringLiteral("mnuOpt"));
    QVERIFY(options->isEnabled());
    options->trigger();
    auto *dialog = sket.windows().find<FrmOptions>(WindowKind::Options);
    QVERIFY(dialog);
    dialog->selectTab(3);
    dialog->findChild<QLineEdit *>(QStringLiteral("TxtMsgFontSize"))->setText(QStringLiteral("17"));
    dialog->cmdApply()->click();
    QCOMPARE(text->font().pointSize(), 17);

    QVERIFY(!sket.autoCapt().isRunning());
    dialog->selectTab(1);
    dialog->findChild<QCheckBox *>(QStringLiteral("ChkAutoCapt"))->setChecked(true);
    dialog->findChild<QLineEdit *>(QStringLiteral("TxtAutoCaptTim"))->setText(QStringLiteral("600"));
    dialog->cmdApply()->click();
    QVERIFY(sket.autoCapt().isRunning());
    dialog->findChild<QCheckBox *>(QStringLiteral("ChkAutoCapt"))->setChecked(false);
    dialog->cmdApply()->click();
    QVERIFY(!sket.autoCapt().isRunning());
    dialog->close();
    sket.QuitWithoutQuestion();
}
