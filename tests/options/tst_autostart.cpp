// The start-at-login entry and where an installed copy keeps its data, in a private
// XDG_CONFIG_HOME (run-isolated.sh): the entry is written, validated by the desktop's own
// checker, left alone when unchanged, quoted when the program's path needs it, and removed;
// an installed copy's folder is never its data folder, even when it can be written; the
// options that choose the data folder and the network come back from the Exec line as they
// were given.
#include "options/AutostartEntry.h"
#include "base/StartOptions.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// desktop-file-validate prints nothing for a valid file and fails on errors.
void validate(const QString &path)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (tool.isEmpty())
        QSKIP("desktop-file-validate is not installed (scripts/setup installs it)");
    QProcess check;
    check.start(tool, {path});
    QVERIFY(check.waitForFinished(30000));
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0 && !said.contains("error"), said.constData());
}

// The Exec value as a desktop reads it: the string escapes first, then the arguments split
// at blanks outside double quotes, with \", \`, \$ and \\ inside quotes, then %% as %.
QStringList execArguments(const QByteArray &entry)
{
    QString value;
    for (const QByteArray &line : entry.split('\n')) {
        if (line.startsWith("Exec="))
            value = QString::fromUtf8(line.mid(5));
    }
    QString unescaped;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            unescaped += next == u's' ? QChar(u' ') : next == u'n' ? QChar(u'\n') : next;
        } else {
            unescaped += value[i];
        }
    }
    QStringList arguments;
    QString current;
    bool quoted = false, any = false;
    for (int i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (quoted && c == u'\\' && i + 1 < unescaped.size()) {
            current += unescaped[++i];
        } else if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (c == u' ' && !quoted) {
            if (any || !current.isEmpty())
                arguments << current;
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        arguments << current;
    for (QString &argument : arguments)
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return arguments;
}

} // namespace

class tst_Autostart : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariable("XDG_CONFIG_HOME").contains(QStringLiteral("isolated-")),
                 "runs only through run-isolated.sh");
    }
    void entryIsWrittenValidAndRemoved();
    void pathsWithSpacesAndQuotesAreQuoted();
    void installedCopyKeepsDataInTheConfigFolder();
    void loginStartsTheSameDataFolderAndNetwork();
};

void tst_Autostart::entryIsWrittenValidAndRemoved()
{
    const QString entry = AutostartEntry::path();
    QCOMPARE(entry, qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/zorvin.desktop"));
    // Removing what is not there is no failure.
    QVERIFY(AutostartEntry::apply(false, QStringLiteral("/usr/bin/zorvin"), {}));

    QString error;
    QVERIFY2(AutostartEntry::apply(true, QStringLiteral("/usr/bin/zorvin"), {}, &error), qPrintable(error));
    const QByteArray text = fileBytesOrEmpty(entry);
    QVERIFY(text.contains("\nExec=/usr/bin/zorvin\n"));
    // Once the program is gone (package removed), the desktop skips the entry.
    QVERIFY(text.contains("\nTryExec=/usr/bin/zorvin\n"));
    QVERIFY(text.contains("\nType=Application\n"));
    validate(entry);
    // Nothing else is left in the folder (the atomic write's temporary file is gone).
    QCOMPARE(QDir(QFileInfo(entry).path()).entryList(QDir::Files),
             QStringList{QStringLiteral("zorvin.desktop")});

    // The same entry again leaves the file as it is; a moved program rewrites it.
    const QDateTime written = QFileInfo(entry).lastModified();
    {
        QFile file(entry);
        QVERIFY(file.open(QIODevice::Append) &&
                file.setFileTime(written.addSecs(-60), QFileDevice::FileModificationTime));
    }
    QVERIFY(AutostartEntry::apply(true, QStringLiteral("/usr/bin/zorvin"), {}));
    QCOMPARE(QFileInfo(entry).lastModified(), written.addSecs(-60));
    QVERIFY(AutostartEntry::apply(true, QStringLiteral("/opt/zorvin/zorvin"), {}));
    QVERIFY(fileBytesOrEmpty(entry).contains("\nExec=/opt/zorvin/zorvin\n"));

    QVERIFY(AutostartEntry::apply(false, QStringLiteral("/opt/zorvin/zorvin"), {}));
    QVERIFY(!QFile::exists(entry));
}

void tst_Autostart::pathsWithSpacesAndQuotesAreQuoted()
{
    const QString odd = QStringLiteral("/home/a b/my \"tools\"/$x/50%/zorvin");
    QVERIFY(AutostartEntry::apply(true, odd, {}));
    const QByteArray text = fileBytesOrEmpty(AutostartEntry::path());
    // Quoted, with ", $ escaped by a backslash, that backslash doubled by the string
    // escaping, and % doubled.
    QVERIFY2(text.contains("\nExec=\"/home/a b/my \\\\\"tools\\\\\"/\\\\$x/50%%/zorvin\"\n"),
             text.constData());
    QVERIFY(text.contains("\nTryExec=/home/a b/my \"tools\"/$x/50%/zorvin\n"));
    validate(AutostartEntry::path());
    QVERIFY(AutostartEntry::apply(false, odd, {}));
}

void tst_Autostart::installedCopyKeepsDataInTheConfigFolder()
{
    QTemporaryDir prefix;
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    const QString bin = prefix.path() + QStringLiteral("/bin");
    // A copy built or unpacked by hand keeps its data beside it while it can write there.
    QVERIFY(!IsInstalledCopy(bin));
    QCOMPARE(ResolveProgramDir(QString(), bin), bin + u'/');

    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/applications")));
    QFile desktop(prefix.path() + QStringLiteral("/share/applications/zorvin.desktop"));
    QVERIFY(desktop.open(QIODevice::WriteOnly));
    desktop.close();
    QVERIFY(IsInstalledCopy(bin));
    QVERIFY(QFileInfo(bin).isWritable());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zorvin/");
    QCOMPARE(ResolveProgramDir(QString(), bin), config);
    QVERIFY(QFileInfo(config).isDir());
    QVERIFY(QDir(bin).isEmpty());
    // --data-dir still wins.
    QCOMPARE(ResolveProgramDir(prefix.path() + QStringLiteral("/d"), bin),
             prefix.path() + QStringLiteral("/d/"));
}

void tst_Autostart::loginStartsTheSameDataFolderAndNetwork()
{
    // Started in some folder with a relative data folder whose name needs quoting.
    QTemporaryDir work;
    const QString data = QStringLiteral("my data \"$HOME\" 100%");
    QVERIFY(QDir(work.path()).mkpath(data));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    const StartOptions given = ParseCommandLine(
        {QStringLiteral("zorvin"), QStringLiteral("--data-dir"), data, QStringLiteral("--port"),
         QStringLiteral("40111"), QStringLiteral("--bind-address"), QStringLiteral("10.0.0.5"),
         QStringLiteral("--broadcast-address"), QStringLiteral("10.0.0.255"), QStringLiteral("--capture"),
         QStringLiteral("2"), QStringLiteral("--platform-backend"), QStringLiteral("x11")});
    QVERIFY2(given.error.isEmpty(), qPrintable(given.error));
    const QStringList repeated = LoginArguments(given);
    QVERIFY(QDir::setCurrent(before));

    const QString program = QStringLiteral("/opt/z tools/zorvin");
    QString error;
    QVERIFY2(AutostartEntry::apply(true, program, repeated, &error), qPrintable(error));
    validate(AutostartEntry::path());
    const QStringList exec = execArguments(fileBytesOrEmpty(AutostartEntry::path()));
    QVERIFY(!exec.isEmpty());
    QCOMPARE(exec.first(), program);

    // What the login start understands: the same folder (absolute now), port and addresses;
    // the one-off command and the back-end choice are not repeated.
    const StartOptions atLogin = ParseCommandLine(exec);
    QVERIFY2(atLogin.error.isEmpty(), qPrintable(atLogin.error));
    QCOMPARE(atLogin.dataDir, work.path() + u'/' + data);
    QCOMPARE(ResolveProgramDir(atLogin.dataDir, QString()), work.path() + u'/' + data + u'/');
    QCOMPARE(atLogin.port, quint16(40111));
    QCOMPARE(atLogin.bindAddress, QStringLiteral("10.0.0.5"));
    QCOMPARE(atLogin.broadcastAddress, QStringLiteral("10.0.0.255"));
    QCOMPARE(atLogin.command, QString());
    QCOMPARE(atLogin.platformBackend, QString());

    // A plain start repeats nothing.
    QCOMPARE(LoginArguments(ParseCommandLine({QStringLiteral("zorvin")})), QStringList());
    QVERIFY(AutostartEntry::apply(false, program, repeated));
}

QTEST_GUILESS_MAIN(tst_Autostart)
#include "tst_autostart.moc"
