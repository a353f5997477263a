// The resident tray menu under a real X server (Xvfb + openbox): its entries in order, the
// enabling with and without a picture, a network, a clipboard picture and a paint program;
// no menu while a password window is open; the cancel list of running send jobs and what a
// cancel sends to the peer; the icon's double-click; the help page and the about box.
#include "capture/FrmMain.h"
#include "app/FrmAbout.h"
#include "net/Identity.h"
#include "app/TrayIcon.h"
#include "app/TrayMenu.h"
#include "net/TransferSender.h"
#include "password/PasswordWindows.h"
#include "support/CaptureSetup.h"
#include "support/LoopbackEngine.h"
#include "support/TcpPeer.h"
#include "support/WindowShot.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QNetworkDatagram>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>
#include <QUdpSocket>
#include <QtTest>

namespace {

// The captions of a menu's visible entries, "-" for a separator, "name>" before a sub-menu's.
QStringList captions(const QMenu *menu)
{
    QStringList list;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator())
            list << QStringLiteral("-");
        else if (action->isVisible())
            list << (action->menu() ? action->objectName() + u'>' : QString()) + action->text();
    }
    return list;
}

QImage picture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    return image;
}

} // namespace

class TstTrayMenu : public QObject
{
    Q_OBJECT
  public:
    TstTrayMenu(XvfbSession &session, const QString &skipReason) : m_session(session), m_skip(skipReason) {}

  private slots:
    void initTestCase()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
    }
    void init()
    {
        m_setup = std::make_unique<CaptureSetup>();
        m_setup->windows->setFactory(WindowKind::About, [this] {
            return new FrmAbout(m_setup->ctx, m_setup->engine->identity());
        });
        m_tray = std::make_unique<TrayIcon>();
        m_menu =
            std::make_unique<TrayMenu>(m_setup->ctx, *m_tray, *m_setup->commands, m_setup->engine->sender());
    }
    void cleanup()
    {
        m_menu.reset();
        m_tray.reset();
        m_setup.reset();
        QGuiApplication::clipboard()->clear();
    }

    void everyEntryInItsPlace();
    void enablingFollowsPictureNetworkClipboardAndPaintProgram();
    void sharedAndDisabledAccessKeysReachEveryItem();
    void thirtyRunningJobsAreListedAndCancelStopsTheChosenOne();
    void doubleClickRunsTheChosenAction();
    void helpAndAboutOpenWithoutTheCaptureWindow();
    void theDockedIconAnswersRightAndDoubleClicks();
    void newItemsBlinkTheIconUntilOpened();

  private:
    Commands &commands() { return *m_setup->commands; }
    QAction *action(const char *name) { return commands().action(QLatin1String(name)); }
    bool enabled(const char *name) { return action(name)->isEnabled(); }
    bool subEnabled(const char *name)
    {
        return m_menu->subMenu(QLatin1String(name))->menuAction()->isEnabled();
    }

    [[maybe_unused]] XvfbSession &m_session;
    QString m_skip;
    std::unique_ptr<CaptureSetup> m_setup;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<TrayMenu> m_menu;
};

void TstTrayMenu::everyEntryInItsPlace()
{
    QVERIFY(m_menu->prepare());
    QCOMPARE(m_tray->menu()->objectName(), QStringLiteral("mnuFrmTray"));
    const auto entries = [this](const char *name) {
        return captions(name ? m_menu->subMenu(QLatin1String(name)) : m_tray->menu()).join(u'|');
    };
    // clang-format off
    QCOMPARE(entries(nullptr), QStringLiteral("mnuFile>ﾌｧｲﾙ(&F)|mnuEdit>編集(&E)|mnuCapture>ｷｬﾌﾟﾁｬ(&C)|-|画像転送(&T)|ﾌｧｲﾙ転送(&R)|mnuPSendCan>ｷｬﾝｾﾙ|ﾒｯｾｰｼﾞ送信(&M)|-|mnuWall>壁紙として保存(&W)|ﾃﾞｽｸﾄｯﾌﾟに貼る(&D)|印刷(&P)|-|mnuTool>ﾂｰﾙ(&T)|mnuOption>ｵﾌﾟｼｮﾝ(&O)|-|ｷｬﾌﾟﾁｬ画面表示(&S)|-|ﾍﾙﾌﾟ(&H)|ﾊﾞｰｼﾞｮﾝ情報(&A)|-|終了(&X)"));
    QCOMPARE(entries("mnuFile"), QStringLiteral("開く(&O)|保存(&S)"));
    QCOMPARE(entries("mnuEdit"), QStringLiteral("切り取り(&T)|ｺﾋﾟｰ(&C)|張り付け(&P)"));
    QCOMPARE(entries("mnuCapture"), QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟ全体(&A)|ﾃﾞｽｸﾄｯﾌﾟ全体･ﾀｽｸﾊﾞｰ領域除く(&W)|ﾃﾞｽｸﾄｯﾌﾟ領域指定(&S)|ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･全領域(&W)|ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･ｸﾗｲｱﾝﾄ領域(&L)|-|ｸﾘｱ(&C)"));
    QCOMPARE(entries("mnuWall"), QStringLiteral("中央に表示(&C)|並べて表示(&T)"));
    QCOMPARE(entries("mnuTool"), QStringLiteral("ｱﾄﾞﾚｽ帳(&N)|画像編集ﾂｰﾙを開く(&L)|ﾒｯｾｰｼﾞﾛｸﾞを開く(&M)|ﾌｧｲﾙ受信ﾌｫﾙﾀﾞを開く(&I)|ﾈｯﾄﾜｰｸ診断(&D)"));
    QCOMPARE(entries("mnuOption"), QStringLiteral("動作環境の設定(&E)|ﾎｯﾄｷｰの設定(&K)"));
    // clang-format on

    // Up at the pointer; each group opens beside it.
    QCursor::setPos(60, 40);
    m_tray->TrayPopupMenu();
    QTRY_COMPARE(QApplication::activePopupWidget(), m_tray->menu());
    QVERIFY(m_tray->menu()->geometry().contains(QPoint(60, 40)));
    for (const char *name : {"mnuFile", "mnuCapture", "mnuTool", "mnuOption"}) {
        QMenu *group = m_menu->subMenu(QLatin1String(name));
        m_tray->menu()->setActiveAction(group->menuAction());
        group->popup(
            m_tray->menu()->mapToGlobal(m_tray->menu()->actionGeometry(group->menuAction()).topRight()));
        QVERIFY(QTest::qWaitForWindowExposed(group));
        shootScreen(QStringLiteral("tray-menu-%1").arg(QString::fromLatin1(name).mid(3).toLower()),
              m_tray->menu()->geometry().united(group->geometry()).adjusted(-4, -4, 4, 4));
        group->close();
    }
    m_tray->menu()->close();
}

void TstTrayMenu::sharedAndDisabledAccessKeysReachEveryItem()
{
    QMenu *menu = m_tray->menu();
    QMenu *tool = m_menu->subMenu(QStringLiteral("mnuTool"));
    QMenu *capture = m_menu->subMenu(QStringLiteral("mnuCapture"));
    const auto popUp = [&] {
        QVERIFY(m_menu->prepare());
        QCursor::setPos(60, 40);
        m_tray->TrayPopupMenu();
        QTRY_COMPARE(QApplication::activePopupWidget(), menu);
    };

    // "画像転送(&T)" is disabled without a picture and a network: T goes to the only enabled
    // holder, the tools, and opens them.
    popUp();
    QVERIFY(!action("mnuSend")->isEnabled());
    QTest::keyClick(menu, Qt::Key_T);
    QTRY_COMPARE(QApplication::activePopupWidget(), tool);
    QCOMPARE(menu->activeAction(), tool->menuAction());
    menu->close();
    QTRY_VERIFY(!QApplication::activePopupWidget());

    // Both enabled: each press moves to the next holder, round; nothing runs until Enter.
    FrmMain *window = loadCaptureWindow(commands());
    window->setPicture(picture(QSize(64, 48)), QString());
    window->setHasPicture(true);
    int sendDialogs = 0;
    commands().setSendDialog([&sendDialogs](const SendHandOver &) { ++sendDialogs; });
    m_setup->ctx.NetworkReady = true;
    popUp();
    QVERIFY(action("mnuSend")->isEnabled());
    QTest::keyClick(menu, Qt::Key_T);
    QCOMPARE(menu->activeAction(), action("mnuSend"));
    QTest::keyClick(menu, Qt::Key_T);
    QCOMPARE(menu->activeAction(), tool->menuAction());
    QVERIFY(!tool->isVisible());
    QTest::keyClick(menu, Qt::Key_T);
    QCOMPARE(menu->activeAction(), action("mnuSend"));
    QCOMPARE(QApplication::activePopupWidget(), menu);
    QCOMPARE(sendDialogs, 0);
    QTest::keyClick(menu, Qt::Key_Return);
    QTRY_COMPARE(sendDialogs, 1);
    QTRY_VERIFY(!menu->isVisible());

    // The capture list: W goes back and forth between its two holders, Enter runs the one
    // reached, and the others' keys still run theirs at once.
    QStringList ran;
    for (const char *name : {"mnuCaptureItem1", "mnuCaptureItem3"})
        commands().setHandler(QLatin1String(name), [&ran, name] { ran << QLatin1String(name); });
    popUp();
    QTest::keyClick(menu, Qt::Key_C);
    QTRY_COMPARE(QApplication::activePopupWidget(), capture);
    QTest::keyClick(capture, Qt::Key_W);
    QCOMPARE(capture->activeAction(), action("mnuCaptureItem1"));
    QTest::keyClick(capture, Qt::Key_W);
    QCOMPARE(capture->activeAction(), action("mnuCaptureItem3"));
    QTest::keyClick(capture, Qt::Key_W);
    QCOMPARE(capture->activeAction(), action("mnuCaptureItem1"));
    QTest::keyClick(capture, Qt::Key_W);
    QTest::keyClick(capture, Qt::Key_Return);
    QTRY_COMPARE(ran, QStringList{QStringLiteral("mnuCaptureItem3")});
    QTRY_VERIFY(!QApplication::activePopupWidget());
}

void TstTrayMenu::enablingFollowsPictureNetworkClipboardAndPaintProgram()
{
    Settings &settings = m_setup->ctx.settings;
    FrmMain *window = loadCaptureWindow(commands());
    QVERIFY(window);
    const char *pictureEntries[] = {"mnuSave", "mnuCut", "mnuCopy", "mnuClear", "mnuDTopImg", "mnuPrint"};

    // Nothing: no picture, no network, an empty clipboard, no paint program.
    QVERIFY(m_menu->prepare());
    for (const char *name : pictureEntries)
        QVERIFY2(!enabled(name), name);
    QVERIFY(!subEnabled("mnuWall"));
    QVERIFY(!subEnabled("mnuEdit"));
    QVERIFY(!enabled("mnuPaint"));
    QVERIFY(!enabled("mnuSend") && !enabled("mnuFileTran") && !enabled("mnuMsgSend"));
    QVERIFY(!subEnabled("mnuPSendCan"));
    QVERIFY(subEnabled("mnuFile") && subEnabled("mnuTool") && subEnabled("mnuOption"));
    // Options and hotkeys come with their windows; without a handler they stay off.
    QVERIFY(!enabled("mnuOpt") && !enabled("mnuKeySet"));

    // A picture.
    window->setPicture(picture(QSize(64, 48)), QString());
    window->setHasPicture(true);
    QVERIFY(m_menu->prepare());
    for (const char *name : pictureEntries)
        QVERIFY2(enabled(name), name);
    QVERIFY(subEnabled("mnuWall") && subEnabled("mnuEdit"));
    QVERIFY(!enabled("mnuPaint"));
    QVERIFY(!enabled("mnuSend")); // no network yet

    // A paint program.
    settings.PicEditApp = QStringLiteral("/usr/bin/true");
    QVERIFY(m_menu->prepare());
    QVERIFY(enabled("mnuPaint"));

    // The network, with the send dialog and the message window there.
    commands().setSendDialog([](const SendHandOver &) {});
    commands().setHandler(QStringLiteral("mnuMsgSend"), [] {});
    QVERIFY(m_menu->prepare());
    QVERIFY(!enabled("mnuSend") && !enabled("mnuFileTran") && !enabled("mnuMsgSend"));
    m_setup->ctx.NetworkReady = true;
    QVERIFY(m_menu->prepare());
    QVERIFY(enabled("mnuSend") && enabled("mnuFileTran") && enabled("mnuMsgSend"));

    // Without the picture again: sending files stays, sending the picture goes; editing
    // goes with cut and copy while the clipboard holds no picture.
    window->Clear();
    QVERIFY(m_menu->prepare());
    QVERIFY(!enabled("mnuSend") && enabled("mnuFileTran"));
    QVERIFY(!enabled("mnuPaint"));
    QVERIFY(!subEnabled("mnuEdit"));

    // A picture on the clipboard: paste, and with it the editing group.
    QGuiApplication::clipboard()->setImage(picture(QSize(8, 8)));
    QTRY_VERIFY(QGuiApplication::clipboard()->mimeData()->hasImage());
    QVERIFY(m_menu->prepare());
    QVERIFY(enabled("mnuPest"));
    QVERIFY(subEnabled("mnuEdit"));
    QVERIFY(!enabled("mnuCut"));
    // Text is not a picture.
    QGuiApplication::clipboard()->setText(QStringLiteral("text"));
    QTRY_VERIFY(!QGuiApplication::clipboard()->mimeData()->hasImage());
    QVERIFY(m_menu->prepare());
    QVERIFY(!enabled("mnuPest") && !subEnabled("mnuEdit"));
}

void TstTrayMenu::thirtyRunningJobsAreListedAndCancelStopsTheChosenOne()
{
    ModZorvin &ctx = m_setup->ctx;
    NetEngine &engine = *m_setup->engine;
    ctx.net.bindAddress = QHostAddress(QStringLiteral("127.0.0.4"));
    QVERIFY(startOnLoopback(engine, ctx));
    engine.CheckArchiver();
    QVERIFY(ctx.ArchiverReady);
    // The peer: takes connections and reads nothing, and hears datagrams on the same port.
    const QHostAddress peer(QStringLiteral("127.0.0.5"));
    TcpPeer held(peer.toString(), false);
    QVERIFY(held.start());
    const QList<QPointer<QTcpSocket>> &connections = held.connections;
    QUdpSocket &probe = held.probe;

    // 31 pictures for one peer (they run one after another) and a file for it.
    const QString outbox = m_setup->dir.filePath(QStringLiteral("out/"));
    QDir().mkpath(outbox);
    QVERIFY(picture(QSize(200, 100)).save(outbox + QStringLiteral("pic.bmp")));
    TransferSender &sender = engine.sender();
    QList<int> jobs;
    for (int i = 0; i < 32; ++i) {
        SendRequest request;
        request.destination = peer.toString();
        request.resultName = QStringLiteral("peer (host)");
        request.kind = QLatin1Char(i == 31 ? 'F' : 'I');
        request.folder = outbox;
        request.itemName = QStringLiteral("pic.bmp");
        request.archiveName = QStringLiteral("CAPT%1%2.LZH").arg(ctx.LocalIpHex).arg(sender.NextJobNumber());
        jobs << engine.QueueSendJob(request);
    }
    QTRY_COMPARE(connections.size(), 1);
    QTRY_VERIFY(sender.job(jobs[0]).state >= 3); // packed, header and body on their way

    // The first 30 in slot order; the file job (32nd) and the 31st are not offered.
    QVERIFY(m_menu->prepare());
    QVERIFY(subEnabled("mnuPSendCan"));
    QCOMPARE(m_menu->cancelCaptions(), QStringList(30, QStringLiteral("peer (host)")));
    QVERIFY(!m_menu->cancelItem(29)->text().isEmpty() && m_menu->cancelItem(29)->isVisible());

    // Equal captions: the entry chosen is the job that goes. The second (still queued, the
    // peer never heard of it) goes quietly, the running one stays.
    m_menu->cancelItem(1)->trigger();
    QVERIFY(!sender.job(jobs[1]).inUse);
    QVERIFY(sender.job(jobs[0]).inUse);
    QVERIFY(!probe.waitForReadyRead(200));

    // The running one: stopped at the peer with its archive name, and the next job starts.
    QVERIFY(m_menu->prepare());
    QCOMPARE(m_menu->cancelCaptions().size(), 30); // the 31st moved up
    const QString archive = sender.job(jobs[0]).archiveName;
    QSignalSpy gone(connections[0], &QTcpSocket::disconnected);
    m_menu->cancelItem(0)->trigger();
    QVERIFY(!sender.job(jobs[0]).inUse);
    QTRY_VERIFY(probe.hasPendingDatagrams());
    QCOMPARE(probe.receiveDatagram().data(),
             QByteArray("captSP") + archive.toLatin1().leftJustified(22, ' '));
    QVERIFY(gone.count() == 1 || gone.wait(5000));
    QTRY_COMPARE(connections.size(), 2);
    QTRY_VERIFY(sender.job(jobs[2]).state >= 1);

    // A file job reads "name : file".
    for (int i = 2; i < 31; ++i)
        sender.CancelSendJob(jobs[i]);
    QVERIFY(m_menu->prepare());
    QCOMPARE(m_menu->cancelCaptions(), QStringList{QStringLiteral("peer (host) : pic.bmp")});
    sender.CancelSendJob(jobs[31]);
    QVERIFY(m_menu->prepare());
    QCOMPARE(m_menu->cancelCaptions(), QStringList());
    QVERIFY(!subEnabled("mnuPSendCan"));
    qDeleteAll(connections);
}

void TstTrayMenu::doubleClickRunsTheChosenAction()
{
    Settings &settings = m_setup->ctx.settings;
    QSignalSpy quits(m_tray.get(), &TrayIcon::quitRequested);
    QStringList ran;
    for (const char *name : {"mnuMsgSend", "mnuAdrEdit"})
        commands().setHandler(QLatin1String(name), [&ran, name] { ran << QLatin1String(name); });
    m_setup->ctx.NetworkReady = true;
    const auto doubleClick = [&](int choice) {
        settings.LDblClick = uint8_t(choice);
        emit m_tray->doubleClicked();
    };

    // 0 and unknown numbers do nothing; options and hotkeys nothing until their windows are there.
    for (int choice : {0, 3, 4, 7})
        doubleClick(choice);
    QCOMPARE(ran, QStringList());
    QVERIFY(!captureWindow(commands()));
    doubleClick(2);
    doubleClick(5);
    QCOMPARE(ran, (QStringList{"mnuMsgSend", "mnuAdrEdit"}));
    QCOMPARE(quits.count(), 0);
    doubleClick(6);
    QCOMPARE(quits.count(), 1);
}

void TstTrayMenu::helpAndAboutOpenWithoutTheCaptureWindow()
{
    QVERIFY(!captureWindow(commands()));
    m_setup->ctx.ArchiverReady = true;
    m_setup->engine->LoadIdentity(true);
    action("mnuAbout")->trigger();
    auto *about = m_setup->windows->find<FrmAbout>(WindowKind::About);
    QVERIFY(about);
    QVERIFY(QTest::qWaitForWindowExposed(about));
    const QString text = about->text();
    QVERIFY2(text.startsWith(QStringLiteral("ぞるびん  Version 2.66\n鍵の指紋: ") +
                             m_setup->engine->identity().fingerprint() + u'\n'),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("LZH 圧縮 (ｱｰｶｲﾊﾞ)：利用できます")), qPrintable(text));
    // This build's Qt writes both.
    QVERIFY2(text.contains(QStringLiteral("JPEG 形式の保存：利用できます")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("PNG 形式の保存：利用できます")), qPrintable(text));
    // Qt runs on this private X server, which is no Wayland session.
    QVERIFY2(text.endsWith(QStringLiteral("\n画面の取り込み：X11")), qPrintable(text));
    shootScreen(QStringLiteral("about"), about->frameGeometry().adjusted(-4, -4, 4, 4));
    // Opening again raises the same box; Escape closes it, as OK does.
    action("mnuAbout")->trigger();
    QCOMPARE(m_setup->windows->find<FrmAbout>(WindowKind::About), about);
    QTest::keyClick(about, Qt::Key_Escape);
    QTRY_VERIFY(!m_setup->windows->find(WindowKind::About));
    // --platform-backend wayland: the box names what the program then uses.
    m_setup->ctx.PlatformBackend = QStringLiteral("wayland");
    action("mnuAbout")->trigger();
    about = m_setup->windows->find<FrmAbout>(WindowKind::About);
    QVERIFY(about);
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QVERIFY2(about->text().endsWith(QStringLiteral("\n画面の取り込み：Wayland (xdg-desktop-portal)")),
             qPrintable(about->text()));
    shootScreen(QStringLiteral("about-wayland"), about->frameGeometry().adjusted(-4, -4, 4, 4));
    QTest::keyClick(about, Qt::Key_Escape);
    QTRY_VERIFY(!m_setup->windows->find(WindowKind::About));
    m_setup->ctx.PlatformBackend.clear();

    action("mnuHelp")->trigger();
    QTextBrowser *help = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *browser = qobject_cast<QTextBrowser *>(w); browser && browser->isVisible())
            help = browser;
    }
    QVERIFY(help);
    QVERIFY(!help->document()->isEmpty());
    help->close();
}

void TstTrayMenu::theDockedIconAnswersRightAndDoubleClicks()
{
    QProcess panel;
    panel.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("bottom")});
    QVERIFY(panel.waitForStarted());
    const auto stopPanel = qScopeGuard([&panel] {
        panel.kill();
        panel.waitForFinished();
    });
    m_tray->TrayAdd();
    QTRY_VERIFY_WITH_TIMEOUT(m_tray->usesTray(), 10000);
    const int screenHeight = QGuiApplication::primaryScreen()->geometry().height();
    QTRY_VERIFY_WITH_TIMEOUT(m_tray->iconGeometry().bottom() >= screenHeight - 40, 10000);
    const QPoint onIcon = m_tray->iconGeometry().center();
    const auto click = [&](const QString &button, const QString &repeat) {
        const QString said = m_session.run(QStringLiteral("xdotool"),
                                           {QStringLiteral("mousemove"), QString::number(onIcon.x()),
                                            QString::number(onIcon.y()), QStringLiteral("click"),
                                            QStringLiteral("--repeat"), repeat, button});
        QVERIFY(!said.isNull());
    };
    QSignalSpy shown(m_tray.get(), &TrayIcon::aboutToShowMenu);

    // The right button: the menu at the pointer.
    click(QStringLiteral("3"), QStringLiteral("1"));
    QTRY_COMPARE(QApplication::activePopupWidget(), m_tray->menu());
    QVERIFY(m_tray->menu()->geometry().contains(onIcon) || m_tray->menu()->geometry().bottom() < onIcon.y());
    m_tray->menu()->close();
    QCOMPARE(shown.count(), 1);

    // Not while a password window is open.
    RegisterPasswordWindows(m_setup->ctx, *m_setup->windows);
    for (const QLatin1String kind : {WindowKind::SetPW, WindowKind::PWCheck}) {
        QWidget *password = m_setup->windows->open(kind);
        QVERIFY(QTest::qWaitForWindowExposed(password));
        click(QStringLiteral("3"), QStringLiteral("1"));
        QVERIFY(!shown.wait(300));
        m_tray->TrayPopupMenu();
        QVERIFY(!m_tray->menu()->isVisible());
        password->close();
        QTRY_VERIFY(!m_setup->windows->find(kind));
    }
    QCOMPARE(shown.count(), 1);

    // The left double-click: here, the capture window.
    m_setup->ctx.settings.LDblClick = 1;
    QSignalSpy doubleClicks(m_tray.get(), &TrayIcon::doubleClicked);
    click(QStringLiteral("1"), QStringLiteral("2"));
    QTRY_COMPARE(doubleClicks.count(), 1);
    FrmMain *window = captureWindow(commands());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    m_tray->TrayRemove();
}

void TstTrayMenu::newItemsBlinkTheIconUntilOpened()
{
    // Xvfb has no notification area: the stand-in window carries the icon.
    m_tray->TrayAdd();
    QWidget *standIn = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QStringLiteral("TrayStandIn"))
            standIn = w;
    }
    QVERIFY(standIn);
    const qint64 normal = TrayIcon::normalIcon().cacheKey();
    QCOMPARE(standIn->windowIcon().cacheKey(), normal);

    // An arrival: the other image at once, then back and forth.
    m_tray->ModTaskTrayIcon(1);
    QVERIFY(m_tray->isBlinking());
    const qint64 other = m_tray->currentIcon().cacheKey();
    QVERIFY(other != normal);
    QCOMPARE(standIn->windowIcon().cacheKey(), other);
    QTRY_COMPARE(standIn->windowIcon().cacheKey(), normal);
    QTRY_COMPARE(standIn->windowIcon().cacheKey(), other);

    // Opened: the normal image, and it stays.
    m_tray->ModTaskTrayIcon(0);
    QVERIFY(!m_tray->isBlinking());
    QCOMPARE(standIn->windowIcon().cacheKey(), normal);
    QSignalSpy changed(standIn, &QWidget::windowIconChanged);
    QVERIFY(!changed.wait(700));
    m_tray->TrayRemove();
}

ZORVIN_XVFB_MAIN(TstTrayMenu, QSize(1024, 768), true)
#include "tst_traymenu.moc"
