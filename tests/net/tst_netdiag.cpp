// Network diagnostics over real sockets: counts per kind, the history without message
// texts, the test send against a listening engine and a silent socket, and the
// `--diagnose` process answering to an engine in this process.
#include "net/AddressStore.h"
#include "net/NetDiagnosisReport.h"
#include "net/NetDiagnostics.h"
#include "support/IsolatedHome.h"
#include "support/LoopbackEngine.h"

#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

namespace {

const QByteArray kSecret = "MUST-NOT-LEAK-7391";

NetDiagnostics::Counts countsOf(const NetEngine &engine, const QString &kind)
{
    return engine.diagnostics().counts().value(kind);
}

// Two started engines on host numbers `first` and first + 1, and a plain socket on first + 2
// that never answers.
struct Trio
{
    explicit Trio(int first)
        : a(QString("127.0.0.%1").arg(first), "alice", "g"),
          b(QString("127.0.0.%1").arg(first + 1), "bob", "g"), thirdIp(QString("127.0.0.%1").arg(first + 2))
    {
        started = a.start() && b.start() && socket.bind(QHostAddress(thirdIp), TestPort::port());
    }
    LoopbackEngine a;
    LoopbackEngine b;
    QString thirdIp;
    QUdpSocket socket;
    bool started = false;
};

} // namespace

class TestNetDiag : public QObject
{
    Q_OBJECT
  private slots:
    void kindIsTheLeadingCommandOnly()
    {
        QCOMPARE(NetDiagnostics::kindOf("captMS0000001234" + kSecret), QString("captMS"));
        QCOMPARE(NetDiagnostics::kindOf("cBX266name"), QString("cBX"));
        QCOMPARE(NetDiagnostics::kindOf("captB"), QString("?"));
        QCOMPARE(NetDiagnostics::kindOf(kSecret), QString("?"));
        QCOMPARE(NetDiagnostics::kindOf(""), QString("?"));
    }

    void historyKeepsTheLastTwoHundredOldestFirst()
    {
        NetDiagnostics diag;
        for (int i = 0; i < NetDiagnostics::kHistorySize + 5; ++i)
            diag.record(NetDiagnostics::Sent, QString("10.0.0.%1").arg(i % 250), QByteArray(i + 1, 'x'));
        const QList<NetDiagnostics::Record> history = diag.history();
        QCOMPARE(history.size(), NetDiagnostics::kHistorySize);
        QCOMPARE(history.first().size, 6);
        QCOMPARE(history.last().size, NetDiagnostics::kHistorySize + 5);
        QCOMPARE(diag.counts().value("?").sent, quint64(NetDiagnostics::kHistorySize + 5));
        diag.setEnabled(false);
        diag.record(NetDiagnostics::Received, "10.0.0.1", "captBC");
        QVERIFY(diag.lastHeard().isEmpty());
    }

    void countsAndPeersFromRealDatagramsWithoutTexts()
    {
        Trio trio(2);
        QVERIFY(trio.started);
        LoopbackEngine &a = trio.a;
        LoopbackEngine &b = trio.b;
        QUdpSocket &probe = trio.socket;
        // a sends a message with a known text to b; the probe sends two announcements.
        QCOMPARE(
            a.engine.BCastMsgSend("captMS" + QString("%1").arg(1, 6, 10, QChar('0')) + kSecret, "127.0.0.3"),
            0);
        for (int i = 0; i < 2; ++i)
            probe.writeDatagram("captBCprobe", QHostAddress("127.0.0.3"), TestPort::port());
        // b answers each announcement with three datagrams.
        QTRY_COMPARE(countsOf(b.engine, "captBC").received, quint64(2));
        QTRY_COMPARE(countsOf(b.engine, "captMS").received, quint64(1));
        QCOMPARE(countsOf(b.engine, "cBX").sent, quint64(2));
        QCOMPARE(countsOf(b.engine, "zorvin").sent, quint64(2));
        QCOMPARE(countsOf(a.engine, "captMS").sent, quint64(1));
        QVERIFY(b.engine.diagnostics().lastHeard().contains("127.0.0.2"));
        QVERIFY(b.engine.diagnostics().lastHeard().contains("127.0.0.4"));

        const QString reportA = NetDiagnosisReport::text(a.engine);
        const QString reportB = NetDiagnosisReport::text(b.engine);
        for (const QString &report : {reportA, reportB}) {
            QVERIFY(!report.contains(QString::fromLatin1(kSecret)));
            QVERIFY(!report.contains("probe"));
        }
        QVERIFY(reportB.contains(QString("UDP port %1: bound").arg(TestPort::port())));
        QVERIFY(reportB.contains(QString("TCP port %1: bound").arg(TestPort::port())));
        QVERIFY(reportB.contains("Address in use: 127.0.0.3"));
        QVERIFY(reportB.contains(QRegularExpression("received 127\\.0\\.0\\.2 +captMS \\d+ bytes")));
    }

    void portHeldByAnotherProgramIsReported()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress("127.0.0.5"), TestPort::port()));
        LoopbackEngine a("127.0.0.5", "alice", "g");
        a.engine.OpenSocketsForDiagnosis();
        QVERIFY(!a.engine.udpBound());
        QVERIFY(a.engine.tcpBound());
        QVERIFY(!a.engine.udpBindError().isEmpty());
        QVERIFY(NetDiagnosisReport::text(a.engine).contains("another program may hold the port"));
    }

    void testSendReportsAnAnswerOnlyFromAListeningEngine()
    {
        Trio trio(6);
        QVERIFY(trio.started);
        LoopbackEngine &a = trio.a;
        QUdpSocket &silent = trio.socket;
        QSignalSpy finished(&a.engine, &NetEngine::testSendFinished);

        QVERIFY(a.engine.TestSend("127.0.0.7"));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.takeFirst(), QVariantList({"127.0.0.7", true}));

        QVERIFY(a.engine.TestSend("127.0.0.8"));
        QVERIFY(finished.wait(6000));
        QCOMPARE(finished.takeFirst(), QVariantList({"127.0.0.8", false}));
        QVERIFY(silent.hasPendingDatagrams());
        QCOMPARE(silent.receiveDatagram().data().left(6), QByteArray("captBC"));

        QVERIFY(!a.engine.TestSend("not-an-address"));
        QCOMPARE(finished.count(), 0);
    }

    void diagnoseProcessCountsTheAnswersItGot()
    {
        LoopbackEngine peer("127.0.0.9", "peer", "g");
        QVERIFY(peer.start());
        IsolatedHome home;
        QVERIFY(home.isValid());
        const QString dataDir = home.path() + "/data";
        QVERIFY(QDir().mkpath(dataDir));
        QProcess process;
        process.setProcessEnvironment(home.environment());
        process.start(ZORVIN_BINARY,
                      {"--diagnose", "--data-dir", dataDir, "--port", QString::number(TestPort::port()),
                       "--bind-address", "127.0.0.10", "--broadcast-address", "127.0.0.9"});
        // The peer in this process must answer while the other one runs: wait on the signal.
        QSignalSpy done(&process, &QProcess::finished);
        QVERIFY(done.wait(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        QTRY_COMPARE(countsOf(peer.engine, "captBC").received, quint64(1));
        // It leaves as a copy does, so the peer does not keep it as present.
        QTRY_VERIFY(countsOf(peer.engine, "captGB").received > 0);
        QTRY_VERIFY(!peer.engine.addresses().FindAddressByIp("127.0.0.10").isAvail());
        // The peer answered the one announcement with one of each answer.
        QVERIFY2(out.contains(QRegularExpression("cBX +1 / 1\\n")), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression("captBC +1 / 0\\n")), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression("zorvin +0 / 1\\n")), qPrintable(out));
        QVERIFY(out.contains("Broadcast address: 127.0.0.9"));
        QVERIFY(out.contains(QRegularExpression("\\n  127\\.0\\.0\\.9 +\\d{4}-")));
        QVERIFY(out.contains(QString("UDP port %1: bound").arg(TestPort::port())));
        // A diagnosis makes no key pair: the data folder stays as it was, and no key went out.
        QVERIFY2(out.contains("Key fingerprint: (no key file yet)\n"), qPrintable(out));
        QVERIFY(!QFile::exists(dataDir + "/zorvin.key"));
        QCOMPARE(countsOf(peer.engine, "captPK").received, quint64(0));
    }
};

QTEST_GUILESS_MAIN(TestNetDiag)
#include "tst_netdiag.moc"
