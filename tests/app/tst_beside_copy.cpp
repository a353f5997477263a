// A copy on the protocol port and the engine tests on the same host: the copy holds 62410
// on its address, an engine test runs beside it on the test's own port, and neither hears
// the other. When a copy already holds the port here (a user's), that one is the neighbour.
#include "net/AddressBookFile.h"
#include "support/FirstRun.h"
#include "support/IsolatedHome.h"
#include "support/StartedCopy.h"

#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

namespace {

constexpr quint16 kProtocolPort = 62410;
const QHostAddress kCopyAddress(QStringLiteral("127.0.0.2"));
const QHostAddress kProbeAddress(QStringLiteral("127.0.0.3"));

bool protocolPortFree()
{
    QUdpSocket socket;
    return socket.bind(kCopyAddress, kProtocolPort, QAbstractSocket::DontShareAddress);
}

// Announces until the copy answers; until it has bound its socket the announce is lost.
bool pingUntilAnswered(QUdpSocket &probe)
{
    for (int attempt = 0; attempt < 300; ++attempt) {
        probe.writeDatagram("captBCprobe (p)", kCopyAddress, kProtocolPort);
        QSignalSpy arrived(&probe, &QUdpSocket::readyRead);
        if (probe.hasPendingDatagrams() || arrived.wait(100)) {
            bool answered = false;
            while (probe.hasPendingDatagrams())
                answered |= probe.receiveDatagram().data().startsWith("cBR266");
            if (answered)
                return true;
        }
    }
    return false;
}

} // namespace

class TestBesideCopy : public QObject
{
    Q_OBJECT
  private slots:
    void engineTestRunsBesideACopyOnTheProtocolPort();
};

void TestBesideCopy::engineTestRunsBesideACopyOnTheProtocolPort()
{
    IsolatedHome home;
    QVERIFY(home.isValid());
    const QString data = home.path() + QStringLiteral("/data/zorvin");
    QVERIFY(QDir().mkpath(data));
    skipFirstRunPrompt(data);
    StartedCopy copy;
    QUdpSocket probe;
    if (protocolPortFree()) {
        copy.process->setProcessChannelMode(QProcess::ForwardedChannels);
        // The default port; loopback only, so it never shows up on a real network.
        QVERIFY(copy.start(QStringLiteral(ZORVIN_BINARY),
                           {QStringLiteral("--data-dir"), data, QStringLiteral("--bind-address"),
                            kCopyAddress.toString(), QStringLiteral("--broadcast-address"),
                            kCopyAddress.toString()},
                           StartedCopy::offscreen(home.environment())));
        QVERIFY(probe.bind(kProbeAddress, kProtocolPort));
        QVERIFY2(pingUntilAnswered(probe), "the copy never answered on port 62410");
    } else {
        qInfo("port 62410 is held already: the copy running on this host is the neighbour");
    }
    QVERIFY2(!protocolPortFree(), "nothing holds port 62410 beside the test");

    QProcess test;
    test.setProcessChannelMode(QProcess::ForwardedChannels);
    test.start(QStringLiteral(ENGINE_TEST), QStringList{});
    QVERIFY(test.waitForFinished(110000));
    QCOMPARE(test.exitStatus(), QProcess::NormalExit);
    QCOMPARE(test.exitCode(), 0);
    if (copy.process->state() == QProcess::NotRunning)
        return;

    // Still there, and it never heard the engine test's copies and probes.
    QVERIFY(pingUntilAnswered(probe));
    copy.process->terminate();
    QVERIFY(copy.process->waitForFinished(20000));
    QCOMPARE(copy.process->exitCode(), 0);
    QFile dat(data + QStringLiteral("/zorvin.dat"));
    QVERIFY(dat.open(QIODevice::ReadOnly));
    const QList<AddressEntry> rows = AddressBookFile::parse(dat.readAll());
    QVERIFY(!rows.isEmpty());
    for (const AddressEntry &row : rows) {
        QVERIFY2(row.EntryAddress == kCopyAddress.toString() ||
                     (row.EntryAddress == kProbeAddress.toString() &&
                      row.EntryName == QStringLiteral("probe (p)")),
                 qPrintable(row.EntryAddress + QLatin1Char(' ') + row.EntryName));
        QVERIFY2(!row.EntryName.startsWith(QStringLiteral("alice")), qPrintable(row.EntryName));
    }
}

QTEST_GUILESS_MAIN(TestBesideCopy)
#include "tst_beside_copy.moc"
