// Keyed copies on three hosts: engines of this process, each in a network namespace of its
// own on one bridge, find and pin each other through their real announcements. What crosses
// a host's veth is read from a packet socket; a third host forges datagrams in a known peer's
// name and replays what it read; a reinstalled copy shows a new key; a copy without a key
// pair is served as 2.66 was, byte for byte.
#include "base/AnsiCodec.h"
#include "net/AddressStore.h"
#include "net/DatagramSeal.h"
#include "net/MessageDelivery.h"
#include "net/NetDiagnosisReport.h"
#include "net/NetDiagnostics.h"
#include "net/NetEngine.h"
#include "net/PeerKeys.h"
#include "net/SendJob.h"
#include "net/TransferHandshake.h"
#include "net/TransferHeader.h"
#include "net/TransferSealing.h"
#include "net/TransferSender.h"
#include "support/FileBytes.h"
#include "support/LoopbackEngine.h"
#include "support/NetNamespaces.h"
#include "support/WireTap.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include <memory>

namespace {

const QString kSubnet = QStringLiteral("10.79.0.");
const QString kA = QStringLiteral("10.79.0.1");
const QString kB = QStringLiteral("10.79.0.2");
const QString kC = QStringLiteral("10.79.0.3");

// One copy on its own host: an engine whose sockets were made inside the host's namespace.
// It announces itself to `announceTo` (the test's stand-in for the broadcast address).
struct Host
{
    Host(const QString &ns, const QString &ip, const QString &name, const QString &hostName,
         const QString &announceTo)
        : ns(ns), copy(ip, name, QStringLiteral("group"), announceTo), m_hostName(hostName)
    {
        copy.host.listen(copy.engine.events());
        copy.keepFilesIn(dir.path());
    }

    // Its sockets, in its namespace; a key pair of its own when `keyed`.
    bool start(bool keyed)
    {
        if (keyed && !copy.loadIdentity(dir.path()))
            return false;
        const NetNamespaces::Inside inside(ns);
        if (!inside.entered() || !copy.start())
            return false;
        // Long enough to look for on the wire.
        copy.ctx.LocalHostName = m_hostName;
        return true;
    }
    void announce() { copy.engine.Announce(); }

    // A file transfer from this host; its connection is made in its namespace.
    int sendFile(const QString &to, const QString &path)
    {
        const NetNamespaces::Inside inside(ns);
        SendRequest r;
        r.destination = to;
        r.resultName = "to" + to.section('.', 3);
        r.kind = u'F';
        r.folder = QFileInfo(path).absolutePath();
        r.itemName = QFileInfo(path).fileName();
        r.archiveName = "CAPT" + copy.ctx.LocalIpHex + QString::number(engine().sender().NextJobNumber()) + ".LZH";
        r.packWanted = false;
        return engine().QueueSendJob(r);
    }
    void sendMessage(const QString &to, const QString &text, int id)
    {
        engine().messages().SendMessageToList({{QStringLiteral("someone"), to}}, text, {true, u'N', false, id});
    }

    // The send results of one kind, in order: u'M' messages, u'F' files.
    QList<SendLine> results(QChar kind)
    {
        QList<SendLine> out;
        for (const SendLine &line : std::as_const(copy.host.sent))
            if (line.kind == kind)
                out << line;
        return out;
    }
    QString received(const QString &item) const { return copy.ctx.settings.RecvFileSavePlace + u'/' + item; }
    quint64 refused(const char *kind) const
    {
        return copy.engine.diagnostics().counts().value(QLatin1StringView(kind)).refused;
    }
    quint64 receivedCount(const char *kind) const
    {
        return copy.engine.diagnostics().counts().value(QLatin1StringView(kind)).received;
    }
    NetEngine &engine() { return copy.engine; }
    RecordingHost &host() { return copy.host; }
    QString hostName() const { return m_hostName; }

    QString ns;
    QTemporaryDir dir;
    LoopbackEngine copy;

  private:
    QString m_hostName;
};

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// Writes `bytes` to `path` for a test to send; the bytes, to compare with what arrives.
QByteArray placed(const QString &path, const QByteArray &bytes)
{
    writeBytes(path, bytes);
    return bytes;
}

} // namespace

class TestSealedSystem : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void keyedHostsShowNothingReadableOnTheWire();
    void forgeriesAndReplaysFromAThirdHostAreRefused();
    void aReinstalledCopyIsMarkedAndGetsNothingUntilAccepted();
    void aCopyWithoutKeysIsServedByteForByte();

  private:
    // Starts `host` and waits until the copies at kA and kB pinned each other's keys
    // from what they announced.
    bool startHost(std::unique_ptr<Host> &host, const QString &ns, const QString &ip, const QString &name,
                   const QString &announceTo, bool keyed);
    // What crosses host A's veth from now on (made in A's namespace).
    std::unique_ptr<WireCapture> captureAtA();

    std::unique_ptr<NetNamespaces> m_network;
    QString m_skip;
    std::unique_ptr<Host> m_a, m_b, m_c;
};

void TestSealedSystem::initTestCase()
{
    if (::geteuid() != 0) {
        m_skip = QStringLiteral("network namespaces and packet sockets need root");
        return;
    }
    m_network = std::make_unique<NetNamespaces>(QStringLiteral("zvs%1").arg(QCoreApplication::applicationPid()));
    QString why;
    if (!m_network->make({"a", "b", "c"}, kSubnet, &why))
        m_skip = "cannot make network namespaces here (`ip netns` failed): " + why.trimmed();
}

bool TestSealedSystem::startHost(std::unique_ptr<Host> &host, const QString &ns, const QString &ip,
                                 const QString &name, const QString &announceTo, bool keyed)
{
    host = std::make_unique<Host>(m_network->name(ns), ip, name, QStringLiteral("sealtest-%1-pc").arg(name),
                                  announceTo);
    return host->start(keyed);
}

void TestSealedSystem::init()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    QVERIFY(startHost(m_b, "b", kB, "bob", kA, true));
    QVERIFY(startHost(m_a, "a", kA, "alice", kB, true));
    // Alice's announcement carries her key; Bob's answers carry his.
    m_a->announce();
    QTRY_COMPARE(m_b->engine().peerKeys().trustOf(kA), PeerKeys::Trust::Pinned);
    QTRY_COMPARE(m_a->engine().peerKeys().trustOf(kB), PeerKeys::Trust::Pinned);
    QCOMPARE(m_b->engine().peerKeys().pinnedKey(kA), m_a->engine().identity().publicKey());
    QCOMPARE(m_b->engine().peerKeys().hostNameAt(kA), m_a->hostName());
    QCOMPARE(m_a->engine().peerKeys().pinnedKey(kB), m_b->engine().identity().publicKey());
}

void TestSealedSystem::cleanup()
{
    if (QTest::currentTestFailed()) {
        for (Host *h : {m_a.get(), m_b.get(), m_c.get()})
            if (h)
                qInfo().noquote() << h->ns << NetDiagnosisReport::text(h->engine());
    }
    m_c.reset();
    m_a.reset();
    m_b.reset();
}

std::unique_ptr<WireCapture> TestSealedSystem::captureAtA()
{
    const NetNamespaces::Inside inside(m_a->ns);
    return std::make_unique<WireCapture>("eth0");
}

void TestSealedSystem::keyedHostsShowNothingReadableOnTheWire()
{
    const std::unique_ptr<WireCapture> wire = captureAtA();
    QVERIFY(wire->isOpen());
    const QString text = QStringLiteral("三時に第二会議室で sealed-system-check");
    m_a->sendMessage(kB, text, 5);
    QTRY_COMPARE(m_b->host().arrived.size(), 1);
    QCOMPARE(m_b->host().arrived[0].text, text);
    QCOMPARE(m_b->host().arrived[0].senderAddress, kA);
    // The receipt came back sealed and was taken.
    QTRY_COMPARE(m_a->results(u'M').size(), 1);
    QCOMPARE(m_a->results(u'M')[0].result, 0);

    const QString item = QStringLiteral("quarterly-numbers.bin");
    const QByteArray body = placed(m_a->dir.path() + u'/' + item, randomBytes(10 * 1024 * 1024, 30));
    QVERIFY(m_a->sendFile(kB, m_a->dir.path() + u'/' + item) >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_a->results(u'F').size(), 1, 60000);
    QCOMPARE(m_a->results(u'F')[0].result, 0);
    QCOMPARE(fileBytes(m_b->received(item)), body);

    QTest::qWait(100);
    const QList<WireDatagram> datagrams = wire->takeDatagrams();
    const QByteArray stream = wire->takeStream();
    // The capture saw it all: the message, its receipt and the whole body, which went as
    // the sealed handshake and records.
    QVERIFY2(datagrams.size() >= 2, qPrintable(QString::number(datagrams.size())));
    QVERIFY(stream.size() > body.size());
    QVERIFY(stream.startsWith(TransferHandshake::magic().toByteArray()));
    for (const WireDatagram &d : datagrams)
        QVERIFY2(d.payload.startsWith("captSE001"), d.payload.left(16).constData());

    TransferHeader header;
    header.dataKind = QStringLiteral("0002");
    header.size = body.size();
    header.itemName = item;
    header.kind = u'F';
    header.hostName = m_a->hostName();
    QByteArray wireBytes = stream;
    for (const WireDatagram &d : datagrams)
        wireBytes += d.payload;
    // Every pattern is eight bytes or more, which megabytes of ciphertext do not hold by chance.
    QList<QByteArray> readable = {AnsiCodec::encode(text), QByteArray("sealed-system-check"),
                                  AnsiCodec::encode(header.build()).left(20),
                                  AnsiCodec::encode(AnsiCodec::fixedWidth(item, 60)),
                                  AnsiCodec::encode(AnsiCodec::fixedWidth(m_a->hostName(), 20)),
                                  m_a->hostName().toLatin1(), m_b->hostName().toLatin1(),
                                  "captMSYN05N ", "captMRY05", "CAPT" + m_a->copy.ctx.LocalIpHex.toLatin1()};
    // Sixteen bytes from each 640 KiB of the body, the first and the last among them.
    for (qsizetype at = 0; at < body.size(); at += 640 * 1024)
        readable << body.mid(at, 16);
    readable << body.right(16);
    for (const QByteArray &clear : std::as_const(readable))
        QVERIFY2(!wireBytes.contains(clear), clear.left(24).toHex().constData());
}

void TestSealedSystem::forgeriesAndReplaysFromAThirdHostAreRefused()
{
    QSignalSpy goodbyes(&m_b->engine(), &NetEngine::goodbyeDatagram);
    QSignalSpy stops(&m_b->engine(), &NetEngine::stopDatagram);
    QSignalSpy opens(&m_b->engine(), &NetEngine::openReceiptDatagram);
    QSignalSpy messages(&m_b->engine(), &NetEngine::messageDatagram);
    const std::unique_ptr<WireCapture> wire = captureAtA();
    QVERIFY(wire->isOpen());
    m_a->sendMessage(kB, QStringLiteral("the real one"), 6);
    QTRY_COMPARE(m_b->host().arrived.size(), 1);
    QTRY_COMPARE(m_a->results(u'M').size(), 1);
    QCOMPARE(messages.count(), 1);
    QByteArray sealedMessage;
    for (const WireDatagram &d : wire->takeDatagrams())
        if (d.from == kA && d.to == kB && sealedMessage.isEmpty())
            sealedMessage = d.payload;
    QVERIFY(sealedMessage.startsWith("captSE001"));

    // Host C puts datagrams on the wire with Alice's address as their sender: all of them
    // in plain, as only a forger sends them now.
    {
        const NetNamespaces::Inside inside(m_network->name("c"));
        QVERIFY(inside.entered());
        const QList<QByteArray> forged = {"captGB", "captOPM", "captSP" + QByteArray("S0017.lzh").leftJustified(22, ' '),
                                          "captMSNN08N please pay invoice 4711 today"};
        for (const QByteArray &datagram : forged)
            QVERIFY(sendForgedDatagram(kA, kB, datagram));
        // The sealed message again, from Alice's address and from C's own.
        QVERIFY(sendForgedDatagram(kA, kB, sealedMessage));
        QVERIFY(sendForgedDatagram(kC, kB, sealedMessage));
    }
    QTRY_COMPARE(m_b->refused("captSE"), quint64(2));
    for (const char *kind : {"captGB", "captOP", "captSP", "captMS"})
        QTRY_COMPARE(m_b->refused(kind), quint64(1));
    QVERIFY(NetDiagnosisReport::text(m_b->engine()).contains(QRegularExpression("captMS +\\d+ / \\d+ \\(refused 1\\)")));

    // Alice, still trusted and present, gets through after all that.
    m_a->sendMessage(kB, QStringLiteral("after the forgeries"), 7);
    QTRY_COMPARE(m_b->host().arrived.size(), 2);
    QCOMPARE(m_b->host().arrived[1].text, QStringLiteral("after the forgeries"));
    QCOMPARE(messages.count(), 2);
    QCOMPARE(goodbyes.count(), 0);
    QCOMPARE(stops.count(), 0);
    QCOMPARE(opens.count(), 0);
    QCOMPARE(m_b->engine().addresses().FindAddressByIp(kA).EntryState, QString(kStateAvail));
    QCOMPARE(m_b->refused("captSE"), quint64(2));
}

void TestSealedSystem::aReinstalledCopyIsMarkedAndGetsNothingUntilAccepted()
{
    // Alice's copy goes; one with a new key pair comes up under her name and address.
    m_a.reset();
    QVERIFY(startHost(m_a, "a", kA, "alice", kB, true));
    QSignalSpy notices(&m_b->engine().peerKeys(), &PeerKeys::keyChanged);
    const QByteArray oldKey = m_b->engine().peerKeys().pinnedKey(kA);
    m_a->announce();
    QTRY_COMPARE(m_b->engine().peerKeys().trustOf(kA), PeerKeys::Trust::Changed);
    QTRY_COMPARE(m_a->engine().peerKeys().trustOf(kB), PeerKeys::Trust::Pinned);
    QCOMPARE(notices.count(), 1);
    QCOMPARE(notices[0][3].toString(), m_a->engine().identity().fingerprint());
    QCOMPARE(m_b->engine().peerKeys().pinnedKey(kA), oldKey);
    QCOMPARE(m_b->engine().peerKeys().offeredKey(kA), m_a->engine().identity().publicKey());
    // Announced again, the change is not noticed twice.
    m_a->announce();
    QTRY_COMPARE(m_b->receivedCount("captPK"), quint64(2));
    QTest::qWait(100);
    QCOMPARE(notices.count(), 1);

    const std::unique_ptr<WireCapture> wire = captureAtA();
    QVERIFY(wire->isOpen());
    // Bob's message goes sealed to the old key: the new copy cannot open it.
    m_b->sendMessage(kA, QStringLiteral("for the old key only"), 9);
    QTRY_COMPARE(m_a->refused("captSE"), quint64(1));
    // A file is not sent at all, sealed or plain.
    const QByteArray body = placed(m_b->dir.path() + "/waiting.txt", "not for a stranger");
    QVERIFY(m_b->sendFile(kA, m_b->dir.path() + "/waiting.txt") >= 0);
    QTRY_COMPARE(m_b->results(u'F').size(), 1);
    const SendLine refusedSend = m_b->results(u'F')[0];
    QVERIFY(refusedSend.result != 0);
    QVERIFY2(refusedSend.info.startsWith(TransferSealing::changedKeyText()), qPrintable(refusedSend.info));
    // And the new copy's own sealed message is not believed here.
    m_a->sendMessage(kB, QStringLiteral("it is me, new pc"), 3);
    QTRY_COMPARE(m_b->refused("captSE"), quint64(1));
    QTest::qWait(100);
    QVERIFY(m_a->host().arrived.isEmpty());
    QVERIFY(m_b->host().arrived.isEmpty());
    QVERIFY(wire->takeStream().isEmpty());
    for (const WireDatagram &d : wire->takeDatagrams())
        QVERIFY2(d.payload.startsWith("captSE001"), d.payload.left(16).constData());

    // Accepted, the new key is the one sealed to.
    QVERIFY(m_b->engine().AcceptPeerKey(kA));
    QCOMPARE(m_b->engine().peerKeys().trustOf(kA), PeerKeys::Trust::Pinned);
    m_b->sendMessage(kA, QStringLiteral("welcome back"), 10);
    QTRY_COMPARE(m_a->host().arrived.size(), 1);
    QCOMPARE(m_a->host().arrived[0].text, QStringLiteral("welcome back"));
    // Its receipt, sealed by the new key, is taken.
    QTRY_VERIFY(m_b->results(u'M').size() >= 1 && m_b->results(u'M').last().result == 0);
    QVERIFY(m_b->sendFile(kA, m_b->dir.path() + "/waiting.txt") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_b->results(u'F').size(), 2, 30000);
    QCOMPARE(m_b->results(u'F')[1].result, 0);
    QCOMPARE(fileBytes(m_a->received("waiting.txt")), body);
    QVERIFY(wire->takeStream().startsWith(TransferHandshake::magic().toByteArray()));
}

void TestSealedSystem::aCopyWithoutKeysIsServedByteForByte()
{
    // Carol has no key pair: to the keyed copies she is a 2.66 copy.
    QVERIFY(startHost(m_c, "c", kC, "carol", kB, false));
    std::unique_ptr<WireCapture> wire;
    {
        const NetNamespaces::Inside inside(m_c->ns);
        wire = std::make_unique<WireCapture>("eth0");
    }
    QVERIFY(wire->isOpen());
    m_c->announce();
    QTRY_VERIFY(m_c->engine().addresses().FindAddressByIp(kB).isAvail());
    QTRY_VERIFY(m_b->engine().addresses().FindAddressByIp(kC).isAvail());
    QCOMPARE(m_b->engine().peerKeys().trustOf(kC), PeerKeys::Trust::None);
    QTest::qWait(100);
    // Bob's answers are the three 2.66 sends, with his key after them for copies that know it.
    QStringList kinds;
    for (const WireDatagram &d : wire->takeDatagrams())
        if (d.from == kB)
            kinds << QString::fromLatin1(d.payload.left(6));
    QCOMPARE(kinds, QStringList({"cBX266", "zorvin", "cBR266", "captPK"}));

    const QString text = QStringLiteral("昼食は十二時から");
    m_b->sendMessage(kC, text, 11);
    QTRY_COMPARE(m_c->host().arrived.size(), 1);
    QTRY_COMPARE(m_b->results(u'M').size(), 1);
    QCOMPARE(m_b->results(u'M')[0].result, 0);
    m_c->sendMessage(kB, QStringLiteral("了解 ok"), 12);
    QTRY_COMPARE(m_b->host().arrived.size(), 1);
    QCOMPARE(m_b->host().arrived[0].text, QStringLiteral("了解 ok"));
    QTRY_COMPARE(m_c->results(u'M').size(), 1);
    QCOMPARE(m_c->results(u'M')[0].result, 0);
    QTest::qWait(100);
    QList<QByteArray> exchanged;
    for (const WireDatagram &d : wire->takeDatagrams())
        exchanged << d.payload;
    QCOMPARE(exchanged, QList<QByteArray>({"captMSYN11N " + AnsiCodec::encode(text), "captMRY11",
                                           "captMSYN12N " + AnsiCodec::encode(QStringLiteral("了解 ok")),
                                           "captMRY12"}));

    const QByteArray body = placed(m_b->dir.path() + "/plain.bin", randomBytes(3 * 1024 * 1024 + 5, 31));
    QVERIFY(m_b->sendFile(kC, m_b->dir.path() + "/plain.bin") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_b->results(u'F').size(), 1, 30000);
    QCOMPARE(m_b->results(u'F')[0].result, 0);
    QCOMPARE(fileBytes(m_c->received("plain.bin")), body);
    QTest::qWait(100);
    TransferHeader header;
    header.dataKind = QStringLiteral("0002");
    header.size = body.size();
    header.itemName = QStringLiteral("plain.bin");
    header.kind = u'F';
    header.hostName = m_b->hostName();
    QCOMPARE(wire->takeStream(), AnsiCodec::encode(header.build()) + body);
}

QTEST_GUILESS_MAIN(TestSealedSystem)
#include "tst_sealed_system.moc"
