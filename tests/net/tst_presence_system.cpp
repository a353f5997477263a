// Three copies of the program, each in its own network namespace on one bridge, find
// each other by real broadcast, quit on SIGTERM and write every peer into zorvin.dat.
#include "net/AddressBookFile.h"
#include "support/IsolatedHome.h"
#include "support/StartedCopy.h"
#include "support/NetNamespaces.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

constexpr int kCopies = 3;
constexpr quint16 kPort = 62410;

// A UDP socket bound to `ip`:62410 inside the named namespace; the socket keeps that
// namespace after the thread switches back.
int socketInNamespace(const QString &ns, const QString &ip)
{
    const NetNamespaces::Inside inside(ns);
    if (!inside.entered())
        return -1;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kPort);
    ::inet_pton(AF_INET, ip.toLatin1().constData(), &addr.sin_addr);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

struct Copy
{
    QString ns;
    QString ip;
    QByteArray nameBytes, groupBytes; // CP932, as the settings file holds them
    QString name, group;
    // Its own HOME and XDG folders, with the data folder inside.
    std::unique_ptr<IsolatedHome> home;
    QString dataDir;
    StartedCopy program; // last: it ends before its home goes
};

} // namespace

class TestPresenceSystem : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void threeCopiesFindEachOtherByBroadcast();

  private:
    QString m_prefix;
};

void TestPresenceSystem::initTestCase()
{
    m_prefix = QStringLiteral("zvp%1").arg(QCoreApplication::applicationPid());
}

void TestPresenceSystem::threeCopiesFindEachOtherByBroadcast()
{
    if (::geteuid() != 0)
        QSKIP("network namespaces need root; this test runs three copies on a private bridge");
    // c1..c3: the copies; probe: the test's own socket.
    NetNamespaces network(m_prefix);
    QString why;
    if (!network.make({"c1", "c2", "c3", "probe"}, QStringLiteral("10.77.0."), &why))
        QSKIP(qPrintable("cannot make network namespaces here (`ip netns` failed): " + why.trimmed()));

    const QString host = QHostInfo::localHostName();
    Copy copies[kCopies];
    copies[0].nameBytes = "\x8D\xB2\x93\xA1";          // 佐藤
    copies[0].groupBytes = "\x89\x63\x8B\xC6\x95\x94"; // 営業部
    copies[0].name = QString::fromUtf8("佐藤");
    copies[0].group = QString::fromUtf8("営業部");
    copies[1].nameBytes = "suzuki";
    copies[1].groupBytes = "\x91\x8D\x96\xB1"; // 総務
    copies[1].name = "suzuki";
    copies[1].group = QString::fromUtf8("総務");
    copies[2].nameBytes = "tanaka";
    copies[2].groupBytes = "dev \x8A\x4A\x94\xAD"; // dev 開発
    copies[2].name = "tanaka";
    copies[2].group = QString::fromUtf8("dev 開発");

    QUdpSocket probe;
    const int probeFd = socketInNamespace(m_prefix + "probe", "10.77.0.4");
    QVERIFY2(probeFd >= 0, "probe socket in its namespace");
    QVERIFY(probe.setSocketDescriptor(probeFd, QAbstractSocket::BoundState));
    QStringList answeredBy;
    connect(&probe, &QUdpSocket::readyRead, &probe, [&] {
        while (probe.hasPendingDatagrams()) {
            const QNetworkDatagram d = probe.receiveDatagram();
            if (d.data().startsWith("cBR266"))
                answeredBy << d.senderAddress().toString();
        }
    });
    // A copy answers the probe's announce only from its event loop, so an answer means
    // its own announcement went out and every datagram queued before was handled.
    auto pingUntilAnswered = [&](const QString &ip) {
        const qsizetype before = answeredBy.count(ip);
        // Until the copy has bound its socket the announce is lost, so it is repeated.
        for (int attempt = 0; attempt < 900 && answeredBy.count(ip) == before; ++attempt) {
            QSignalSpy arrived(&probe, &QUdpSocket::readyRead);
            probe.writeDatagram("captBCprobe (probe)", QHostAddress(ip), kPort);
            arrived.wait(100);
        }
        return answeredBy.count(ip) > before;
    };

    for (int i = 0; i < kCopies; ++i) {
        Copy &c = copies[i];
        c.ns = m_prefix + QStringLiteral("c%1").arg(i + 1);
        c.ip = QStringLiteral("10.77.0.%1").arg(i + 1);
        c.home = std::make_unique<IsolatedHome>();
        QVERIFY(c.home->isValid());
        c.dataDir = c.home->path() + "/data/zorvin";
        QVERIFY(QDir().mkpath(c.dataDir));
        QFile ini(c.dataDir + "/zorvin.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[ZorvinSetting]\r\nZorvinOpMsg=1\r\nName=" + c.nameBytes + "\r\nGrp=" + c.groupBytes +
                  "\r\n");
        ini.close();

        c.program.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QVERIFY(c.program.start("ip", {"netns", "exec", c.ns, ZORVIN_BINARY, "--data-dir", c.dataDir},
                                StartedCopy::offscreen(c.home->environment())));
        if (!pingUntilAnswered(c.ip)) {
            QString diag;
            QProcess ss;
            ss.start("ip", {"netns", "exec", c.ns, "ss", "-uanp"});
            ss.waitForFinished();
            diag = ss.readAll();
            ss.start("ip", {"netns", "exec", m_prefix + "probe", "ss", "-uanp"});
            ss.waitForFinished();
            diag += ss.readAll();
            QFAIL(qPrintable(c.ip + " never answered\n" + diag + answeredBy.join(",") + " state " +
                             QString::number(c.program.process->state())));
        }
    }
    // Earlier copies answered the last one's announcement before answering these pings,
    // so by the last ping every answer is queued at the last copy.
    for (const Copy &c : copies)
        QVERIFY(pingUntilAnswered(c.ip));

    for (Copy &c : copies) {
        c.program.process->terminate();
        QVERIFY(c.program.process->waitForFinished(20000));
        QCOMPARE(c.program.process->exitStatus(), QProcess::NormalExit);
    }

    for (const Copy &c : copies) {
        QFile dat(c.dataDir + "/zorvin.dat");
        QVERIFY2(dat.open(QIODevice::ReadOnly), qPrintable(c.ip + ": no zorvin.dat"));
        const QList<AddressEntry> rows = AddressBookFile::parse(dat.readAll());
        for (const Copy &other : copies) {
            if (&other == &c)
                continue;
            const auto it = std::find_if(rows.begin(), rows.end(),
                                         [&](const AddressEntry &e) { return e.EntryAddress == other.ip; });
            QVERIFY2(it != rows.end(), qPrintable(c.ip + " does not list " + other.ip));
            QCOMPARE(it->EntryName, other.name + " (" + host + ")");
            QCOMPARE(it->EntryGroup, other.group);
            QCOMPARE(it->EntryType, QString());
        }
    }
}

QTEST_GUILESS_MAIN(TestPresenceSystem)
#include "tst_presence_system.moc"
