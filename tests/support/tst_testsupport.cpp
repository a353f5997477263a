// What every other test stands on: ctest gives each test a private home and temporary
// folder and removes it afterwards, a test that leaves work folders in the real temporary
// folder fails, and the test port is free on the loopback addresses and claimed. The fake
// peers and the started copy behave as the tests that use them rely on.
#include "support/IsolatedHome.h"
#include "support/RawPeer.h"
#include "support/StartedCopy.h"
#include "support/TcpPeer.h"
#include "support/TestPort.h"

#include <QElapsedTimer>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {

const char *const kVariables[] = {"HOME",           "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                  "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"};

// rwx for the owner, nothing for anyone else.
bool ownerOnly(const QString &path)
{
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    return (QFileInfo(path).permissions() & (owner | others)) == owner;
}

struct Run
{
    int exitCode = -1;
    QString out, err;
};

// Runs a shell command through the ctest wrapper, as ctest runs a test.
Run runIsolated(const QString &command, const QStringList &arguments = {})
{
    QProcess p;
    p.start(QStringLiteral("sh"),
            QStringList{qEnvironmentVariable("ZORVIN_SOURCE_DIR") + QStringLiteral("/tests/run-isolated.sh"),
                        QStringLiteral("sh"), QStringLiteral("-c"), command, QStringLiteral("sh")} +
                arguments);
    if (!p.waitForFinished(30000))
        return {};
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class TestSupport : public QObject
{
    Q_OBJECT
  private slots:
    void testRunsWithPrivateHomeAndTemporaryFolder();
    void wrapperPassesTheResultAndRemovesItsFolder();
    void wrapperFailsATestThatLeavesWorkFolders();
    void testPortIsFreeOnLoopbackAndClaimed();
    void isolatedHomeGivesChildrenTheirOwnFolders();
    void rawPeerTakesDatagramsInOrderWithTheirSenders();
    void tcpPeerRepliesOnceAfterTheHeaderOrLeavesBytesUnread();
    void startedCopyIsAskedToQuitAtTheEndOfItsScope();
};

void TestSupport::testRunsWithPrivateHomeAndTemporaryFolder()
{
    const QString root = QFileInfo(qEnvironmentVariable("HOME")).path();
    for (const char *variable : kVariables) {
        const QString value = qEnvironmentVariable(variable);
        QVERIFY2(!value.isEmpty() && QFileInfo(value).path() == root, variable);
        QVERIFY2(QFileInfo(value).isDir(), variable);
    }
    QVERIFY(qEnvironmentVariable("HOME") != QString::fromLocal8Bit(::getpwuid(::getuid())->pw_dir));
    QVERIFY(ownerOnly(qEnvironmentVariable("XDG_RUNTIME_DIR")));
    QCOMPARE(QDir::tempPath(), qEnvironmentVariable("TMPDIR"));
    QVERIFY(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                .startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
}

void TestSupport::wrapperPassesTheResultAndRemovesItsFolder()
{
    // Run inside this test, the wrapper's "system temporary folder" is this test's own.
    const Run run = runIsolated(QStringLiteral("echo \"$HOME\"; touch \"$TMPDIR/file\"; exit 3"));
    QCOMPARE(run.exitCode, 3);
    const QString home = run.out.trimmed();
    QVERIFY2(home.startsWith(QDir::tempPath() + QLatin1Char('/')), qPrintable(home));
    QVERIFY(home != qEnvironmentVariable("HOME"));
    QVERIFY(!QFileInfo::exists(QFileInfo(home).path()));
}

void TestSupport::wrapperFailsATestThatLeavesWorkFolders()
{
    const QString old = QDir::tempPath() + QStringLiteral("/zorvin-0-old");
    QVERIFY(QDir().mkpath(old));
    QCOMPARE(runIsolated(QStringLiteral("true")).exitCode, 0); // not blamed for what was there before

    const QString leak = QDir::tempPath() + QStringLiteral("/zorvin-0-leak");
    const Run run = runIsolated(QStringLiteral("mkdir \"$1\""), {leak});
    QVERIFY(QFileInfo(leak).isDir());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(leak) && !run.err.contains(old), qPrintable(run.err));
    QVERIFY(QDir(leak).removeRecursively() && QDir(old).removeRecursively());
}

void TestSupport::testPortIsFreeOnLoopbackAndClaimed()
{
    const quint16 port = TestPort::port();
    QCOMPARE(TestPort::port(), port);
    QVERIFY(port != 62410);
    for (int host : {1, 2, TestPort::kLastHost}) {
        const QHostAddress address(QStringLiteral("127.0.0.%1").arg(host));
        QUdpSocket udp;
        QVERIFY2(udp.bind(address, port, QAbstractSocket::DontShareAddress), qPrintable(udp.errorString()));
        QTcpServer tcp;
        QVERIFY2(tcp.listen(address, port), qPrintable(tcp.errorString()));
    }
    // Held by this process, so no other test process can claim it.
    QVERIFY(!TestPort::reserve(port));
}

void TestSupport::isolatedHomeGivesChildrenTheirOwnFolders()
{
    QString root;
    {
        IsolatedHome home;
        QVERIFY(home.isValid());
        root = home.path();
        QVERIFY(root.startsWith(QDir::tempPath() + QLatin1Char('/')));
        const QProcessEnvironment env = home.environment();
        for (const char *variable : kVariables)
            QCOMPARE(QFileInfo(env.value(QString::fromLatin1(variable))).path(), root);
        QVERIFY(ownerOnly(env.value(QStringLiteral("XDG_RUNTIME_DIR"))));

        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QStringLiteral("sh"),
                    {QStringLiteral("-c"), QStringLiteral("touch \"$HOME/x\"; echo \"$HOME\"")});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed(),
                 root + QStringLiteral("/home"));
        QVERIFY(QFileInfo::exists(root + QStringLiteral("/home/x")));
    }
    QVERIFY(!QFileInfo::exists(root));
}

void TestSupport::rawPeerTakesDatagramsInOrderWithTheirSenders()
{
    RawPeer a(QStringLiteral("127.0.0.3"));
    RawPeer b(QStringLiteral("127.0.0.4"));
    QVERIFY(a.bound && b.bound);
    QVERIFY(!RawPeer(QStringLiteral("127.0.0.4")).bound); // the address is taken

    // Seen while still in the socket, before the event loop ran.
    a.sendTo(QStringLiteral("127.0.0.4"), "one");
    QVERIFY(QTest::qWaitFor([&b] { return b.socket.hasPendingDatagrams(); }, 5000));
    QVERIFY(b.hasUnread());
    a.sendTo(QStringLiteral("127.0.0.4"), QByteArray());
    a.sendTo(QStringLiteral("127.0.0.4"), "three");
    QCOMPARE(b.next(), QByteArray("one"));
    QCOMPARE(b.next(), QByteArray());
    QCOMPARE(b.next(), QByteArray("three"));
    QVERIFY(!b.hasUnread());
    QCOMPARE(b.next(100), QByteArray("<nothing>"));
    QCOMPARE(b.senders, QStringList(3, QStringLiteral("127.0.0.3")));

    // What came stays listed; clearing the list leaves the next datagram to next().
    b.received.clear();
    a.sendTo(QStringLiteral("127.0.0.4"), "four");
    QVERIFY(b.waitFor(1));
    QCOMPARE(b.next(), QByteArray("four"));
    QVERIFY(a.received.isEmpty());
}

void TestSupport::tcpPeerRepliesOnceAfterTheHeaderOrLeavesBytesUnread()
{
    TcpPeer refusing(QStringLiteral("127.0.0.5"), true, "no");
    QVERIFY(refusing.start());
    QTcpSocket client;
    client.connectToHost(QHostAddress(QStringLiteral("127.0.0.5")), TestPort::port());
    QVERIFY(client.waitForConnected(5000));
    const QByteArray header(256, 'h');
    client.write(header.left(100));
    QTRY_COMPARE(refusing.bytes.size(), 100);
    QTest::qWait(100);
    QCOMPARE(client.bytesAvailable(), 0); // not before the header is whole
    client.write(header.mid(100) + "body");
    QTRY_COMPARE(refusing.bytes, header + "body");
    QTRY_COMPARE(client.bytesAvailable(), 2);
    QCOMPARE(client.readAll(), QByteArray("no"));
    client.write("more");
    QTRY_COMPARE(refusing.bytes.size(), 264);
    QTest::qWait(100);
    QCOMPARE(client.bytesAvailable(), 0); // once per connection
    QCOMPARE(refusing.connections.size(), 1);
    QCOMPARE(refusing.connection, refusing.connections.first());

    TcpPeer holding(QStringLiteral("127.0.0.6"), false);
    QVERIFY(holding.start());
    QVERIFY(!TcpPeer(QStringLiteral("127.0.0.6")).start()); // the address is taken
    QTcpSocket sender;
    sender.connectToHost(QHostAddress(QStringLiteral("127.0.0.6")), TestPort::port());
    QVERIFY(sender.waitForConnected(5000));
    sender.write(header);
    QTRY_COMPARE(holding.connections.size(), 1);
    QTRY_COMPARE(holding.connection->bytesAvailable(), qint64(header.size()));
    QVERIFY(holding.bytes.isEmpty());
}

void TestSupport::startedCopyIsAskedToQuitAtTheEndOfItsScope()
{
    // A shell that writes a line when asked to quit, as the program saves and cleans up.
    const QString said = QDir::temp().filePath(QStringLiteral("said"));
    qint64 pid = 0;
    QElapsedTimer clock;
    {
        StartedCopy copy;
        QVERIFY(copy.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("trap 'echo term > \"%1\"; exit 0' TERM; echo up; "
                                                  "while :; do sleep 0.05; done")
                                       .arg(said)}));
        QVERIFY(copy.process->waitForReadyRead(5000));
        pid = copy.process->processId();
        clock.start();
    }
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(::kill(pid_t(pid), 0) != 0);
    QFile file(said);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("term\n"));
    QVERIFY(file.remove());

    // A moved-from copy has nothing left to end.
    StartedCopy first;
    StartedCopy second(std::move(first));
    QVERIFY(!first.process);
    QCOMPARE(second.process->state(), QProcess::NotRunning);
}

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_testsupport.moc"
