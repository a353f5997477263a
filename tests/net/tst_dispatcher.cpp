// The datagram dispatcher without sockets: what each kind records in the store, which
// component it is handed to, and that malformed datagrams are harmless.
#include "base/AnsiCodec.h"
#include "base/ModZorvin.h"
#include "net/AddressStore.h"
#include "net/DatagramSeal.h"
#include "net/Datagrams.h"
#include "net/Identity.h"
#include "net/KeyAnnouncement.h"
#include "net/LocalAddress.h"
#include "net/NetDiagnostics.h"
#include "net/NetEngine.h"
#include "net/PeerKeys.h"
#include "support/RecordingHost.h"
#include "support/TestPort.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Engine
{
    Engine()
    {
        ctx.SetLocalIp("192.0.2.1");
        ctx.LocalHostName = "self";
        ctx.settings.Name = "me";
        ctx.settings.Grp = "mine";
        ctx.net.port = TestPort::port();
        host.listen(engine.events());
    }
    ModZorvin ctx;
    RecordingHost host;
    NetEngine engine{ctx, host};
    AddressStore &store() { return engine.addresses(); }
};

} // namespace

class TestDispatcher : public QObject
{
    Q_OBJECT
  private slots:
    void presenceAnswersRecordPeers();
    void shortAnswerAboveVersion260IsIgnored_data();
    void shortAnswerAboveVersion260IsIgnored();
    void announceKeepsStoredGroupAndVersion();
    void ownAnnounceRecordsItself();
    void goodbyeReachesTransfersBeforeTheRowIsMarked();
    void otherKindsGoToTheirComponents();
    void malformedDatagramsAreHarmless();
    void hugeAnnouncedNameIsKeptAtTheAnswerWidth();
    void completionAddsTheSenderFields();
    void defaultRouteInterfaceIsFoundInTheRouteTable();
};

void TestDispatcher::presenceAnswersRecordPeers()
{
    Engine e;
    // cBX: name in 7-156 and group in 157-206, both trimmed; the version from 4-6.
    const QByteArray cbx = QByteArray("cBX266") + "\x8E\x52\x93\x63\x91\xBE\x98\x59 (pc01)" +
                           QByteArray(150 - 10, ' ') + "\x89\x63\x8B\xC6\x95\x94" + QByteArray(47, ' ');
    e.engine.HandleDatagram("10.0.0.2", cbx);
    QCOMPARE(e.store().size(), 1);
    QCOMPARE(e.store().at(0).EntryName, QString::fromUtf8("山田太郎 (pc01)"));
    QCOMPARE(e.store().at(0).EntryGroup, QString::fromUtf8("営業部"));
    QCOMPARE(e.store().at(0).EntryVersion, QString("266"));
    QVERIFY(e.store().at(0).isAvail());
    QCOMPARE(e.host.updates, QStringList{QString::fromUtf8("10.0.0.2|avail|山田太郎 (pc01)")});

    // The full answer to an announce: the group survives the "zorvin" and "cBR266" after it.
    e.engine.HandleDatagram("10.0.0.2", "zorvinsomething else");
    e.engine.HandleDatagram("10.0.0.2", "cBR266other (pc01)");
    QCOMPARE(e.store().at(0).EntryName, QString::fromUtf8("山田太郎 (pc01)"));
    QCOMPARE(e.store().at(0).EntryGroup, QString::fromUtf8("営業部"));
    QCOMPARE(e.store().at(0).EntryVersion, QString("266"));

    // A bare "zorvin" from an unknown address brings its own name, no version, no group.
    e.engine.HandleDatagram("10.0.0.3", "zorvinold (pc03)");
    QCOMPARE(e.store().at(1).EntryName, QString("old (pc03)"));
    QCOMPARE(e.store().at(1).EntryVersion, QString());
}

void TestDispatcher::shortAnswerAboveVersion260IsIgnored_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("version");
    QTest::newRow("261") << QByteArray("cBR261x (h)") << 0 << QString();
    QTest::newRow("266") << QByteArray("cBR266x (h)") << 0 << QString();
    QTest::newRow("260") << QByteArray("cBR260x (h)") << 1 << QString("260");
    QTest::newRow("250") << QByteArray("cBR250x (h)") << 1 << QString("250");
    QTest::newRow("padded") << QByteArray("cBR 9 x (h)") << 1 << QString("9");
    QTest::newRow("not a number") << QByteArray("cBRabcx (h)") << 1 << QString("abc");
    QTest::newRow("digits then letters") << QByteArray("cBR27ax (h)") << 1 << QString("27a");
}

void TestDispatcher::shortAnswerAboveVersion260IsIgnored()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, rows);
    QFETCH(QString, version);
    Engine e;
    e.engine.HandleDatagram("10.0.0.2", datagram);
    QCOMPARE(e.store().size(), rows);
    if (rows) {
        QCOMPARE(e.store().at(0).EntryVersion, version);
        QCOMPARE(e.store().at(0).EntryName, QString("x (h)"));
    }
}

void TestDispatcher::announceKeepsStoredGroupAndVersion()
{
    Engine e;
    e.engine.HandleDatagram("10.0.0.2", "cBX266" + QByteArray("a (h)").leftJustified(150, ' ') + "G1");
    e.engine.HandleDatagram("10.0.0.2", "captBCrenamed (h)   ");
    QCOMPARE(e.store().at(0).EntryName, QString("renamed (h)"));
    QCOMPARE(e.store().at(0).EntryGroup, QString("G1"));
    QCOMPARE(e.store().at(0).EntryVersion, QString("266"));

    // With a version of 250 the short answer clears the group.
    e.engine.HandleDatagram("10.0.0.2", "cBR250renamed (h)");
    QCOMPARE(e.store().at(0).EntryGroup, QString());
    QCOMPARE(e.store().at(0).EntryVersion, QString("250"));
}

void TestDispatcher::ownAnnounceRecordsItself()
{
    for (const QString &own : {QString("192.0.2.1"), QString("127.0.0.1")}) {
        Engine e;
        e.engine.HandleDatagram(own, "captBCme (self)");
        QCOMPARE(e.store().size(), 1);
        QCOMPARE(e.store().at(0).EntryName, QString("me (self)"));
        QCOMPARE(e.store().at(0).EntryAddress, own);
        QCOMPARE(e.store().at(0).EntryVersion, QString("266"));
        QCOMPARE(e.store().at(0).EntryGroup, QString("mine"));
    }
}

void TestDispatcher::goodbyeReachesTransfersBeforeTheRowIsMarked()
{
    Engine e;
    e.engine.HandleDatagram("10.0.0.2", "cBX266" + QByteArray("a (h)").leftJustified(150, ' ') + "G1");
    QString stateAtSignal;
    QObject context;
    connect(&e.engine, &NetEngine::goodbyeDatagram, &context,
            [&](const QString &ip) { stateAtSignal = e.store().FindAddressByIp(ip).EntryState; });
    QSignalSpy spy(&e.engine, &NetEngine::goodbyeDatagram);

    e.engine.HandleDatagram("10.0.0.2", "captGB");
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString("10.0.0.2"));
    QCOMPARE(stateAtSignal, kStateAvail);
    QCOMPARE(e.store().at(0).EntryState, kStateUnavail);
    QCOMPARE(e.store().at(0).EntryName, QString("a (h)"));
    QCOMPARE(e.store().at(0).EntryGroup, QString("G1"));

    // Unknown address: signal for the transfers, but no row; own address: nothing at all.
    e.engine.HandleDatagram("10.0.0.9", "captGB");
    QCOMPARE(e.store().size(), 1);
    e.engine.HandleDatagram("127.0.0.1", "captGB");
    e.engine.HandleDatagram("192.0.2.1", "captGB");
    QCOMPARE(spy.count(), 2);
}

void TestDispatcher::otherKindsGoToTheirComponents()
{
    Engine e;
    QSignalSpy ms(&e.engine, &NetEngine::messageDatagram);
    QSignalSpy mr(&e.engine, &NetEngine::receiptDatagram);
    QSignalSpy op(&e.engine, &NetEngine::openReceiptDatagram);
    QSignalSpy sp(&e.engine, &NetEngine::stopDatagram);
    const QByteArray message = "captMSYN07N \x82\xBC\x82\xE9\x82\xD1\x82\xF1\r\n2";
    e.engine.HandleDatagram("10.0.0.2", message);
    e.engine.HandleDatagram("10.0.0.3", "captMRY07");
    e.engine.HandleDatagram("10.0.0.4", "captOPM");
    e.engine.HandleDatagram("10.0.0.5", "captSP" + QByteArray(22, ' '));
    e.engine.HandleDatagram("10.0.0.6", "CAPTMS lower case differs");
    e.engine.HandleDatagram("10.0.0.6", "captXXunknown");
    QCOMPARE(ms.count(), 1);
    QCOMPARE(ms.at(0).at(0).toString(), QString("10.0.0.2"));
    QCOMPARE(ms.at(0).at(1).toString(), QString::fromUtf8("captMSYN07N ぞるびん\r\n2"));
    QCOMPARE(mr.count(), 1);
    QCOMPARE(mr.at(0).at(1).toString(), QString("captMRY07"));
    QCOMPARE(op.count(), 1);
    QCOMPARE(op.at(0).at(0).toString(), QString("10.0.0.4"));
    QCOMPARE(sp.count(), 1);
    QCOMPARE(sp.at(0).at(1).toString().size(), 28);
    QVERIFY(e.store().isEmpty());

    // A key announcement adds no row; without a key pair of its own the engine is a 2.66
    // copy and pins nothing, and with one it pins the sender.
    QTemporaryDir dir;
    Identity peer;
    QCOMPARE(peer.load(dir.filePath("peer.key"), true), Identity::State::Ready);
    const QByteArray announcement = AnsiCodec::encode(KeyAnnouncement{1, peer.publicKey(), "pk8"}.text());
    e.engine.HandleDatagram("10.0.0.8", announcement);
    QCOMPARE(e.engine.peerKeys().size(), 0);
    e.ctx.ProgramDir = dir.path() + u'/';
    e.engine.LoadIdentity(true);
    e.engine.HandleDatagram("10.0.0.8", announcement);
    QCOMPARE(e.engine.peerKeys().pinnedKey("10.0.0.8"), peer.publicKey());
    QVERIFY(e.store().isEmpty());

    // From the keyed peer only the sealed form is taken; the 2.66 peer's plain one still is.
    PeerKeys peerPins;
    peerPins.offer("self", "192.0.2.1", e.engine.identity().publicKey());
    NetDiagnostics peerDiagnostics;
    DatagramSeal peerSeal(peer, peerPins, peerDiagnostics);
    const QString sealed = peerSeal.outgoing("captMSNN01N sealed", "192.0.2.1");
    QVERIFY(sealed.startsWith("captSE001"));
    e.engine.HandleDatagram("10.0.0.8", "captMSNN02N plain");
    e.engine.HandleDatagram("10.0.0.8", AnsiCodec::encode(sealed));
    e.engine.HandleDatagram("10.0.0.2", message);
    QCOMPARE(ms.count(), 3);
    QCOMPARE(ms.at(1).at(0).toString(), QString("10.0.0.8"));
    QCOMPARE(ms.at(1).at(1).toString(), QString("captMSNN01N sealed"));
    QCOMPARE(ms.at(2).at(0).toString(), QString("10.0.0.2"));
    // A copy without a key pair is a 2.66 copy: it neither opens nor refuses anything.
    Engine unkeyed;
    QSignalSpy unkeyedMessages(&unkeyed.engine, &NetEngine::messageDatagram);
    unkeyed.engine.HandleDatagram("10.0.0.8", AnsiCodec::encode(sealed));
    unkeyed.engine.HandleDatagram("10.0.0.8", "captMSNN02N plain");
    QCOMPARE(unkeyedMessages.count(), 1);
}

void TestDispatcher::malformedDatagramsAreHarmless()
{
    Engine e;
    const QList<QByteArray> bad = {
        QByteArray(),
        "c",
        "cB",
        "cBX",       // a group answer without any field: recorded with empty fields
        "cBX26\x82", // a lead byte cut off at the end
        QByteArray("cBX266\x81\xFF\xFF\x80", 10) + QByteArray(300, '\xFC'),
        QByteArray(65507, 'x'),
        QByteArray("captBC\0\0\0", 9),
    };
    for (const QByteArray &datagram : bad)
        e.engine.HandleDatagram("10.0.0.7", datagram);
    // Every one of them left the next datagram's handling intact.
    e.engine.HandleDatagram("10.0.0.8", "cBX266" + QByteArray("ok (h)").leftJustified(150, ' ') + "G");
    const AddressEntry ok = e.store().FindAddressByIp("10.0.0.8");
    QCOMPARE(ok.EntryName, QString("ok (h)"));
    QCOMPARE(ok.EntryGroup, QString("G"));
    QCOMPARE(e.store().FindAddressByIp("10.0.0.7").EntryState, kStateAvail);
}

void TestDispatcher::hugeAnnouncedNameIsKeptAtTheAnswerWidth()
{
    Engine e;
    e.engine.HandleDatagram("10.0.0.9", "captBC" + QByteArray(65000, 'n'));
    QCOMPARE(e.store().FindAddressByIp("10.0.0.9").EntryName, QString(150, u'n'));
    // Long fields of a short answer are cut the same way; the group answer is cut by its layout.
    e.engine.HandleDatagram("10.0.0.9", "cBR250" + QByteArray(4000, 'm'));
    QCOMPARE(e.store().FindAddressByIp("10.0.0.9").EntryName, QString(150, u'm'));
}

void TestDispatcher::completionAddsTheSenderFields()
{
    const QString name = QString::fromUtf8("山田太郎");
    const QString group = QString::fromUtf8("営業部") + QString(57, 'g');
    const QString cbx = Datagrams::complete("cBX266", name, "pc01", group);
    QCOMPARE(cbx.size(), 206);
    QCOMPARE(cbx.mid(6, 150).trimmed(), QString::fromUtf8("山田太郎 (pc01)"));
    QCOMPARE(cbx.mid(156), QString::fromUtf8("営業部") + QString(47, 'g'));
    // A display name over 150 characters is cut.
    QCOMPARE(Datagrams::complete("cBX266", QString(160, 'n'), "h", "g").mid(6, 150), QString(150, 'n'));

    QCOMPARE(Datagrams::complete("captBC", name, "pc01", group), QString::fromUtf8("captBC山田太郎 (pc01)"));
    QCOMPARE(Datagrams::complete("zorvin", "a", "h", group), QString("zorvina (h)"));
    QCOMPARE(Datagrams::complete("cBR266", "a", "h", group), QString("cBR266a (h)"));
    QCOMPARE(Datagrams::complete("captGB", "a", "h", group), QString("captGB"));
    QCOMPARE(Datagrams::complete("captMRY01", "a", "h", group), QString("captMRY01"));
}

void TestDispatcher::defaultRouteInterfaceIsFoundInTheRouteTable()
{
    const QByteArray table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth1\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "eth1\t00000000\t0100A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "wlan0\t00000000\t010010AC\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "down0\t00000000\t010010AC\t0002\t0\t0\t1\t00000000\t0\t0\t0\n";
    QCOMPARE(LocalAddress::defaultRouteInterface(table), QString("wlan0"));
    QCOMPARE(LocalAddress::defaultRouteInterface(table.left(table.indexOf("eth1\t0000000"))), QString());
    QCOMPARE(LocalAddress::detect(QHostAddress("127.0.0.3")), QString("127.0.0.3"));
}

QTEST_GUILESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
