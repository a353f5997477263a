// The message windows under a private X server, over engines and plain sockets on
// 127.0.0.x: received messages shown at once, face down and locked; opening them with and
// without open receipts and the password; replies, forwards and direct sends with the
// windows they close; compose, the toolbar, flashing, and the resident window's wiring.
#include "net/AddressStore.h"
#include "address/AddressWindows.h"
#include "address/FrmAdrEdit.h"
#include "address/FrmSend.h"
#include "ui/PrintTarget.h"
#include "base/AnsiCodec.h"
#include "ui/Commands.h"
#include "app/FrmSket.h"
#include "base/SettingsFile.h"
#include "ui/WindowRegistry.h"
#include "message/FrmMsg.h"
#include "message/MessageTexts.h"
#include "message/MessageWindows.h"
#include "net/MessageDelivery.h"
#include "net/MessageProtocol.h"
#include "password/FrmPWCheck.h"
#include "password/PasswordWindows.h"
#include "ui/FrmUnread.h"
#include "support/ChildNamed.h"
#include "support/FileBytes.h"
#include "support/FirstRun.h"
#include "support/LoopbackEngine.h"
#include "support/NextMessageBox.h"
#include "support/PlaceCopy.h"
#include "support/RawPeer.h"
#include "support/WindowShot.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolBar>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QString kA = QStringLiteral("127.0.0.2");        // the engine with the windows
const QString kB = QStringLiteral("127.0.0.3");        // a peer engine that knows its version
const QString kRaw = QStringLiteral("127.0.0.5");      // a plain socket, in the book without a version
const QString kStranger = QStringLiteral("127.0.0.9"); // a plain socket the book does not know
const QString kSato = QStringLiteral("佐藤 (h3)");
const QString kRawName = QStringLiteral("raw (r5)");

// A peer engine that keeps what arrives for it.
struct Peer : LoopbackEngine
{
    Peer() : LoopbackEngine(kB, QStringLiteral("佐藤"), QStringLiteral("営業"), kB)
    {
        QObject::connect(&engine.events(), &EngineEvents::messageArrived, &engine,
                         [this](const ReceivedMessage &m) { messages << m; });
    }
    QList<ReceivedMessage> messages;
};

bool shown(QWidget *window, const char *name)
{
    auto *widget = child<QWidget>(window, name);
    return widget && widget->isVisible();
}

void click(QWidget *window, const char *name)
{
    auto *button = child<QAbstractButton>(window, name);
    QVERIFY2(button && button->isVisible() && button->isEnabled(), name);
    button->click();
}

QAction *tool(QWidget *window, const char *name)
{
    auto *bar = child<QToolBar>(window, "Toolbar");
    return bar ? bar->findChild<QAction *>(QLatin1String(name)) : nullptr;
}

// Answers the next file dialog with a name in its folder, noting the folder it started in.
void answerFileDialog(const QString &name, QString *startFolder)
{
    QTimer::singleShot(10, qApp, [name, startFolder] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            answerFileDialog(name, startFolder);
            return;
        }
        *startFolder = dialog->directory().absolutePath() + u'/';
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(name);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// The window engine with its registry, commands, address windows and message windows,
// a peer engine, and two plain sockets.
struct Desk
{
    Desk() : a(kA, QStringLiteral("山田"), QStringLiteral("総務"), kA)
    {
        a.ctx.ProgramDir = dir.path() + u'/';
        a.ctx.MakeTempFolders(dir.path() + QStringLiteral("/tmp/"));
        RegisterPasswordWindows(a.ctx, windows);
        QObject::connect(&messages, &MessageWindows::receivedShown, &messages,
                         [this](FrmMsg *w) { received << w; });
        QObject::connect(&a.engine.events(), &EngineEvents::sendResultAdded, &messages,
                         [this](const QString &name, const QString &, int result, const QString &info) {
                             results << name + u'|' + QString::number(result) + u'|' + info;
                         });
    }
    bool start()
    {
        a.ctx.NetworkReady = a.start() && b.start() && raw.bound && stranger.bound;
        a.engine.UpdatePeer(kSato, kB, kStateAvail, QStringLiteral("266"), QStringLiteral("営業"));
        a.engine.UpdatePeer(kRawName, kRaw, kStateAvail, QString(), QStringLiteral("営業"));
        b.engine.UpdatePeer(QStringLiteral("山田 (h2)"), kA, kStateAvail, QStringLiteral("266"), QString());
        commands.refresh();
        return a.ctx.NetworkReady;
    }
    // The next received window to be shown; a minimised one is never exposed.
    FrmMsg *nextReceived(bool exposed = true)
    {
        const int seen = shownCount++;
        if (!QTest::qWaitFor([&] { return received.size() > seen; }, 5000))
            return nullptr;
        FrmMsg *w = received[seen];
        return w && (!exposed || QTest::qWaitForWindowExposed(w)) ? w : nullptr;
    }
    bool isOpen(QWidget *w) const { return w && windows.windows(WindowKind::Msg).contains(w); }
    bool flashed(QWidget *w, bool on) const { return flashes.contains({w, on}); }

    QTemporaryDir dir;
    LoopbackEngine a;
    Peer b;
    RawPeer raw{kRaw, kA};
    RawPeer stranger{kStranger, kA};
    WindowRegistry windows;
    Commands commands{a.ctx, a.engine, windows};
    AddressWindows addressWindows{a.engine, windows, commands};
    QList<QPair<QWidget *, bool>> flashes;
    MessageWindows messages{a.ctx, a.engine, windows, commands, [this](QWidget *w, bool on) {
                                flashes.append({w, on});
                            }};
    QList<QPointer<FrmMsg>> received;
    int shownCount = 0;
    QStringList results;
};

} // namespace

class tst_FrmMsg : public QObject
{
    Q_OBJECT
  public:
    tst_FrmMsg(XvfbSession &, const QString &skipReason) : m_skipReason(skipReason) {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
        QLocale::setDefault(QLocale::c());
    }
    void receivedWindowsShowNormalFaceDownAndLocked();
    void openingSendsOneReceiptOnlyWhenAskedAndPasswordsGuardLocks();
    void replyQuotesAndGoesOutThroughTheSendDialog();
    void replyToAStrangerHasNoToLineAndAnEmptyList();
    void forwardKeepsTheTextAndClosesOnlyTheFirstLinkedWindow();
    void directSendTakesItsFlagsFromTheSettings();
    void composeNeedsTextKeepsTheLimitAndIdsWrap();
    void flashingStopsAfterPaintsOpeningOrClose();
    void toolbarOpensSavesPrintsAndSavesThePosition();
    void floodOpensBoundedWindowsAndTheRestWaitsInTheUnreadList();
    void residentWindowOffersComposeAndAsksAboutUnopenedMessages();

  private:
    QString m_skipReason;
};

void tst_FrmMsg::receivedWindowsShowNormalFaceDownAndLocked()
{
    Desk d;
    QVERIFY(d.start());
    const QRegularExpression dateLine(
        QStringLiteral("^Date: \\d{4}/\\d\\d/\\d\\d Time: \\d\\d:\\d\\d:\\d\\d$"));

    d.raw.send(QStringLiteral("captMSYN01N 会議は\r\n三時からです。"));
    FrmMsg *normal = d.nextReceived();
    QVERIFY(normal);
    QCOMPARE(d.raw.next(), QByteArray("captMRY01"));
    QCOMPARE(normal->windowTitle(), QStringLiteral("ぞるびん From raw (r5)/127.0.0.5"));
    QCOMPARE(child<QLineEdit>(normal, "TxtHideFrom")->text(), QStringLiteral("From: raw (r5)"));
    QVERIFY(dateLine.match(child<QLineEdit>(normal, "TxtHideTime")->text()).hasMatch());
    QCOMPARE(normal->messageText(), QStringLiteral("会議は\r\n三時からです。"));
    QCOMPARE(child<QPlainTextEdit>(normal, "TxtMsg")->toPlainText(),
             QStringLiteral("会議は\n三時からです。"));
    QVERIFY(child<QPlainTextEdit>(normal, "TxtMsg")->isReadOnly());
    for (const char *name : {"TxtMsg", "TxtHideFrom", "TxtHideTime", "CmdMsgRpl", "CmdMsgTran", "CmdMsgCan",
                             "ChkInclude", "Toolbar"})
        QVERIFY2(shown(normal, name), name);
    for (const char *name : {"CmdOpen", "TxtHideMsg", "CmdMsgSend", "CmdMsgDSend", "CmdClear"})
        QVERIFY2(!shown(normal, name), name);
    QVERIFY(!tool(normal, "FileOpen")->isEnabled());
    QVERIFY(tool(normal, "PosSave")->isEnabled());
    QVERIFY(d.flashed(normal, true));
    QCOMPARE(normal->quitConcern(), QuitGuard::None);
    // The controls follow the window's size.
    normal->resize(600, 400);
    auto *text = child<QPlainTextEdit>(normal, "TxtMsg");
    QTRY_COMPARE(text->width(), 600 - 12);
    QCOMPARE(child<QPushButton>(normal, "CmdMsgCan")->geometry().right(), 600 - 7);
    QVERIFY(text->geometry().bottom() < child<QPushButton>(normal, "CmdMsgCan")->y());
    normal->resize(440, 300);
    shoot(normal, QStringLiteral("received-normal"));

    d.raw.send(QStringLiteral("captMSYY02Y 伏せたメッセージ"));
    FrmMsg *faceDown = d.nextReceived();
    QVERIFY(faceDown);
    QCOMPARE(d.raw.next(), QByteArray("captMRY02"));
    for (const char *name : {"CmdOpen", "TxtHideMsg", "TxtHideTime", "TxtHideFrom"})
        QVERIFY2(shown(faceDown, name), name);
    for (const char *name : {"TxtMsg", "Toolbar", "Image1", "CmdMsgCan", "CmdMsgRpl", "CmdMsgTran",
                             "ChkInclude", "CmdMsgSend", "CmdClear"})
        QVERIFY2(!shown(faceDown, name), name);
    QCOMPARE(child<QPushButton>(faceDown, "CmdOpen")->text(), QStringLiteral("開く"));
    QCOMPARE(child<QLineEdit>(faceDown, "TxtHideMsg")->text(), QStringLiteral("メッセージを受信しました。"));
    QCOMPARE(faceDown->LblSt0(), QStringLiteral("OPENCHECK"));
    QCOMPARE(faceDown->quitConcern(), QuitGuard::UnopenedMessage);
    shoot(faceDown, QStringLiteral("received-facedown"));

    d.raw.send(QStringLiteral("captMSNL03N 鍵付き"));
    FrmMsg *locked = d.nextReceived();
    QVERIFY(locked);
    QCOMPARE(d.raw.next(), QByteArray("captMRN03"));
    // This copy has no password: the button says so.
    QCOMPARE(child<QPushButton>(locked, "CmdOpen")->text(),
             QStringLiteral("開く（パスワードロック・パスワード未設定）"));
    QVERIFY(!shown(locked, "TxtMsg"));
    QCOMPARE(locked->LblSt0(), QString());
    shoot(locked, QStringLiteral("received-locked"));

    // Any other mode shows the message at once.
    d.raw.send(QStringLiteral("captMSYX04Y mode X"));
    FrmMsg *other = d.nextReceived();
    QVERIFY(other && shown(other, "TxtMsg") && !shown(other, "CmdOpen"));
    QCOMPARE(other->LblSt0(), QString());
    QCOMPARE(d.raw.next(), QByteArray("captMRY04"));

    // A sender the book does not know is shown by its address; an old peer's blank id
    // gets no receipt.
    d.stranger.send(QStringLiteral("captMSNN  N 古い相手"));
    FrmMsg *unknown = d.nextReceived();
    QVERIFY(unknown);
    QCOMPARE(unknown->windowTitle(), QStringLiteral("ぞるびん From /127.0.0.9"));
    QCOMPARE(child<QLineEdit>(unknown, "TxtHideFrom")->text(), QStringLiteral("From: 127.0.0.9"));
    QCOMPARE(unknown->LblFrom(), kStranger);
    d.stranger.send(QStringLiteral("captMSNN05N marker"));
    QVERIFY(d.nextReceived());
    QCOMPARE(d.stranger.next(), QByteArray("captMRN05"));

    // The longest message a datagram holds is shown whole, beyond what this side sends.
    d.raw.send(QStringLiteral("captMSNN06N ") + QString(8180, u'x'));
    FrmMsg *longest = d.nextReceived();
    QVERIFY(longest);
    QCOMPARE(longest->messageText().size(), 8180);
    QCOMPARE(d.windows.windows(WindowKind::Msg).size(), 7);
}

void tst_FrmMsg::openingSendsOneReceiptOnlyWhenAskedAndPasswordsGuardLocks()
{
    Desk d;
    d.a.ctx.settings.Password = QStringLiteral("鍵pw");
    QVERIFY(d.start());

    d.raw.send(QStringLiteral("captMSNY11Y with open check"));
    FrmMsg *checked = d.nextReceived();
    QVERIFY(checked);
    QCOMPARE(d.raw.next(), QByteArray("captMRN11"));
    click(checked, "CmdOpen");
    QCOMPARE(d.raw.next(), QByteArray("captOPM"));
    for (const char *name : {"TxtMsg", "Toolbar", "CmdMsgRpl", "CmdMsgTran", "CmdMsgCan", "ChkInclude"})
        QVERIFY2(shown(checked, name), name);
    QVERIFY(!shown(checked, "CmdOpen") && !shown(checked, "TxtHideMsg"));
    QVERIFY(d.flashed(checked, false));
    QCOMPARE(checked->quitConcern(), QuitGuard::None);

    // Without the open check nothing goes back; a wrong password or a dialog closed through
    // its frame leaves the message closed and sends nothing either. The open receipt of the
    // last message is the next datagram, so none came before it.
    d.raw.send(QStringLiteral("captMSNY12N without"));
    FrmMsg *unchecked = d.nextReceived();
    QVERIFY(unchecked);
    QCOMPARE(d.raw.next(), QByteArray("captMRN12"));
    click(unchecked, "CmdOpen");
    QVERIFY(shown(unchecked, "TxtMsg"));

    d.raw.send(QStringLiteral("captMSNL13Y locked"));
    FrmMsg *locked = d.nextReceived();
    QVERIFY(locked);
    QCOMPARE(d.raw.next(), QByteArray("captMRN13"));
    QString warning;
    const auto tryPassword = [&](const QString &entry, bool refused) {
        warning.clear();
        if (refused) {
            onNextBox([&warning](QMessageBox *box) {
                warning = box->text();
                box->button(QMessageBox::Ok)->click();
            });
        }
        click(locked, "CmdOpen");
        auto *check = d.windows.find<FrmPWCheck>(WindowKind::PWCheck);
        if (!check || !QTest::qWaitForWindowExposed(check))
            return QStringLiteral("<no check>");
        if (entry.isNull()) {
            check->close();
        } else {
            check->TxtPW()->setText(entry);
            check->CmdPWCheck()->click();
        }
        if (!QTest::qWaitFor([&] { return !warning.isEmpty() || shown(locked, "TxtMsg"); }, 5000))
            return QStringLiteral("<neither>");
        return warning;
    };
    QCOMPARE(tryPassword(QStringLiteral("違う"), true), QStringLiteral("ﾊﾟｽﾜｰﾄﾞが違います。"));
    QVERIFY(shown(locked, "CmdOpen") && !shown(locked, "TxtMsg"));
    // An earlier entry that happened to be right does not open it without a new one.
    d.a.ctx.LastPwEntry = d.a.ctx.settings.Password;
    QCOMPARE(tryPassword(QString(), true), QStringLiteral("ﾊﾟｽﾜｰﾄﾞが違います。"));
    QVERIFY(locked->isFaceDown() && d.flashed(locked, true) && !d.flashed(locked, false));
    QCOMPARE(tryPassword(QStringLiteral("鍵pw"), false), QString());
    QVERIFY(shown(locked, "TxtMsg") && !locked->isFaceDown());
    QCOMPARE(d.raw.next(), QByteArray("captOPM"));
}

void tst_FrmMsg::replyQuotesAndGoesOutThroughTheSendDialog()
{
    Desk d;
    d.a.ctx.settings.SndMsgWinCls = 1;
    d.a.ctx.settings.SndMsgRWinCls = 1;
    QVERIFY(d.start());
    QVERIFY(d.b.engine.messages().DirectSend(kA, QStringLiteral("明日の件\r\n了解です\r\n\r\n")));
    QPointer<FrmMsg> received = d.nextReceived();
    QVERIFY(received);
    QCOMPARE(received->LblSt(), QStringLiteral("CLS"));
    QCOMPARE(received->LblFrom(), kSato);
    const QString id = received->LblRcvID();

    click(received, "CmdMsgRpl");
    QList<FrmMsg *> all = d.messages.messageWindows();
    QPointer<FrmMsg> reply = all.last();
    QVERIFY(reply && reply->use() == FrmMsg::Use::Reply && QTest::qWaitForWindowExposed(reply));
    QCOMPARE(reply->windowTitle(), QStringLiteral("ぞるびん - 返信メッセージ"));
    QCOMPARE(reply->messageText(),
             QStringLiteral("AT [ ") + received->LblDate() + u' ' + received->LblTime() +
                 QStringLiteral(" ]\r\n佐藤 (h3) wrote:\r\n>明日の件\r\n>了解です\r\n"));
    QCOMPARE(child<QLineEdit>(reply, "TxtHideFrom")->text(), QStringLiteral("To: 佐藤 (h3)"));
    QVERIFY(shown(reply, "TxtHideFrom") && shown(reply, "CmdMsgDSend") && shown(reply, "CmdMsgSend"));
    QVERIFY(!shown(reply, "ChkInclude") && !shown(reply, "TxtHideTime") && !shown(reply, "CmdMsgRpl"));
    QVERIFY(!tool(reply, "FileOpen")->isEnabled());
    QCOMPARE(reply->LblLinkID(), id);
    QCOMPARE(reply->tag(), kB);
    shoot(reply, QStringLiteral("reply"));

    // Without the quotation the reply starts empty.
    child<QCheckBox>(received, "ChkInclude")->setChecked(false);
    click(received, "CmdMsgRpl");
    QPointer<FrmMsg> bare = d.messages.messageWindows().last();
    QCOMPARE(bare->messageText(), QString());
    QCOMPARE(bare->LblMsgID(), reply->LblMsgID() + 1);
    bare->close();

    // "送信" opens the send dialog with the sender in the list; its send closes the reply
    // and the message it answered.
    child<QPlainTextEdit>(reply, "TxtMsg")->moveCursor(QTextCursor::End);
    child<QPlainTextEdit>(reply, "TxtMsg")->insertPlainText(QStringLiteral("はい"));
    click(reply, "CmdMsgSend");
    auto *dialog = d.windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(dialog && QTest::qWaitForWindowExposed(dialog));
    auto *list = child<QTreeWidget>(dialog, "LVeSendList");
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(1), kB);
    click(dialog, "CmdSend");
    QTRY_COMPARE(d.b.messages.size(), 1);
    QVERIFY(d.b.messages[0].text.endsWith(QStringLiteral(">了解です\r\nはい")));
    QCOMPARE(d.b.messages[0].messageId, MessageDelivery::FormatMessageId(reply->LblMsgID()));
    QTRY_VERIFY(!d.isOpen(reply) && !d.isOpen(received));
}

void tst_FrmMsg::replyToAStrangerHasNoToLineAndAnEmptyList()
{
    Desk d;
    QVERIFY(d.start());
    // The list an earlier message left in the dialog is emptied.
    d.commands.LoadSendAddr({1, QImage(), QString(), QStringLiteral("x"), 0});
    auto *dialog = d.windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(dialog && QTest::qWaitForWindowExposed(dialog));
    click(dialog, "CmdListAddAll");
    // Left open: the reply's send comes to this same dialog.
    QVERIFY(child<QTreeWidget>(dialog, "LVeSendList")->topLevelItemCount() > 0);

    d.stranger.send(QStringLiteral("captMSNN21N どなた？"));
    FrmMsg *received = d.nextReceived();
    QVERIFY(received);
    click(received, "CmdMsgRpl");
    FrmMsg *reply = d.messages.messageWindows().last();
    QVERIFY(reply->use() == FrmMsg::Use::Reply && QTest::qWaitForWindowExposed(reply));
    QVERIFY(!shown(reply, "TxtHideFrom"));
    QVERIFY(reply->messageText().contains(QStringLiteral("127.0.0.9 wrote:\r\n>どなた？\r\n")));
    // Without SndMsgRWinCls nothing is linked.
    QCOMPARE(reply->LblLinkID(), QString());
    click(reply, "CmdMsgSend");
    dialog = d.windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(dialog && QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("メッセージ送信ダイアログ"));
    QCOMPARE(child<QTreeWidget>(dialog, "LVeSendList")->topLevelItemCount(), 0);
}

void tst_FrmMsg::forwardKeepsTheTextAndClosesOnlyTheFirstLinkedWindow()
{
    Desk d;
    d.a.ctx.settings.SndMsgRWinCls1 = 1;
    QVERIFY(d.start());
    // Two received windows with the same id, from two senders.
    d.raw.send(QStringLiteral("captMSNN07N first"));
    QPointer<FrmMsg> first = d.nextReceived();
    const QString text = QStringLiteral("一行目\r\n\n二行目 \r\n\r\n");
    d.raw.send(QStringLiteral("captMSNN07N ") + text);
    QPointer<FrmMsg> second = d.nextReceived();
    QVERIFY(first && second);
    QCOMPARE(d.raw.next(), QByteArray("captMRN07"));
    QCOMPARE(d.raw.next(), QByteArray("captMRN07"));
    QCOMPARE(second->messageText(), text);

    click(second, "CmdMsgTran");
    QPointer<FrmMsg> forward = d.messages.messageWindows().last();
    QVERIFY(forward && forward->use() == FrmMsg::Use::Forward && QTest::qWaitForWindowExposed(forward));
    QCOMPARE(forward->windowTitle(), QStringLiteral("ぞるびん - 転送メッセージ"));
    const QString expected = MessageTexts::forwardText(QStringLiteral("山田"), kRawName, second->LblDate(),
                                                       second->LblTime(), text);
    QCOMPARE(forward->messageText(), expected);
    QCOMPARE(forward->tag(), QString());
    QCOMPARE(forward->LblLinkID(), QStringLiteral("07"));
    for (const char *name :
         {"TxtHideFrom", "TxtHideTime", "CmdMsgDSend", "CmdOpen", "CmdMsgRpl", "ChkInclude"})
        QVERIFY2(!shown(forward, name), name);
    QVERIFY(shown(forward, "CmdMsgSend") && shown(forward, "CmdClear"));
    QVERIFY(forward->minimumHeight() >= 2500 / 15);

    // To two recipients: the dialog reports the send once per recipient, and still only
    // the first window marked "CLS" with id 07 closes (the ids are all that is compared).
    click(forward, "CmdMsgSend");
    auto *dialog = d.windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(dialog && QTest::qWaitForWindowExposed(dialog));
    click(dialog, "CmdListAddAll");
    QCOMPARE(child<QTreeWidget>(dialog, "LVeSendList")->topLevelItemCount(), 2);
    click(dialog, "CmdSend");
    QTRY_COMPARE(d.b.messages.size(), 1);
    QCOMPARE(d.b.messages[0].text, expected);
    QByteArray toRaw = d.raw.next();
    QCOMPARE(toRaw, "captMSYN" + MessageDelivery::FormatMessageId(forward->LblMsgID()).toLatin1() + "N " +
                        AnsiCodec::encode(expected));
    QTRY_VERIFY(!d.isOpen(first));
    QVERIFY(d.isOpen(second));
    // The forward window was not asked to close.
    QVERIFY(d.isOpen(forward));
}

void tst_FrmMsg::directSendTakesItsFlagsFromTheSettings()
{
    Desk d;
    Settings &s = d.a.ctx.settings;
    s.SndCmpMsgHide = 1;
    s.SndCmpMsgLock = 1;
    s.SndMsgOPChk = 1;
    s.SndMsgWinCls = 1;
    s.SndMsgRWinCls = 1;
    QVERIFY(d.start());

    // To a peer without a version a locked message goes face down.
    d.raw.send(QStringLiteral("captMSNN31N q"));
    QPointer<FrmMsg> fromRaw = d.nextReceived();
    QVERIFY(fromRaw);
    click(fromRaw, "CmdMsgRpl");
    QPointer<FrmMsg> reply = d.messages.messageWindows().last();
    QVERIFY(QTest::qWaitForWindowExposed(reply));
    const int id = reply->LblMsgID();
    const QString replyText = reply->messageText();
    QCOMPARE(d.raw.next(), QByteArray("captMRN31"));
    click(reply, "CmdMsgDSend");
    QCOMPARE(d.raw.next(), "captMSYY" + MessageDelivery::FormatMessageId(id + 1).toLatin1() + "Y " +
                               AnsiCodec::encode(replyText));
    // The window closes, and so does the message it answered.
    QTRY_VERIFY(!d.isOpen(reply) && !d.isOpen(fromRaw));

    // To a peer with a version it goes locked.
    QVERIFY(d.b.engine.messages().DirectSend(kA, QStringLiteral("r")));
    FrmMsg *fromB = d.nextReceived();
    QVERIFY(fromB);
    s.SndMsgWinCls = 0;
    click(fromB, "CmdMsgRpl");
    reply = d.messages.messageWindows().last();
    click(reply, "CmdMsgDSend");
    QTRY_COMPARE(d.b.messages.size(), 1);
    QCOMPARE(d.b.messages[0].displayMode, QLatin1Char('L'));
    QVERIFY(d.b.messages[0].openCheck);
    QVERIFY(d.isOpen(reply));
    QVERIFY(!child<QPushButton>(reply, "CmdMsgDSend")->isEnabled());
    // An edit makes it sendable again.
    child<QPlainTextEdit>(reply, "TxtMsg")->appendPlainText(QStringLiteral("追記"));
    QVERIFY(child<QPushButton>(reply, "CmdMsgDSend")->isEnabled());

    // An unavailable sender: a failure line, nothing sent, the window stays.
    d.raw.send(QStringLiteral("captMSNN32N again"));
    FrmMsg *again = d.nextReceived();
    QVERIFY(again);
    QCOMPARE(d.raw.next(), QByteArray("captMRN32"));
    d.a.engine.UpdatePeer(kRawName, kRaw, kStateUnavail, QString(), QString());
    click(again, "CmdMsgRpl");
    reply = d.messages.messageWindows().last();
    click(reply, "CmdMsgDSend");
    QCOMPARE(d.results.last(), kRawName + QStringLiteral("|1|") + kMsgNotReadyDirect);
    QVERIFY(d.isOpen(reply) && d.isOpen(again));
    d.raw.send(QStringLiteral("captMSNN33N marker"));
    QVERIFY(d.nextReceived());
    QCOMPARE(d.raw.next(), QByteArray("captMRN33"));

    // An empty text is refused.
    reply->setMessageText(QString());
    QString warning;
    onNextBox([&warning](QMessageBox *box) {
        warning = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    click(reply, "CmdMsgDSend");
    QCOMPARE(warning, QStringLiteral("メッセージを入力して下さい。"));
}

void tst_FrmMsg::composeNeedsTextKeepsTheLimitAndIdsWrap()
{
    Desk d;
    QVERIFY(d.start());
    QAction *command = d.commands.action(QStringLiteral("mnuMsgSend"));
    QVERIFY(command && command->isEnabled());
    while (d.a.engine.messages().PeekMessageId() != 99)
        d.a.engine.messages().NextMessageId();
    command->trigger();
    QPointer<FrmMsg> compose = d.messages.messageWindows().last();
    QVERIFY(compose && QTest::qWaitForWindowExposed(compose));
    QCOMPARE(compose->windowTitle(), QStringLiteral("ぞるびん - 送信メッセージ"));
    QCOMPARE(compose->LblMsgID(), 99);
    QVERIFY(!tool(compose, "PosSave")->isEnabled());
    QVERIFY(tool(compose, "FileOpen")->isEnabled());
    for (const char *name :
         {"CmdMsgDSend", "CmdMsgRpl", "CmdMsgTran", "CmdOpen", "TxtHideFrom", "ChkInclude"})
        QVERIFY2(!shown(compose, name), name);
    QVERIFY(compose->minimumHeight() >= 1750 / 15);

    QString warning;
    onNextBox([&warning](QMessageBox *box) {
        warning = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    click(compose, "CmdMsgSend");
    QCOMPARE(warning, QStringLiteral("メッセージを入力して下さい。"));
    QVERIFY(!d.windows.find(WindowKind::AdrEdit) || !d.windows.find(WindowKind::AdrEdit)->isVisible());

    // Typing beyond the limit keeps the first 8168 characters, line breaks counted as two.
    auto *text = child<QPlainTextEdit>(compose, "TxtMsg");
    text->insertPlainText(QString(4000, u'a') + u'\n' + QString(4200, u'b'));
    QCOMPARE(compose->messageText().size(), MessageTexts::kMaxTextChars);
    QVERIFY(compose->messageText().startsWith(QString(4000, u'a') + QStringLiteral("\r\nbbb")));
    click(compose, "CmdClear");
    QCOMPARE(compose->messageText(), QString());
    text->insertPlainText(QStringLiteral("お疲れさまです。\n本日の会議は15時からです。"));
    shoot(compose, QStringLiteral("compose"));

    // The next window takes id 0; two windows of one id can be open.
    command->trigger();
    QCOMPARE(d.messages.messageWindows().last()->LblMsgID(), 0);
    d.messages.messageWindows().last()->close();

    // "送信" hands text and id to the send dialog.
    click(compose, "CmdMsgSend");
    auto *dialog = d.windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(dialog && QTest::qWaitForWindowExposed(dialog));
    click(dialog, "CmdListAddAll");
    click(dialog, "CmdSend");
    QTRY_COMPARE(d.b.messages.size(), 1);
    QCOMPARE(d.b.messages[0].text, QStringLiteral("お疲れさまです。\r\n本日の会議は15時からです。"));
    QCOMPARE(d.b.messages[0].messageId, QStringLiteral("99"));
    // Not asked to close after the send (SndMsgWinCls 0).
    QVERIFY(d.isOpen(compose));
    click(compose, "CmdMsgCan");
    QTRY_VERIFY(!compose);
}

void tst_FrmMsg::flashingStopsAfterPaintsOpeningOrClose()
{
    Desk d;
    QVERIFY(d.start());
    d.raw.send(QStringLiteral("captMSNN41N read me"));
    FrmMsg *normal = d.nextReceived();
    QVERIFY(normal && d.flashed(normal, true));
    // Shown and activated, a readable window is looked at: a few paints end the flashing.
    for (int i = 0; i < 5 && normal->isFlashing(); ++i)
        normal->repaint();
    QVERIFY(!normal->isFlashing());
    QVERIFY(d.flashed(normal, false));

    d.raw.send(QStringLiteral("captMSNY42N face down"));
    FrmMsg *faceDown = d.nextReceived();
    QVERIFY(faceDown);
    for (int i = 0; i < 10; ++i)
        faceDown->repaint();
    QVERIFY(faceDown->isFlashing() && !d.flashed(faceDown, false));
    faceDown->close();
    QVERIFY(d.flashed(faceDown, false));

    d.a.ctx.settings.RecvMsgMin = 1;
    d.raw.send(QStringLiteral("captMSNN43N minimised"));
    FrmMsg *minimised = d.nextReceived(false);
    QVERIFY(minimised);
    QTRY_VERIFY(minimised->isMinimized());
    QVERIFY(minimised->isFlashing());
}

void tst_FrmMsg::toolbarOpensSavesPrintsAndSavesThePosition()
{
    Desk d;
    QVERIFY(d.start());
    const QString pdf = d.dir.filePath(QStringLiteral("print.pdf"));
    d.commands.setPrintTarget(PrintTarget::pdfFile(pdf));

    // A CP932 file from a Windows colleague becomes the text.
    QTemporaryDir files;
    {
        QFile cp932(files.filePath(QStringLiteral("memo.txt")));
        QVERIFY(cp932.open(QIODevice::WriteOnly));
        cp932.write("\x93\xfa\x96\x7b\x8c\xea\r\nline 2\r\n");
    }
    FrmMsg *compose = d.messages.LoadSendMsg();
    QVERIFY(QTest::qWaitForWindowExposed(compose));
    QString openedIn;
    answerFileDialog(files.filePath(QStringLiteral("memo.txt")), &openedIn);
    tool(compose, "FileOpen")->trigger();
    QCOMPARE(compose->messageText(), QStringLiteral("日本語\r\nline 2\r\n"));
    QCOMPARE(openedIn, d.a.ctx.ProgramDir);
    QVERIFY(tool(compose, "FileOpen")->isEnabled());

    // Saved as UTF-8 with CR LF; the next open starts in the folder of the last one.
    QString savedIn;
    answerFileDialog(files.filePath(QStringLiteral("out.txt")), &savedIn);
    tool(compose, "FileSave")->trigger();
    QCOMPARE(fileBytes(files.filePath(QStringLiteral("out.txt"))),
             QByteArray("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\nline 2\r\n\r\n"));
    answerFileDialog(QStringLiteral("memo.txt"), &openedIn);
    d.messages.LoadSendMsg();
    FrmMsg *second = d.messages.messageWindows().last();
    tool(second, "FileOpen")->trigger();
    QCOMPARE(openedIn, files.path() + u'/');

    // A received window prints its date and sender lines over a rule, then the text.
    d.raw.send(QStringLiteral("captMSNN51N 印刷する本文"));
    FrmMsg *received = d.nextReceived();
    QVERIFY(received);
    tool(received, "Print")->trigger();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), pdf, QStringLiteral("-")});
    QVERIFY2(text.waitForFinished(10000), "pdftotext (poppler-utils) is needed");
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    QVERIFY2(printed.contains(child<QLineEdit>(received, "TxtHideTime")->text()), qPrintable(printed));
    // The rule is as long as the head line with its CR LF.
    const int headChars = child<QLineEdit>(received, "TxtHideTime")->text().size() + 2 + 14 + 2;
    QVERIFY2(printed.contains(QStringLiteral("From: raw (r5)\n") + QString(headChars, u'-') + u'\n'),
             qPrintable(printed));
    QVERIFY(printed.contains(QStringLiteral("印刷する本文")));

    // The saved position: in memory, in the settings file, and where the next arrival opens.
    received->move(150, 90);
    QTRY_COMPARE(received->pos(), QPoint(150, 90));
    tool(received, "PosSave")->trigger();
    QCOMPARE(d.a.ctx.settings.RMsgPosLeft, 150 * 15);
    QCOMPARE(d.a.ctx.settings.RMsgPosTop, 90 * 15);
    const SettingsFile file(d.a.ctx.SettingsPath());
    QCOMPARE(file.ReadSetting(QLatin1String(kSectionSettings), QStringLiteral("RMsgPosTop")),
             QStringLiteral("1350"));
    QCOMPARE(file.ReadSetting(QLatin1String(kSectionSettings), QStringLiteral("RMsgPosLeft")),
             QStringLiteral("2250"));
    d.raw.send(QStringLiteral("captMSNN52N here"));
    FrmMsg *next = d.nextReceived();
    QVERIFY(next);
    QCOMPARE(next->pos(), QPoint(150, 90));

    // The message font of the settings, applied again after the options change.
    d.a.ctx.settings.MsgFontSize = 15;
    d.a.ctx.settings.MsgFontBold = 255;
    next->ApplyMessageFont();
    QCOMPARE(child<QPlainTextEdit>(next, "TxtMsg")->font().pointSize(), 15);
    QVERIFY(child<QPlainTextEdit>(next, "TxtMsg")->font().bold());
}

void tst_FrmMsg::floodOpensBoundedWindowsAndTheRestWaitsInTheUnreadList()
{
    Desk d;
    QVERIFY(d.start());
    const int perSender = MessageWindows::kReceivedPerSender;
    const int inAll = MessageWindows::kReceivedInAll;
    // One sender the test hears (its receipts), and more senders than the windows in all
    // take; their receipts go nowhere.
    const int fromRaw = perSender + 5;
    for (int id = 0; id < fromRaw; ++id)
        d.raw.send(QStringLiteral("captMSYN%1N 第%1報\r\n二行目").arg(id, 2, 10, QChar(u'0')));
    std::vector<std::unique_ptr<QUdpSocket>> others;
    const int senders = inAll / perSender + 1;
    for (int i = 0; i < senders; ++i) {
        auto socket = std::make_unique<QUdpSocket>();
        QVERIFY(socket->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(40 + i)), 0));
        for (int id = 0; id < perSender; ++id)
            socket->writeDatagram(
                AnsiCodec::encode(QStringLiteral("captMSNN%1N flood").arg(id, 2, 10, QChar(u'0'))),
                QHostAddress(kA), TestPort::port());
        others.push_back(std::move(socket));
    }
    // A face-down message beyond the sender's share shows nothing of its text in the list.
    d.raw.send(QStringLiteral("captMSYY99N 伏せた中身"));
    // Presence is answered during the flood.
    d.stranger.send(QStringLiteral("captBCstranger (s9)"));
    QVERIFY(d.stranger.next().startsWith("cBX266"));
    for (int id = 0; id < fromRaw; ++id)
        QCOMPARE(d.raw.next(), QByteArray("captMRY") + QByteArray::number(id).rightJustified(2, '0'));
    QCOMPARE(d.raw.next(), QByteArray("captMRY99"));

    const int total = fromRaw + 1 + senders * perSender;
    QTRY_VERIFY(d.windows.find<FrmUnread>(WindowKind::Unread));
    auto *unread = d.windows.find<FrmUnread>(WindowKind::Unread);
    QTRY_COMPARE(unread->count() + int(d.messages.messageWindows().size()), total);
    const QList<FrmMsg *> open = d.messages.messageWindows();
    QCOMPARE(int(open.size()), inAll);
    QCOMPARE(int(std::count_if(open.cbegin(), open.cend(), [](FrmMsg *w) { return w->tag() == kRaw; })),
             perSender);
    QTRY_COMPARE(unread->list()->topLevelItemCount(), total - inAll);
    QTRY_VERIFY(unread->isVisible());
    QTRY_COMPARE(d.messages.pendingShows(), 0);
    QCOMPARE(unread->quitConcerns(), QList<QuitGuard::Concern>{QuitGuard::UnopenedMessage});
    QTreeWidgetItem *normal = unread->list()->topLevelItem(0);
    QCOMPARE(normal->text(1), kRawName);
    QCOMPARE(normal->text(2), QStringLiteral("ﾒｯｾｰｼﾞ"));
    QCOMPARE(normal->text(3), QStringLiteral("第%1報").arg(perSender));
    QTreeWidgetItem *faceDown = nullptr;
    for (int i = 0; i < unread->list()->topLevelItemCount(); ++i) {
        QVERIFY(!unread->list()->topLevelItem(i)->text(3).contains(QStringLiteral("伏せた")));
        if (unread->list()->topLevelItem(i)->text(3) == QStringLiteral("メッセージを受信しました。"))
            faceDown = unread->list()->topLevelItem(i);
    }
    QVERIFY(faceDown);
    QVERIFY(QTest::qWaitForWindowExposed(unread));
    shoot(unread, QStringLiteral("unread-list"));

    // "開く" opens the selected rows in windows of their own, the window bound aside, and
    // the face-down one still face down.
    faceDown->setSelected(true);
    normal->setSelected(true);
    click(unread, "CmdOpen");
    QCOMPARE(unread->count(), total - inAll - 2);
    QCOMPARE(unread->list()->topLevelItemCount(), total - inAll - 2);
    const QList<FrmMsg *> all = d.messages.messageWindows();
    QCOMPARE(int(all.size()), inAll + 2);
    FrmMsg *first = all[inAll];
    FrmMsg *second = all[inAll + 1];
    QCOMPARE(first->messageText(), QStringLiteral("第%1報\r\n二行目").arg(perSender));
    QVERIFY(second->isFaceDown());
    click(second, "CmdOpen");
    QCOMPARE(second->messageText(), QStringLiteral("伏せた中身"));
    QVERIFY(QTest::qWaitForWindowExposed(second));

    // Closing the list gives up what it still holds.
    unread->close();
    QCOMPARE(unread->count(), 0);
    QVERIFY(!d.windows.find(WindowKind::Unread));
}

void tst_FrmMsg::residentWindowOffersComposeAndAsksAboutUnopenedMessages()
{
    QTemporaryDir data;
    ModZorvin ctx;
    placeCopy(ctx, QStringLiteral("127.0.0.12"), data.path());
    skipFirstRunPrompt(data.path());
    FrmSket sket(ctx);
    QVERIFY(sket.Load());
    QAction *command = sket.commands().action(QStringLiteral("mnuMsgSend"));
    QVERIFY(command && command->isEnabled());
    command->trigger();
    auto *compose = sket.windows().find<FrmMsg>(WindowKind::Msg);
    QVERIFY(compose && compose->use() == FrmMsg::Use::Compose);

    RawPeer peer(kRaw);
    peer.socket.writeDatagram(AnsiCodec::encode(QStringLiteral("captMSYY01N 未開封")),
                              QHostAddress(QStringLiteral("127.0.0.12")), TestPort::port());
    QCOMPARE(peer.next(), QByteArray("captMRY01"));
    QTRY_VERIFY(sket.windows().find<FrmMsg>(WindowKind::Msg, QStringLiteral("R01")));
    QTRY_VERIFY(sket.windows().find<FrmMsg>(WindowKind::Msg, QStringLiteral("R01"))->isVisible());

    QString question;
    onNextBox([&question](QMessageBox *box) {
        question = box->text();
        box->button(QMessageBox::Cancel)->click();
    });
    sket.mnuEnd();
    QVERIFY2(question.contains(QStringLiteral("未開封のメッセージがあります。")), qPrintable(question));
    QVERIFY(!sket.isUnloaded());
    // After the cancelled quit messages still arrive in windows.
    peer.socket.writeDatagram(AnsiCodec::encode(QStringLiteral("captMSYN02N まだ動いています")),
                              QHostAddress(QStringLiteral("127.0.0.12")), TestPort::port());
    QCOMPARE(peer.next(), QByteArray("captMRY02"));
    QTRY_VERIFY(sket.windows().find<FrmMsg>(WindowKind::Msg, QStringLiteral("R02")));

    // More than one sender's share: the rest waits in the unread list, which the quit
    // question counts once the face-down window is gone.
    const int more = MessageWindows::kReceivedPerSender + 5;
    for (int id = 3; id < 3 + more; ++id)
        peer.socket.writeDatagram(
            AnsiCodec::encode(QStringLiteral("captMSYN%1N 続き").arg(id, 2, 10, QChar(u'0'))),
            QHostAddress(QStringLiteral("127.0.0.12")), TestPort::port());
    for (int id = 3; id < 3 + more; ++id)
        QCOMPARE(peer.next(), QByteArray("captMRY") + QByteArray::number(id).rightJustified(2, '0'));
    QTRY_VERIFY(sket.windows().find<FrmUnread>(WindowKind::Unread));
    auto *unread = sket.windows().find<FrmUnread>(WindowKind::Unread);
    QTRY_VERIFY(unread->isVisible());
    QCOMPARE(unread->count(), 2 + more - MessageWindows::kReceivedPerSender);
    QTRY_COMPARE(sket.windows().windows(WindowKind::Msg).size(), 1 + MessageWindows::kReceivedPerSender);
    QList<QPointer<QWidget>> open;
    for (QWidget *window : sket.windows().windows(WindowKind::Msg))
        open << window;
    sket.windows().find(WindowKind::Msg, QStringLiteral("R01"))->close();
    onNextBox([&question](QMessageBox *box) {
        question = box->text();
        box->button(QMessageBox::Cancel)->click();
    });
    question.clear();
    sket.mnuEnd();
    QCOMPARE(question, QStringLiteral("未開封のメッセージがあります。\n\n終了しますか？"));

    // The quit takes every window with it at once, the list and its rows too.
    sket.QuitWithoutQuestion();
    QVERIFY(!sket.windows().find(WindowKind::Msg));
    QVERIFY(!sket.windows().find(WindowKind::Unread));
    for (const QPointer<QWidget> &window : std::as_const(open))
        QVERIFY(!window || !window->isVisible());
    QTRY_VERIFY(
        std::all_of(open.cbegin(), open.cend(), [](const QPointer<QWidget> &w) { return w.isNull(); }));
}

ZORVIN_XVFB_MAIN(tst_FrmMsg, QSize(1280, 1024), false)
#include "tst_frmmsg.moc"
