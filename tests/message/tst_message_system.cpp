// Two copies, each in its own network namespace on one bridge, chat through their message
// windows: normal, face-down and locked messages with open receipts, a reply with its
// quotation, a forward, and a retry after a lost receipt shown once, all in both message logs.
// Each copy is this program started again with "--copy": the resident window of the real
// program, driven through its windows by commands on stdin, reporting on stdout.
#include "net/AddressStore.h"
#include "address/FrmAdrEdit.h"
#include "base/AnsiCodec.h"
#include "app/FrmSket.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "message/FrmMsg.h"
#include "message/MessageWindows.h"
#include "net/EngineEvents.h"
#include "net/NetEngine.h"
#include "password/FrmPWCheck.h"
#include "password/PasswordFile.h"
#include "password/PasswordWindows.h"
#include "support/IsolatedHome.h"
#include "support/NetNamespaces.h"
#include "support/StartedCopy.h"
#include "support/TestPort.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include <memory>

namespace {

const QString kSubnet = QStringLiteral("10.78.0.");
const QString kBroadcast = QStringLiteral("10.78.0.255");

QString hex(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toHex());
}

QString unhex(const QString &text)
{
    return QString::fromUtf8(QByteArray::fromHex(text.toLatin1()));
}

// ---- One copy: the program's resident window, driven from stdin ----

class CopyDriver : public QObject
{
  public:
    CopyDriver(FrmSket &sket, const QString &ownAddress) : m_sket(sket), m_own(ownAddress)
    {
        auto *messages = sket.findChild<MessageWindows *>();
        connect(messages, &MessageWindows::receivedShown, this, [this](FrmMsg *w) {
            m_received << w;
            const QString state = !w->isFaceDown() ? QStringLiteral("normal")
                                  : w->isLocked()  ? QStringLiteral("locked")
                                                   : QStringLiteral("facedown");
            say(QStringLiteral("shown %1 %2 %3 %4")
                    .arg(m_received.size() - 1)
                    .arg(state, hex(w->LblFrom()), hex(w->messageText())));
        });
        connect(&sket.engine().events(), &EngineEvents::sendResultAdded, this,
                [this](const QString &name, const QString &kind, int result, const QString &) {
                    say(QStringLiteral("result %1 %2 %3").arg(kind).arg(result).arg(hex(name)));
                });
        // Every question is answered as the test asked (the retry question with Retry).
        m_boxes.setInterval(20);
        connect(&m_boxes, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (!box || !box->isVisible())
                    continue;
                say(QStringLiteral("box ") + hex(box->text()));
                QAbstractButton *button = box->button(QMessageBox::Retry);
                box->button(button ? QMessageBox::Retry : QMessageBox::Ok)->click();
            }
        });
        m_boxes.start();
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, &CopyDriver::onInput);
    }

  private:
    void say(const QString &line)
    {
        std::fprintf(stdout, "%s\n", qPrintable(line));
        std::fflush(stdout);
    }

    void onInput()
    {
        char buffer[65536];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_input->setEnabled(false);
            m_sket.QuitWithoutQuestion();
            QCoreApplication::quit();
            return;
        }
        m_pending += QByteArray(buffer, int(n));
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QStringList words = QString::fromLatin1(m_pending.left(end)).split(u' ');
            m_pending.remove(0, end + 1);
            run(words);
        }
    }

    FrmMsg *received(const QStringList &words) { return m_received.value(words.value(1).toInt()); }

    template <class T> static T *child(QWidget *w, const char *name)
    {
        return w->findChild<T *>(QLatin1String(name));
    }

    static void click(QWidget *w, const char *name)
    {
        if (auto *button = child<QAbstractButton>(w, name))
            button->click();
    }

    // The send dialog (opened by a window's "送信") sends to every available peer. A copy
    // hears its own announcement and lists itself: that row is taken out of the list.
    void sendThroughDialog(bool hide, bool lock, bool open)
    {
        auto *dialog = m_sket.windows().find<FrmAdrEdit>(QStringLiteral("FrmAdrEdit"));
        if (!dialog)
            return;
        child<QCheckBox>(dialog, "ChkMsgHide")->setChecked(hide);
        child<QCheckBox>(dialog, "ChkPWLock")->setChecked(lock);
        child<QCheckBox>(dialog, "ChkOpen")->setChecked(open);
        click(dialog, "CmdListAddAll");
        auto *list = child<QTreeWidget>(dialog, "LVeSendList");
        for (int i = list->topLevelItemCount() - 1; i >= 0; --i) {
            if (list->topLevelItem(i)->text(1) == m_own)
                delete list->takeTopLevelItem(i);
        }
        click(dialog, "CmdSend");
    }

    void run(const QStringList &words)
    {
        const QString command = words.value(0);
        if (command == QLatin1String("peers")) {
            int avail = 0;
            const AddressStore &store = m_sket.engine().addresses();
            for (int i = 0; i < store.size(); ++i)
                avail += store.at(i).isAvail() && store.at(i).EntryAddress != m_own ? 1 : 0;
            say(QStringLiteral("peers %1").arg(avail));
            return;
        }
        if (command == QLatin1String("send")) {
            // send <N|Y|L><O> <text>
            const QString how = words.value(1);
            m_sket.commands().run(QStringLiteral("mnuMsgSend"));
            FrmMsg *compose = m_sket.findChild<MessageWindows *>()->messageWindows().last();
            compose->setMessageText(unhex(words.value(2)));
            click(compose, "CmdMsgSend");
            sendThroughDialog(how.startsWith(u'Y') || how.startsWith(u'L'), how.startsWith(u'L'),
                              how.endsWith(u'O'));
        } else if (command == QLatin1String("open")) {
            FrmMsg *w = received(words);
            click(w, "CmdOpen");
            if (auto *check = m_sket.windows().find<FrmPWCheck>(WindowKind::PWCheck);
                check && check->isVisible()) {
                check->TxtPW()->setText(unhex(words.value(2)));
                check->CmdPWCheck()->click();
            }
        } else if (command == QLatin1String("state")) {
            FrmMsg *w = received(words);
            say(QStringLiteral("state %1 %2").arg(words.value(1), w && w->isFaceDown() ? "closed" : "open"));
            return;
        } else if (command == QLatin1String("reply")) {
            // A quoted reply with one more line, sent at once to the sender.
            click(received(words), "CmdMsgRpl");
            FrmMsg *reply = m_sket.findChild<MessageWindows *>()->messageWindows().last();
            reply->setMessageText(reply->messageText() + unhex(words.value(2)));
            click(reply, "CmdMsgDSend");
        } else if (command == QLatin1String("forward")) {
            click(received(words), "CmdMsgTran");
            FrmMsg *forward = m_sket.findChild<MessageWindows *>()->messageWindows().last();
            click(forward, "CmdMsgSend");
            sendThroughDialog(false, false, false);
        }
        say(QStringLiteral("done ") + command);
    }

    FrmSket &m_sket;
    const QString m_own;
    QList<QPointer<FrmMsg>> m_received;
    QSocketNotifier *m_input = nullptr;
    QByteArray m_pending;
    QTimer m_boxes;
};

int runCopy(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    ModZorvin ctx;
    ctx.ProgramDir = args.value(3) + u'/';
    // Bound to every address, as the program is: a socket bound to one address hears no
    // broadcast.
    ctx.net.broadcastAddress = kBroadcast;
    ctx.net.port = quint16(args.value(4).toUInt());
    ctx.MakeTempFolders(args.value(3) + QStringLiteral("/tmp/"));
    FrmSket sket(ctx);
    if (!sket.Load())
        return 1;
    CopyDriver driver(sket, args.value(2));
    std::fprintf(stdout, "ready\n");
    std::fflush(stdout);
    return app.exec();
}

// ---- The test: two copies and their conversation ----

struct Copy
{
    QString ns, ip, name;
    std::unique_ptr<IsolatedHome> home;
    QString dataDir;
    std::unique_ptr<QProcess> process;
    QStringList lines;

    // Written at once: the test waits on the other copy next.
    void command(const QString &line)
    {
        process->write((line + u'\n').toLatin1());
        process->waitForBytesWritten(5000);
    }
    // Waits for a line that starts with `prefix` and takes it out; "" when none came.
    QString take(const QString &prefix, int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            for (qsizetype i = 0; i < lines.size(); ++i) {
                if (lines[i].startsWith(prefix))
                    return lines.takeAt(i);
            }
            process->waitForReadyRead(100);
            while (process->canReadLine())
                lines << QString::fromLatin1(process->readLine()).trimmed();
        }
        return QString();
    }
    bool has(const QString &prefix) const
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const QString &l) { return l.startsWith(prefix); });
    }
    QByteArray log() const
    {
        QFile file(dataDir + QStringLiteral("/CTMSG.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

} // namespace

class tst_MessageSystem : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase() { m_prefix = QStringLiteral("zvm%1").arg(QCoreApplication::applicationPid()); }
    void twoCopiesChatThroughTheirWindows();

  private:
    QString m_prefix;
};

void tst_MessageSystem::twoCopiesChatThroughTheirWindows()
{
    if (::geteuid() != 0)
        QSKIP("network namespaces need root; this test runs two copies on a private bridge");
    NetNamespaces network(m_prefix);
    QString why;
    if (!network.make({"c1", "c2"}, kSubnet, &why))
        QSKIP(qPrintable("cannot make network namespaces here (`ip netns` failed): " + why.trimmed()));

    Copy copies[2];
    const QByteArray names[2] = {"yamada", "\x8D\xB2\x93\xA1"}; // 佐藤 in CP932
    for (int i = 0; i < 2; ++i) {
        Copy &c = copies[i];
        c.ns = network.name(QStringLiteral("c%1").arg(i + 1));
        c.ip = kSubnet + QString::number(i + 1);
        c.home = std::make_unique<IsolatedHome>();
        c.dataDir = c.home->path() + QStringLiteral("/data/zorvin");
        QVERIFY(QDir().mkpath(c.dataDir));
        QFile ini(c.dataDir + QStringLiteral("/zorvin.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        // Message log on, a delivery watch of one second, nothing closes after a send.
        ini.write("[ZorvinSetting]\r\nZorvinOpMsg=1\r\nName=" + names[i] +
                  "\r\nGrp=dev\r\nMsgLog=1\r\nMsgLogSavePlace=" + c.dataDir.toLocal8Bit() +
                  "\r\nSndMsgRRChk=1\r\nSndMsgRRTim=1\r\nSndMsgWinCls=0\r\nSndMsgRWinCls=0\r\nSndMsgRWinCls1="
                  "0\r\n");
        ini.close();
        QVERIFY(PasswordFile::save(c.dataDir + QStringLiteral("/zorvinpw.dat"), QStringLiteral("pw2026")));
        c.process = std::make_unique<QProcess>();
        c.process->setProcessEnvironment(StartedCopy::offscreen(c.home->environment()));
        c.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        c.process->start(QStringLiteral("ip"),
                         {"netns", "exec", c.ns, QCoreApplication::applicationFilePath(), "--copy", c.ip,
                          c.dataDir, QString::number(TestPort::port())});
        QVERIFY(c.process->waitForStarted());
        QVERIFY2(!c.take(QStringLiteral("ready"), 20000).isEmpty(), qPrintable(c.ip + " did not start"));
    }
    Copy &yamada = copies[0];
    Copy &sato = copies[1];
    // Each hears the other's announcement by broadcast.
    for (Copy *c : {&yamada, &sato}) {
        QString peers;
        for (int attempt = 0; attempt < 100 && peers != QLatin1String("peers 1"); ++attempt) {
            if (attempt > 0)
                c->process->waitForReadyRead(100);
            c->command(QStringLiteral("peers"));
            peers = c->take(QStringLiteral("peers"));
        }
        QCOMPARE(peers, QStringLiteral("peers 1"));
    }
    const QString satoName = QString::fromUtf8("佐藤") + QStringLiteral(" (");

    // A normal message; its receipt comes back as a success.
    yamada.command(QStringLiteral("send N ") + hex(QStringLiteral("こんにちは\r\n会議は三時です")));
    QString shown = sato.take(QStringLiteral("shown 0 "));
    QVERIFY2(shown.startsWith(QStringLiteral("shown 0 normal ") + hex(QStringLiteral("yamada ("))),
             qPrintable(shown));
    QVERIFY(shown.endsWith(hex(QStringLiteral("こんにちは\r\n会議は三時です"))));
    QVERIFY(!yamada.take(QStringLiteral("result M 0 ")).isEmpty());

    // Face down with an open receipt: opening it reports "開封".
    yamada.command(QStringLiteral("send YO ") + hex(QStringLiteral("伏せた話")));
    QVERIFY(sato.take(QStringLiteral("shown 1 facedown ")).endsWith(hex(QStringLiteral("伏せた話"))));
    QVERIFY(!yamada.take(QStringLiteral("result M 0 ")).isEmpty());
    sato.command(QStringLiteral("open 1"));
    QVERIFY(!yamada.take(QStringLiteral("result M 2 ")).isEmpty());

    // Locked: a wrong password keeps it closed; the right one opens it and reports it.
    yamada.command(QStringLiteral("send LO ") + hex(QStringLiteral("鍵の話")));
    QVERIFY(!sato.take(QStringLiteral("shown 2 locked ")).isEmpty());
    QVERIFY(!yamada.take(QStringLiteral("result M 0 ")).isEmpty());
    sato.command(QStringLiteral("open 2 ") + hex(QStringLiteral("wrong")));
    QCOMPARE(sato.take(QStringLiteral("box ")),
             QStringLiteral("box ") + hex(QStringLiteral("ﾊﾟｽﾜｰﾄﾞが違います。")));
    sato.command(QStringLiteral("state 2"));
    QCOMPARE(sato.take(QStringLiteral("state 2")), QStringLiteral("state 2 closed"));
    QVERIFY(!yamada.has(QStringLiteral("result M 2 ")));
    sato.command(QStringLiteral("open 2 ") + hex(QStringLiteral("pw2026")));
    QVERIFY(!yamada.take(QStringLiteral("result M 2 ")).isEmpty());
    sato.command(QStringLiteral("state 2"));
    QCOMPARE(sato.take(QStringLiteral("state 2")), QStringLiteral("state 2 open"));

    // A quoted reply, sent at once.
    sato.command(QStringLiteral("reply 0 ") + hex(QStringLiteral("了解")));
    shown = yamada.take(QStringLiteral("shown 0 normal ") + hex(satoName));
    QVERIFY2(!shown.isEmpty(), qPrintable(yamada.lines.join(u'\n')));
    const QString reply = unhex(shown.section(u' ', 4));
    QVERIFY2(reply.contains(QStringLiteral(" wrote:\r\n>こんにちは\r\n>会議は三時です\r\n了解")),
             qPrintable(reply));
    QVERIFY(!sato.take(QStringLiteral("result M 0 ")).isEmpty());

    // A forward through the send dialog keeps the text.
    sato.command(QStringLiteral("forward 0"));
    shown = yamada.take(QStringLiteral("shown 1 normal "));
    const QString forward = unhex(shown.section(u' ', 4));
    QVERIFY2(forward.startsWith(QStringLiteral("Forwarded Message by ") + QString::fromUtf8("佐藤")),
             qPrintable(forward));
    QVERIFY(forward.endsWith(QStringLiteral("---\r\nこんにちは\r\n会議は三時です")));

    // A receipt that does not come: the sender asks and sends again; the recipient, running
    // again, answers both and shows the message once.
    // `ip netns exec` execs the copy: the process started is the copy itself.
    QCOMPARE(::kill(pid_t(sato.process->processId()), SIGSTOP), 0);
    yamada.command(QStringLiteral("send N ") + hex(QStringLiteral("届きましたか")));
    QVERIFY(!yamada.take(QStringLiteral("box "), 15000).isEmpty());
    ::kill(pid_t(sato.process->processId()), SIGCONT);
    QVERIFY(sato.take(QStringLiteral("shown 3 normal ")).endsWith(hex(QStringLiteral("届きましたか"))));
    QVERIFY(!yamada.take(QStringLiteral("result M 0 ")).isEmpty());
    QVERIFY(!yamada.take(QStringLiteral("result M 0 ")).isEmpty());
    QVERIFY(sato.take(QStringLiteral("shown 4 "), 2000).isEmpty());

    // Both logs hold the conversation in CP932.
    for (Copy *c : {&yamada, &sato}) {
        c->process->closeWriteChannel();
        QVERIFY(c->process->waitForFinished(20000));
    }
    for (const QString &text : {QStringLiteral("こんにちは"), QStringLiteral("鍵の話"),
                                QStringLiteral("了解"), QStringLiteral("届きましたか")}) {
        QVERIFY2(yamada.log().contains(AnsiCodec::encode(text)), qPrintable(text));
        QVERIFY2(sato.log().contains(AnsiCodec::encode(text)), qPrintable(text));
    }
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--copy") == 0)
        return runCopy(argc, argv);
    QCoreApplication app(argc, argv);
    tst_MessageSystem test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_message_system.moc"
