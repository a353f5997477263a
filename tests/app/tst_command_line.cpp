// Commands of the command line as a desktop shortcut gives them: "zorvin --capture N" and
// "--show" reach the copy that runs (a real process with its own data folder and port) and
// the second start ends at once; with no copy running, the start becomes the copy and
// performs the command once started. Under Xvfb with openbox, so that there is an active
// window to capture.
#include "support/StartedCopy.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

namespace {

const QString kBinary = QStringLiteral(ZORVIN_BINARY);

// A data folder whose captures are saved as CPT00001.BMP, ... in its "shots" folder.
struct DataFolder
{
    QTemporaryDir dir;
    QString shots() const { return dir.filePath(QStringLiteral("shots")); }
    DataFolder()
    {
        QDir().mkpath(shots());
        QFile ini(dir.filePath(QStringLiteral("zorvin.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            qFatal("cannot write zorvin.ini");
        ini.write("[ZorvinSetting]\r\nName=tester\r\nGrp=g\r\nZorvinOpMsg=1\r\nCaptAutoSave=1\r\n"
                  "CaptAutoSaveType=0\r\nCaptAutoSaveName=CPT\r\nCaptAutoSavePlace=" +
                  QFile::encodeName(shots()) + "\r\n");
    }
    QStringList saved() const { return QDir(shots()).entryList(QDir::Files, QDir::Name); }
    // The version stamp is the last thing a successful start-up writes.
    bool started() const
    {
        QFile ini(dir.filePath(QStringLiteral("zorvin.ini")));
        return ini.open(QIODevice::ReadOnly) && ini.readAll().contains("Major=2");
    }
    QStringList arguments(const QStringList &extra) const
    {
        return StartedCopy::onLoopback(dir.path(), QStringLiteral("127.0.0.10")) + extra;
    }
};

// A second start of the program that hands over its command: ends with 0 at once.
int handOver(const DataFolder &data, const QStringList &command)
{
    QProcess second;
    second.start(kBinary, data.arguments(command));
    if (!second.waitForFinished(20000)) {
        second.kill();
        second.waitForFinished();
        return -1;
    }
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
}

} // namespace

class TstCommandLine : public QObject
{
    Q_OBJECT
  public:
    TstCommandLine(XvfbSession &session, const QString &skipReason) : m_session(session), m_skip(skipReason)
    {}

  private slots:
    void initTestCase()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
    }
    void helpNamesTheCommandsAndBadOnesAreRefused();
    void captureOfTheActiveWindowGoesToTheRunningCopy();
    void showGoesToTheRunningCopy();
    void withoutARunningCopyTheStartPerformsTheCommand();
    void twoStartsAtOnceMakeOneCopyThatTakesBothCommands();

  private:
    XvfbSession &m_session;
    QString m_skip;
};

void TstCommandLine::helpNamesTheCommandsAndBadOnesAreRefused()
{
    QProcess p;
    p.start(kBinary, {QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(10000));
    const QByteArray help = p.readAllStandardOutput();
    for (const char *option : {"--capture <N>", "--menu", "--show", "--platform-backend <NAME>"})
        QVERIFY2(help.contains(option), option);

    for (const QStringList &bad :
         {QStringList{"--capture", "5"}, QStringList{"--capture", "x"}, QStringList{"--menu", "--show"},
          QStringList{"--platform-backend", "mir"}}) {
        p.start(kBinary, bad);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
    }
}

void TstCommandLine::captureOfTheActiveWindowGoesToTheRunningCopy()
{
    DataFolder data;
    StartedCopy first;
    first.process->start(kBinary, data.arguments({}));
    QVERIFY(first.process->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(data.started(), 20000);

    // The window the user works in.
    QWidget active;
    active.setWindowTitle(QStringLiteral("active test window"));
    active.setFixedSize(321, 203);
    active.move(150, 120);
    active.show();
    QVERIFY(QTest::qWaitForWindowActive(&active));
    QTRY_VERIFY(active.frameGeometry().size() != active.size()); // openbox framed it

    QCOMPARE(handOver(data, {QStringLiteral("--capture"), QStringLiteral("3")}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(data.saved(), QStringList{QStringLiteral("CPT00001.BMP")}, 10000);
    // The window with its frame.
    const QImage shot(data.shots() + QStringLiteral("/CPT00001.BMP"));
    QCOMPARE(shot.size(), active.frameGeometry().size());
    QCOMPARE(first.process->state(), QProcess::Running);

    // Its client area.
    QCOMPARE(handOver(data, {QStringLiteral("--capture"), QStringLiteral("4")}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(data.saved().size(), 2, 10000);
    QCOMPARE(QImage(data.shots() + QStringLiteral("/CPT00002.BMP")).size(), active.size());
}

void TstCommandLine::showGoesToTheRunningCopy()
{
    DataFolder data;
    StartedCopy first;
    first.process->start(kBinary, data.arguments({}));
    QVERIFY(first.process->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(data.started(), 20000);
    const QStringList search = {QStringLiteral("search"),
                                QStringLiteral("--all"),
                                QStringLiteral("--onlyvisible"),
                                QStringLiteral("--pid"),
                                QString::number(first.process->processId()),
                                QStringLiteral("--name"),
                                QStringLiteral("^ぞるびん$")};
    // Hidden at start (only the stand-in of the tray shows).
    QCOMPARE(m_session.run(QStringLiteral("xdotool"), search).trimmed(), QString());

    QCOMPARE(handOver(data, {QStringLiteral("--show")}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!m_session.run(QStringLiteral("xdotool"), search).trimmed().isEmpty(), 10000);
    QCOMPARE(first.process->state(), QProcess::Running);
}

void TstCommandLine::withoutARunningCopyTheStartPerformsTheCommand()
{
    DataFolder data;
    StartedCopy copy;
    copy.process->start(kBinary, data.arguments({QStringLiteral("--capture"), QStringLiteral("0")}));
    QVERIFY(copy.process->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(data.started(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(data.saved(), QStringList{QStringLiteral("CPT00001.BMP")}, 10000);
    QCOMPARE(QImage(data.shots() + QStringLiteral("/CPT00001.BMP")).size(), QSize(800, 600));
    // It stays as the running copy, and takes the next command.
    QCOMPARE(copy.process->state(), QProcess::Running);
    QCOMPARE(handOver(data, {QStringLiteral("--capture"), QStringLiteral("1")}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(data.saved().size(), 2, 10000);
}

void TstCommandLine::twoStartsAtOnceMakeOneCopyThatTakesBothCommands()
{
    DataFolder data;
    StartedCopy a, b;
    a.process->start(kBinary, data.arguments({QStringLiteral("--capture"), QStringLiteral("0")}));
    b.process->start(kBinary, data.arguments({QStringLiteral("--capture"), QStringLiteral("1")}));
    QVERIFY(a.process->waitForStarted() && b.process->waitForStarted());
    // Whichever took the lock runs; the other hands its command over and ends with 0.
    QTRY_VERIFY_WITH_TIMEOUT(
        a.process->state() == QProcess::NotRunning || b.process->state() == QProcess::NotRunning, 20000);
    QProcess &ended = a.process->state() == QProcess::NotRunning ? *a.process : *b.process;
    QProcess &running = &ended == a.process.get() ? *b.process : *a.process;
    QCOMPARE(ended.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ended.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(data.saved().size(), 2, 20000);
    QCOMPARE(running.state(), QProcess::Running);
}

ZORVIN_XVFB_MAIN(TstCommandLine, QSize(800, 600), true)
#include "tst_command_line.moc"
