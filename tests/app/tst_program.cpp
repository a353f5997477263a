// The zorvin program as a user starts it: one copy per data folder, work folders emptied
// at start and removed at quit, SIGTERM quits in order, a crashed copy never blocks the next,
// a port held by another program is named as such.
#include "base/StartOptions.h"
#include "support/FirstRun.h"
#include "support/StartedCopy.h"
#include "support/TestPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

namespace {

const QString kBinary = QStringLiteral(ZORVIN_BINARY);

// Loopback only: a copy announces itself and says goodbye by broadcast.
struct RunningCopy : StartedCopy
{
    // Copies running side by side need their own address on the test's port.
    QString address = QStringLiteral("127.0.0.9");

    void start(const QString &dataDir, const QStringList &extra = {}, bool markPastFirstRun = true)
    {
        if (markPastFirstRun)
            skipFirstRunPrompt(dataDir);
        QVERIFY(StartedCopy::start(kBinary, onLoopback(dataDir, address) + extra, offscreen()));
    }
};

// The version stamp is the last thing a successful start-up writes.
bool startupFinished(const QString &dataDir)
{
    QFile ini(dataDir + QStringLiteral("/zorvin.ini"));
    return ini.open(QIODevice::ReadOnly) && ini.readAll().contains("Major=2");
}

void terminate(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
}

} // namespace

class tst_Program : public QObject
{
    Q_OBJECT
  private slots:
    void helpAndVersionAnswerWithoutStarting();
    void portOptionIsCheckedAndUsed();
    void secondCopyIsRefusedWhileFirstKeepsRunning();
    void portHeldByAnotherProgramIsNamed();
    void workFoldersAreEmptiedAtStartAndRemovedAtQuit();
    void damagedDataFilesAreKeptBesideAndStartStaysQuick();
    void copyThatCrashedDoesNotBlockTheNextStart();
    void plantedTempFolderIsNotUsed();
    void openFileLimitIsRaisedToTheHardLimit();
};

void tst_Program::helpAndVersionAnswerWithoutStarting()
{
    // On a terminal without any display.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(kBinary, {QStringLiteral("--version")});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().startsWith("zorvin 2.66"));

    p.start(kBinary, {QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray help = p.readAllStandardOutput();
    QVERIFY(help.startsWith("Usage: zorvin [options]"));
    QVERIFY(help.contains("--data-dir"));
    QVERIFY(help.contains("--port <N>"));

    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(kBinary, {QStringLiteral("--no-such-option")});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
}

void tst_Program::portOptionIsCheckedAndUsed()
{
    QProcess p;
    for (const QString &bad : {QStringLiteral("0"), QStringLiteral("65536"), QStringLiteral("-1"),
                               QStringLiteral("62410x"), QString()}) {
        p.start(kBinary, {QStringLiteral("--port"), bad});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(p.readAllStandardError().contains("Not a port number (1-65535): " + bad.toUtf8()),
                 qPrintable(bad));
    }

    // The copy hears an announcement on the given port and answers to it.
    QTemporaryDir data;
    RunningCopy copy;
    copy.start(data.path());
    QTRY_VERIFY_WITH_TIMEOUT(startupFinished(data.path()), 20000);
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress(QStringLiteral("127.0.0.2")), TestPort::port()));
    QCOMPARE(probe.writeDatagram("captBCprobe (p)", QHostAddress(copy.address), TestPort::port()), 15);
    QTRY_VERIFY(probe.hasPendingDatagrams());
    const QNetworkDatagram answer = probe.receiveDatagram();
    QVERIFY(answer.data().startsWith("cBX266"));
    QCOMPARE(answer.senderAddress(), QHostAddress(copy.address));
    terminate(*copy.process);
    QVERIFY(copy.process->waitForFinished(20000));
}

void tst_Program::secondCopyIsRefusedWhileFirstKeepsRunning()
{
    QTemporaryDir data;
    RunningCopy first;
    first.start(data.path());
    QTRY_VERIFY_WITH_TIMEOUT(startupFinished(data.path()), 20000);

    RunningCopy second;
    second.start(data.path());
    // The refusal is a message box; its text also goes to the terminal.
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += second.process->readAllStandardError())
                                 .contains(QStringLiteral("「 ぞるびん 」は既に起動しています。").toUtf8()),
                             20000);
    second.process->kill();
    second.process->waitForFinished();

    QCOMPARE(first.process->state(), QProcess::Running);
    // A copy with another data folder is a different installation and may run beside it.
    QTemporaryDir otherData;
    RunningCopy other;
    other.address = QStringLiteral("127.0.0.10");
    other.start(otherData.path());
    QTRY_VERIFY_WITH_TIMEOUT(startupFinished(otherData.path()), 20000);
    terminate(*other.process);
    QVERIFY(other.process->waitForFinished(20000));
    terminate(*first.process);
    QVERIFY(first.process->waitForFinished(20000));
    QCOMPARE(first.process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.process->exitCode(), 0);
}

void tst_Program::portHeldByAnotherProgramIsNamed()
{
    QTemporaryDir data;
    RunningCopy copy;
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress(copy.address), TestPort::port()));
    copy.start(data.path());
    // The fatal box waits for its OK; its whole text is on the terminal already.
    const QByteArray expected =
        QStringLiteral("「 ぞるびん 」の起動に失敗しました。\n ZorVinSt=000 FrmSket Err C=10048\n").toUtf8();
    const QByteArray advice =
        QStringLiteral("ポート %1 は他のプログラム、または既に起動している別のぞるびんが使用しています。\n"
                       "--bind-address で別のアドレスを、--port で別のポートを指定して起動できます。")
            .arg(TestPort::port())
            .toUtf8();
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += copy.process->readAllStandardError()).contains(advice), 20000);
    QVERIFY2(said.contains(expected), said.constData());
    QVERIFY(said.indexOf(expected) < said.indexOf(advice));
    QVERIFY(!startupFinished(data.path()));
}

void tst_Program::workFoldersAreEmptiedAtStartAndRemovedAtQuit()
{
    QTemporaryDir data;
    const QString programDir = ResolveProgramDir(data.path(), QString());
    const QString work = UserTempPath(programDir) + QStringLiteral("~zorvin");
    const QStringList leftovers = {work + QStringLiteral("/old.tmp"),
                                   work + QStringLiteral("/~STemp/CAPT01.LZH"),
                                   work + QStringLiteral("/~RTemp/half.bmp")};
    QVERIFY(QDir().mkpath(work + QStringLiteral("/~STemp")));
    QVERIFY(QDir().mkpath(work + QStringLiteral("/~RTemp")));
    for (const QString &path : leftovers) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("left by a crash");
    }

    RunningCopy copy;
    copy.start(data.path());
    QTRY_VERIFY_WITH_TIMEOUT(startupFinished(data.path()), 20000);
    for (const QString &path : leftovers)
        QVERIFY2(!QFile::exists(path), qPrintable(path));
    QVERIFY(QFileInfo(work + QStringLiteral("/~STemp")).isDir());
    QVERIFY(QFileInfo(work + QStringLiteral("/~RTemp")).isDir());
    QCOMPARE(QFileInfo(UserTempPath(programDir)).permissions() & (QFile::ReadOther | QFile::ReadGroup),
             QFile::Permissions());

    QFile late(work + QStringLiteral("/~RTemp/arriving.bin"));
    QVERIFY(late.open(QIODevice::WriteOnly));
    late.close();
    terminate(*copy.process);
    QVERIFY(copy.process->waitForFinished(20000));
    QCOMPARE(copy.process->exitCode(), 0);
    QVERIFY(!QFileInfo::exists(work));
}

void tst_Program::damagedDataFilesAreKeptBesideAndStartStaysQuick()
{
    QTemporaryDir data;
    const QString dir = data.path() + QStringLiteral("/");
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    const auto read = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    };
    // Lines of a megabyte each after what the program reads; rows far longer than the
    // program writes; a password file longer than any password.
    const QByteArray iniHead = "[ZorvinSetting]\r\nZorvinOpMsg=1\r\nName=kept\r\n";
    QByteArray ini = iniHead, dat;
    for (int i = 0; i < 24; ++i) {
        ini += "Junk" + QByteArray::number(i) + '=' + QByteArray(1 << 20, 'j') + "\r\n";
        dat += '"' + QByteArray(100000, 'n') + "\",\"10.0.0." + QByteArray::number(i) +
               "\",\"M\",\"\",\"\",\"\"\r\n";
    }
    const QByteArray pw(4096, '\x07');
    QVERIFY(write(dir + "zorvin.ini", ini));
    QVERIFY(write(dir + "zorvin.dat", dat));
    QVERIFY(write(dir + "zorvinpw.dat", pw));

    RunningCopy copy;
    QElapsedTimer clock;
    clock.start();
    copy.start(data.path(), {}, false);
    // It says once which files it kept, then shows the same in a box; SIGTERM ends it there.
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += copy.process->readAllStandardError()).contains("zorvin.dat.bak"),
                             20000);
    qInfo("kept the damaged files after %lld ms", clock.elapsed());
    QVERIFY(said.contains("zorvin.ini → zorvin.ini.bak"));
    QVERIFY(said.contains("zorvinpw.dat → zorvinpw.dat.bak"));
    clock.restart();
    terminate(*copy.process);
    QVERIFY(copy.process->waitForFinished(10000));
    qInfo("ended %lld ms after SIGTERM", clock.elapsed());

    QCOMPARE(read(dir + "zorvin.ini.bak"), ini);
    QCOMPARE(read(dir + "zorvin.dat.bak"), dat);
    QCOMPARE(read(dir + "zorvinpw.dat.bak"), pw);
    QVERIFY(read(dir + "zorvin.ini").startsWith(iniHead));
    QVERIFY(read(dir + "zorvin.ini").size() < 4096);
    const QByteArray book = read(dir + "zorvin.dat");
    QCOMPARE(book.count("\r\n"), 24);
    QVERIFY(book.contains("\"10.0.0.23\",\"M\""));
    QVERIFY(book.size() < 24 * 400);
    QVERIFY(read(dir + "zorvinpw.dat").size() <= 24);

    // The next start finds nothing to keep, and says nothing.
    RunningCopy next;
    next.start(data.path(), {}, false);
    QTRY_VERIFY_WITH_TIMEOUT(startupFinished(data.path()), 20000);
    QVERIFY(!next.process->readAllStandardError().contains(".bak"));
    QVERIFY(!QFileInfo::exists(dir + "zorvin.dat.bak2"));
    terminate(*next.process);
    QVERIFY(next.process->waitForFinished(20000));
    QCOMPARE(read(dir + "zorvin.dat.bak"), dat);
}

void tst_Program::copyThatCrashedDoesNotBlockTheNextStart()
{
    QTemporaryDir data;
    {
        RunningCopy crashed;
        crashed.start(data.path());
        QTRY_VERIFY_WITH_TIMEOUT(startupFinished(data.path()), 20000);
        crashed.process->kill();
        QVERIFY(crashed.process->waitForFinished());
    }
    QFile::remove(data.path() + QStringLiteral("/zorvin.ini"));
    RunningCopy next;
    next.start(data.path());
    QTRY_VERIFY_WITH_TIMEOUT(startupFinished(data.path()), 20000);
    QVERIFY(!next.process->readAllStandardError().contains(QStringLiteral("既に起動").toUtf8()));
    terminate(*next.process);
    QVERIFY(next.process->waitForFinished(20000));
}

void tst_Program::plantedTempFolderIsNotUsed()
{
    // Someone else put a link where the per-user temporary folder goes: the copy must not
    // create, empty or change anything through it.
    QTemporaryDir data, elsewhere;
    const QString programDir = ResolveProgramDir(data.path(), QString());
    const QString planted = QDir::cleanPath(UserTempPath(programDir));
    QVERIFY(QFile::link(elsewhere.path(), planted));
    const auto unlinkPlanted = qScopeGuard([&] { QFile::remove(planted); });
    QFile keep(elsewhere.path() + QStringLiteral("/keep.txt"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.close();
    const QFile::Permissions before = QFileInfo(elsewhere.path()).permissions();

    RunningCopy copy;
    copy.start(data.path());
    QTRY_VERIFY_WITH_TIMEOUT(startupFinished(data.path()), 20000);
    QVERIFY(!QFileInfo::exists(elsewhere.path() + QStringLiteral("/~zorvin")));
    QVERIFY(QFileInfo::exists(elsewhere.path() + QStringLiteral("/keep.txt")));
    QCOMPARE(QFileInfo(elsewhere.path()).permissions(), before);
    terminate(*copy.process);
    QVERIFY(copy.process->waitForFinished(20000));
    QCOMPARE(copy.process->exitCode(), 0);
    QVERIFY(QFileInfo(planted).isSymLink());
}

// Two numbers of the "Max open files" line of /proc/<pid>/limits: the soft and the hard limit.
static QStringList openFileLimits(qint64 pid)
{
    QFile limits(QStringLiteral("/proc/%1/limits").arg(pid));
    if (!limits.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : limits.readAll().split('\n')) {
        if (line.startsWith("Max open files"))
            return QString::fromLatin1(line.mid(14)).simplified().split(u' ').mid(0, 2);
    }
    return {};
}

void tst_Program::openFileLimitIsRaisedToTheHardLimit()
{
    QTemporaryDir data;
    RunningCopy copy;
    // Started with the usual low soft limit, whatever the test runner had.
    copy.process->setChildProcessModifier([] {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::min<rlim_t>(256, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    });
    copy.start(data.path());
    QTRY_VERIFY_WITH_TIMEOUT(startupFinished(data.path()), 20000);
    const QStringList limits = openFileLimits(copy.process->processId());
    QCOMPARE(limits.size(), 2);
    QCOMPARE(limits[0], limits[1]);
    terminate(*copy.process);
    QVERIFY(copy.process->waitForFinished(20000));
}

QTEST_GUILESS_MAIN(tst_Program)
#include "tst_program.moc"
