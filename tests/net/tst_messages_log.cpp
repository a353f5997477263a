// The message log file: records byte for byte in CP932 with CR LF, the file naming
// types, and the viewer command.
#include "base/ModZorvin.h"
#include "net/EngineEvents.h"
#include "net/MsgLog.h"
#include "support/FileBytes.h"

#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Records the log viewer the engine asks for.
class LogHost : public EngineEvents
{
  public:
    LogHost()
    {
        connect(this, &EngineEvents::logViewerRequested, this,
                [this](const QString &program, const QStringList &arguments, const QString &path) {
                    viewerProgram = program;
                    viewerArguments = arguments;
                    viewerPath = path;
                    ++viewerCalls;
                });
    }
    QString viewerProgram;
    QStringList viewerArguments;
    QString viewerPath;
    int viewerCalls = 0;
};

const QDateTime kMonday(QDate(2026, 12, 7), QTime(9, 5, 3));

// "  at Monday Dec 7 09:05:03 2026 " as the C locale writes it.
const QByteArray kDateLine("  at Monday Dec 7 09:05:03 2026 ");
const QByteArray kHead("=====================================\r\n");
const QByteArray kRule("-------------------------------------\r\n");
const QByteArray kTail("\r\n\r\n\r\n");

} // namespace

class TestMsgLog : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void init()
    {
        QVERIFY(m_dir.isValid());
        m_ctx = ModZorvin();
        m_ctx.ProgramDir = m_dir.path() + QLatin1Char('/');
        m_ctx.settings.MsgLog = 1;
        m_ctx.settings.MsgLogType = 0;
        m_ctx.settings.MsgLogName = QStringLiteral("CTMSG");
        m_ctx.settings.MsgLogSavePlace = m_dir.path();
        m_host = std::make_unique<LogHost>();
        m_log = std::make_unique<MsgLog>(m_ctx, *m_host);
        m_log->setClock([] { return kMonday; });
        QFile::remove(path());
    }

    void receivedRecordsAreWrittenInCp932WithTheirMarkers()
    {
        // Normal, face down and locked arrivals, appended to one file in order.
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("佐藤 (PC01)"),
                           QStringLiteral("こんにちは\r\nテスト"), QStringLiteral("N"));
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("10.0.0.9"), QStringLiteral("x"),
                           QStringLiteral("Y"));
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("10.0.0.9"), QStringLiteral("y"),
                           QStringLiteral("L"));

        const QByteArray expected =
            kHead + " From: \x8d\xb2\x93\xa1 (PC01)\r\n" + kDateLine + "\r\n" + kRule +
            "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n\x83\x65\x83\x58\x83\x67" + kTail + kHead +
            " From: 10.0.0.9\r\n" + kDateLine + "\x28\x95\x95\x29\r\n" + kRule + "x" + kTail + kHead +
            " From: 10.0.0.9\r\n" + kDateLine + "\x28\x8c\xae\x29\r\n" + kRule + "y" + kTail;
        QCOMPARE(fileBytes(path()), expected);
    }

    void sendDialogRecordListsEveryRecipientAndMarksSeveral()
    {
        const QString datagram = QStringLiteral("captMSNY07N hello");
        m_log->WriteMsgLog(MsgLog::Sent, MsgLog::FromSendDialog, QString(), datagram, QStringLiteral("Y"),
                           {QStringLiteral("a (h1)"), QStringLiteral("佐藤 (h2)"), QStringLiteral("c (h3)")});
        const QByteArray expected = kHead + " To: a (h1)\r\n To: \x8d\xb2\x93\xa1 (h2)\r\n To: c (h3)\r\n" +
                                    kDateLine + "\x28\x91\xbd\x29\x28\x95\x95\x29\r\n" + kRule + "hello" +
                                    kTail;
        QCOMPARE(fileBytes(path()), expected);
    }

    void singleRecipientFromTheSendDialogHasNoSeveralMarker()
    {
        m_log->WriteMsgLog(MsgLog::Sent, MsgLog::FromSendDialog, QString(), QStringLiteral("captMSYN00N hi"),
                           QStringLiteral("N"), {QStringLiteral("a (h1)")});
        QCOMPARE(fileBytes(path()), kHead + " To: a (h1)\r\n" + kDateLine + "\r\n" + kRule + "hi" + kTail);
    }

    void directSendNamesTheRecipientEvenWhenEmpty()
    {
        m_log->WriteMsgLog(MsgLog::Sent, MsgLog::DirectSend, QString(),
                           QStringLiteral("captMSYL42Y line1\r\n"), QStringLiteral("L"));
        QCOMPARE(fileBytes(path()),
                 kHead + " To: \r\n" + kDateLine + "\x28\x8c\xae\x29\r\n" + kRule + "line1\r\n" + kTail);
    }

    void unmappableCharactersBecomeQuestionMarks()
    {
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("\u00e9"),
                           QStringLiteral("a\u20acb\U0001F600c"), QStringLiteral("N"));
        QCOMPARE(fileBytes(path()), kHead + " From: ?\r\n" + kDateLine + "\r\n" + kRule + "a?b??c" + kTail);
    }

    void nothingIsWrittenWhenTheLogIsOffAndAMissingFolderIsReported()
    {
        m_ctx.settings.MsgLog = 0;
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("n"), QStringLiteral("t"),
                           QStringLiteral("N"));
        QVERIFY(!QFile::exists(path()));

        QSignalSpy failed(m_host.get(), &EngineEvents::msgLogWriteFailed);
        m_ctx.settings.MsgLog = 1;
        m_ctx.settings.MsgLogSavePlace = m_dir.path() + QStringLiteral("/missing");
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("n"), QStringLiteral("t"),
                           QStringLiteral("N"));
        QVERIFY(!QFile::exists(m_dir.path() + QStringLiteral("/missing")));
        // The failure is reported, once while it lasts, and again after a record got through.
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed[0].at(0).toString(), m_dir.path() + QStringLiteral("/missing/CTMSG.log"));
        QVERIFY(!failed[0].at(1).toString().isEmpty());
        m_log->WriteReceivedMsgLog(QStringLiteral("127.0.0.5"), QStringLiteral("n"), QStringLiteral("t"),
                                   QStringLiteral("N"));
        QCOMPARE(failed.size(), 1);
        m_ctx.settings.MsgLogSavePlace = m_dir.path();
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("n"), QStringLiteral("t"),
                           QStringLiteral("N"));
        QVERIFY(QFile::exists(path()));
        m_ctx.settings.MsgLogSavePlace = m_dir.path() + QStringLiteral("/missing");
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("n"), QStringLiteral("t"),
                           QStringLiteral("N"));
        QCOMPARE(failed.size(), 2);
    }

    void fileNameFollowsTheNamingType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fixed") << 0 << "LOG"
                               << "/var/x"
                               << "/var/x/LOG.log";
        QTest::newRow("fixed, folder with separator") << 0 << "LOG"
                                                      << "/var/x/"
                                                      << "/var/x/LOG.log";
        QTest::newRow("fixed, default name") << 0 << ""
                                             << "/var/x"
                                             << "/var/x/CTMSG.log";
        QTest::newRow("year") << 1 << "M"
                              << "/var/x"
                              << "/var/x/M2026.log";
        QTest::newRow("year, no name") << 1 << ""
                                       << "/var/x/"
                                       << "/var/x/2026.log";
        QTest::newRow("month") << 2 << "M"
                               << "/var/x"
                               << "/var/x/M2603.log";
        QTest::newRow("day") << 3 << "M"
                             << "/var/x"
                             << "/var/x/M0309.log";
        QTest::newRow("program folder") << 0 << "M"
                                        << ""
                                        << "/prog/M.log";
    }

    void fileNameFollowsTheNamingType()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        Settings s;
        s.MsgLogType = uint8_t(type);
        s.MsgLogName = name;
        s.MsgLogSavePlace = folder;
        QCOMPARE(MsgLog::LogFilePath(s, QStringLiteral("/prog/"), QDate(2026, 3, 9)), expected);
    }

    void aRecordJustAfterMidnightGoesToTheNewDaysFile()
    {
        m_ctx.settings.MsgLogType = 3;
        m_ctx.settings.MsgLogName = QStringLiteral("D");
        QDateTime now(QDate(2026, 12, 31), QTime(23, 59, 59));
        m_log->setClock([&now] { return now; });
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("n"), QStringLiteral("old"),
                           QStringLiteral("N"));
        now = QDateTime(QDate(2027, 1, 1), QTime(0, 0, 1));
        m_log->WriteMsgLog(MsgLog::Received, 1, QStringLiteral("n"), QStringLiteral("new"),
                           QStringLiteral("N"));

        QCOMPARE(fileBytes(m_dir.filePath(QStringLiteral("D1231.log"))),
                 kHead + " From: n\r\n  at Thursday Dec 31 23:59:59 2026 \r\n" + kRule + "old" + kTail);
        QCOMPARE(fileBytes(m_dir.filePath(QStringLiteral("D0101.log"))),
                 kHead + " From: n\r\n  at Friday Jan 1 00:00:01 2027 \r\n" + kRule + "new" + kTail);

        // The show command opens the file of the current date.
        m_log->ShowMsgLog();
        QCOMPARE(m_host->viewerPath, m_dir.filePath(QStringLiteral("D0101.log")));
    }

    void weekdayAndMonthFollowTheLocale()
    {
        const QByteArray record = MsgLog::FormatRecord(MsgLog::Received, 1, QStringLiteral("n"),
                                                       QStringLiteral("t"), QStringLiteral("N"), {}, kMonday,
                                                       QLocale(QLocale::Japanese, QLocale::Japan));
        // "  at 月曜日 12月 7 09:05:03 2026 "
        QVERIFY2(record.contains("  at \x8c\x8e\x97\x6a\x93\xfa 12\x8c\x8e 7 09:05:03 2026 \r\n"),
                 record.constData());
    }

    void viewerCommand()
    {
        const QString log = QStringLiteral("/logs/CTMSG.log");
        // The default viewer does not exist here: the desktop's default opens the log.
        const MsgLog::ViewerCommand notepad = MsgLog::ViewerCommandFor(QStringLiteral("NOTEPAD"), log);
        QVERIFY(notepad.program.isEmpty());
        QVERIFY(MsgLog::ViewerCommandFor(QString(), log).program.isEmpty());

        // A program path with a blank is one program.
        const QString viewer = m_dir.filePath(QStringLiteral("my viewer"));
        QFile f(viewer);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const MsgLog::ViewerCommand whole = MsgLog::ViewerCommandFor(viewer, log);
        QCOMPARE(whole.program, viewer);
        QCOMPARE(whole.arguments, QStringList{log});

        // Anything else is a command line; the log path comes last.
        const MsgLog::ViewerCommand line = MsgLog::ViewerCommandFor(QStringLiteral("less -N"), log);
        QCOMPARE(line.program, QStringLiteral("less"));
        QCOMPARE(line.arguments, (QStringList{QStringLiteral("-N"), log}));

        m_ctx.settings.MsgLogShowApp = QStringLiteral("NOTEPAD");
        m_log->ShowMsgLog();
        QCOMPARE(m_host->viewerCalls, 1);
        QVERIFY(m_host->viewerProgram.isEmpty());
        QCOMPARE(m_host->viewerPath, path());
    }

  private:
    QString path() const { return m_dir.filePath(QStringLiteral("CTMSG.log")); }

    QTemporaryDir m_dir;
    ModZorvin m_ctx;
    std::unique_ptr<LogHost> m_host;
    std::unique_ptr<MsgLog> m_log;
};

QTEST_GUILESS_MAIN(TestMsgLog)
#include "tst_messages_log.moc"
