// The resident window's start-up as it meets a quit: a quit that arrives while start-up
// waits (its warning box is up) ends it there, with nothing opened or announced after it;
// the tray menu's quit entry, chosen from inside the menu's own loop, unloads in order; a
// quit while a capture waits ends that capture with nothing captured after it.
#include "capture/CaptureEngine.h"
#include "core/FrmSket.h"
#include "core/ModZorvin.h"
#include "core/SettingsFile.h"
#include "support/NextMessageBox.h"
#include "support/TestPort.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

// Data and work folders inside `data`; sockets and broadcasts on one loopback address.
static void prepareContext(ModZorvin &ctx, const QTemporaryDir &data)
{
    ctx.ProgramDir = data.path() + QLatin1Char('/');
    ctx.net.bindAddress = QHostAddress(QStringLiteral("127.0.0.12"));
    ctx.net.broadcastAddress = QStringLiteral("127.0.0.12");
    ctx.net.port = TestPort::port();
    ctx.MakeTempFolders(data.path() + QStringLiteral("/tmp/"));
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
    void quitWhileACaptureShowsItsSaveError();
    void closingTheCaptureWindowDuringACapture();
    void quitDuringACaptureWaitEndsTheCapture_data();
    void quitDuringACaptureWaitEndsTheCapture();

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
    ini.write("[ZorvinSetting]\r\nRecvFileSavePlace=" + QFile::encodeName(data.path()) + "/missing\r\n");
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
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
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

    // The menu runs its own loop from inside the button's press; the quit entry is clicked
    // from there, as a user does.
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
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
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
    QPointer<FrmMain> window = sket.captureWindow();
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
}

void tst_FrmSket::closingTheCaptureWindowDuringACapture()
{
    QTemporaryDir data;
    ModZorvin ctx;
    prepareContext(ctx, data);
    FrmSket sket(ctx);
    QVERIFY(sket.Load());
    QPointer<FrmMain> window = sket.captureWindow();
    QVERIFY(window);
    QSignalSpy captured(&window->capture(), &CaptureEngine::captured);

    // The capture of the hidden window runs to its end inside the command; "閉じる" chosen
    // right after it closes the window for good.
    QTimer::singleShot(0, window, [&] { window->menuAction(QStringLiteral("mnuClose"))->trigger(); });
    window->GetCaptureItem(CaptDeskTop);
    QCOMPARE(captured.count(), 1);
    QTRY_VERIFY(window.isNull());
    // A later use loads the window again.
    QVERIFY(sket.captureWindow());
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
    QPointer<FrmMain> window = sket.captureWindow();
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

    // The quit closes the window without deleting it; the capture is over with it:
    // nothing waits, nothing is grabbed, the picture state is the one before the command.
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
    QVERIFY(!window->isVisible());
}

ZORVIN_XVFB_MAIN(tst_FrmSket, QSize(800, 600), false)
#include "tst_frmsket.moc"
