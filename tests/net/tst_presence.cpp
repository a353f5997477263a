// Presence over real sockets: engines and probe sockets bound to 127.0.0.x on the
// test's port, with peers listed as manual entries because loopback has no broadcast.
#include "net/AddressStore.h"
#include "base/AnsiCodec.h"
#include "net/Datagrams.h"
#include "net/Identity.h"
#include "net/PeerKeys.h"
#include "support/LoopbackEngine.h"
#include "support/RawPeer.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <memory>

namespace {

// One running copy bound to its own loopback address; its "broadcast" goes to itself.
struct Peer : LoopbackEngine
{
    Peer(const QString &ip, const QString &name, const QString &group) : LoopbackEngine(ip, name, group) {}
    void addManual(const QString &ip)
    {
        AddressEntry e;
        e.EntryName = ip;
        e.EntryAddress = ip;
        e.EntryType = "M";
        e.EntryState = kStateUnavail;
        engine.addresses().append(e);
    }
    AddressEntry find(const QString &ip) const { return engine.addresses().FindAddressByIp(ip); }
};

} // namespace

class TestPresence : public QObject
{
    Q_OBJECT
  private slots:
    void twoCopiesFindEachOtherAndSayGoodbye();
    void answersAreExactBytesToTheFixedPortInOrder();
    void announceAndGoodbyeReachTheRightManualEntries();
    void changedNameGoesOutAsTheTwoAnswers();
    void portInUseIsReported();
    void newCopiesPinEachOtherWhileA266PeerGetsTodaysBytes();
    void changedKeyIsMarkedOnceAndTrustedOnlyWhenAccepted();
};

void TestPresence::twoCopiesFindEachOtherAndSayGoodbye()
{
    Peer a("127.0.0.2", "alice", "dev");
    Peer b("127.0.0.3", QString::fromUtf8("鈴木"), QString::fromUtf8("総務"));
    a.addManual("127.0.0.3");
    b.addManual("127.0.0.2");
    QVERIFY(a.start());
    a.engine.Announce();                        // nobody there yet
    QTRY_VERIFY(a.find("127.0.0.2").isAvail()); // its own announce, sent to itself
    QCOMPARE(a.find("127.0.0.2").EntryName, QString("alice (h2)"));
    QCOMPARE(a.find("127.0.0.2").EntryVersion, QString("266"));
    QVERIFY(!a.find("127.0.0.3").isAvail());

    QVERIFY(b.start());
    b.engine.Announce();
    QTRY_VERIFY(b.find("127.0.0.2").isAvail());
    QTRY_VERIFY(a.find("127.0.0.3").isAvail());
    QTRY_COMPARE(b.find("127.0.0.2").EntryGroup, QString("dev"));
    QCOMPARE(b.find("127.0.0.2").EntryName, QString("alice (h2)"));
    QCOMPARE(b.find("127.0.0.2").EntryVersion, QString("266"));
    QCOMPARE(a.find("127.0.0.3").EntryName, QString::fromUtf8("鈴木 (h3)"));
    QCOMPARE(a.find("127.0.0.3").EntryGroup, QString::fromUtf8("総務"));
    QCOMPARE(a.find("127.0.0.3").EntryVersion, QString("266"));
    // The manual rows were updated in place, not duplicated.
    QCOMPARE(a.engine.addresses().size(), 2);
    QCOMPARE(a.find("127.0.0.3").EntryType, QString("M"));

    b.engine.SayGoodbye();
    QTRY_COMPARE(a.find("127.0.0.3").EntryState, kStateUnavail);
    QCOMPARE(a.find("127.0.0.3").EntryGroup, QString::fromUtf8("総務"));
}

void TestPresence::answersAreExactBytesToTheFixedPortInOrder()
{
    // 山田太郎 with a group of 60 characters (営業部 and 57 "g"), cut to 50 on the wire.
    Peer a("127.0.0.2", QString::fromUtf8("山田太郎"), QString::fromUtf8("営業部") + QString(57, 'g'));
    QVERIFY(a.start());
    RawPeer probe("127.0.0.4");
    RawPeer own("127.0.0.1");
    QVERIFY(probe.bound);
    QVERIFY(own.bound);

    // Sent from another port of the probe's address: the answers go to the configured
    // port there, never back to the source port.
    QUdpSocket elsewhere;
    QVERIFY(elsewhere.bind(QHostAddress("127.0.0.4"), 0));
    QCOMPARE(elsewhere.writeDatagram("captBCprobe (p)", QHostAddress("127.0.0.2"), TestPort::port()), 15);
    QTRY_COMPARE(probe.received.size(), 3);
    QVERIFY(!elsewhere.hasPendingDatagrams());
    const QByteArray name = "\x8E\x52\x93\x63\x91\xBE\x98\x59 (h2)";
    const QByteArray cbx =
        "cBX266" + name + QByteArray(150 - 9, ' ') + "\x89\x63\x8B\xC6\x95\x94" + QByteArray(47, 'g');
    QCOMPARE(probe.received[0], cbx);
    QCOMPARE(probe.received[1], "zorvin" + name);
    QCOMPARE(probe.received[2], "cBR266" + name);
    QCOMPARE(probe.senders, QStringList(3, "127.0.0.2"));
    QCOMPARE(a.find("127.0.0.4").EntryName, QString("probe (p)"));
    QCOMPARE(a.find("127.0.0.4").EntryVersion, QString());

    // An announce from 127.0.0.1 counts as the program's own and gets no answer. Empty,
    // oversized and undecodable datagrams leave the handling of the next ones intact.
    own.sendTo("127.0.0.2", "captBCme (h2)");
    probe.sendTo("127.0.0.2", QByteArray());
    probe.sendTo("127.0.0.2", QByteArray(65507, '\x81'));
    probe.sendTo("127.0.0.2", "captBC\xFF\xFC\x81");
    QTRY_COMPARE(probe.received.size(), 6);
    probe.sendTo("127.0.0.2", "captBCprobe again (p)");
    QTRY_COMPARE(probe.received.size(), 9);
    QCOMPARE(probe.received[8], "cBR266" + name);
    QCOMPARE(a.find("127.0.0.4").EntryName, QString("probe again (p)"));
    QCoreApplication::processEvents();
    QCOMPARE(own.received.size(), 0);
    QCOMPARE(a.find("127.0.0.1").EntryVersion, QString("266"));
}

void TestPresence::announceAndGoodbyeReachTheRightManualEntries()
{
    Peer a("127.0.0.2", "alice", "dev");
    RawPeer availManual("127.0.0.4");
    RawPeer unavailManual("127.0.0.5");
    RawPeer learnt("127.0.0.6");
    QVERIFY(availManual.bound && unavailManual.bound && learnt.bound);
    a.addManual("127.0.0.4");
    a.addManual("127.0.0.5");
    QVERIFY(a.start());

    a.engine.Announce();
    QTRY_COMPARE(availManual.received.size(), 3);
    QVERIFY(availManual.received[0].startsWith("cBX266alice (h2)"));
    QCOMPARE(availManual.received[1], QByteArray("captBCalice (h2)"));
    QCOMPARE(availManual.received[2], QByteArray("cBR266alice (h2)"));
    QTRY_COMPARE(unavailManual.received.size(), 3);

    availManual.sendTo("127.0.0.2", "cBR250four (p)");
    learnt.sendTo("127.0.0.2", "cBR250six (p)");
    QTRY_VERIFY(a.find("127.0.0.4").isAvail());
    QTRY_VERIFY(a.find("127.0.0.6").isAvail());
    unavailManual.received.clear();
    learnt.received.clear();

    a.engine.SayGoodbye();
    // Sends on loopback are queued at the receiver before the call returns.
    QTRY_COMPARE(availManual.received.size(), 5);
    QCOMPARE(availManual.received[3], QByteArray("captGB"));
    QCOMPARE(availManual.received[4], QByteArray("captGB"));
    QCoreApplication::processEvents();
    QCOMPARE(unavailManual.received.size(), 0);
    QCOMPARE(learnt.received.size(), 0);
}

void TestPresence::changedNameGoesOutAsTheTwoAnswers()
{
    Peer a("127.0.0.2", "alice", "dev");
    RawPeer manual("127.0.0.7");
    QVERIFY(manual.bound);
    a.addManual("127.0.0.7");
    QVERIFY(a.start());
    a.ctx.settings.Name = QStringLiteral("田中");
    a.ctx.settings.Grp = QStringLiteral("開発");

    a.engine.AnnounceNameAndGroup();
    // No announcement ("captBC"): nobody is asked to answer.
    QTRY_COMPARE(manual.received.size(), 2);
    const QByteArray name = AnsiCodec::encode(QStringLiteral("田中 (h2)"));
    QVERIFY(manual.received[0].startsWith("cBX266" + name));
    QVERIFY(manual.received[0].contains(AnsiCodec::encode(QStringLiteral("開発"))));
    QCOMPARE(manual.received[1], "cBR266" + name);
    QCoreApplication::processEvents();
    QCOMPARE(manual.received.size(), 2);
    // The copy's own "broadcast" reached itself: its row carries the new name and group.
    QTRY_COMPARE(a.find("127.0.0.2").EntryGroup, QStringLiteral("開発"));
    QCOMPARE(a.find("127.0.0.2").EntryName, QStringLiteral("田中 (h2)"));
}

void TestPresence::portInUseIsReported()
{
    Peer a("127.0.0.2", "alice", "dev");
    QVERIFY(a.start());
    Peer clash("127.0.0.2", "bob", "dev");
    QString text;
    int number = 0;
    QVERIFY(!clash.engine.OpenSockets(&text, &number));
    QCOMPARE(number, 10048);
    QVERIFY(!text.isEmpty());
    QCOMPARE(clash.engine.BCastMsgSend("captBC", "127.0.0.2"), 10038);

    // The datagram sockets on their own: an address this host does not have.
    ModZorvin foreign;
    foreign.net.port = TestPort::port();
    foreign.net.bindAddress = QHostAddress("192.0.2.55");
    Datagrams datagrams(foreign);
    QVERIFY(!datagrams.open(&text, &number));
    QCOMPARE(number, 10049);
    QVERIFY(!datagrams.isOpen());
}

void TestPresence::newCopiesPinEachOtherWhileA266PeerGetsTodaysBytes()
{
    const QString ipA = "127.0.0.2", ipB = "127.0.0.3", ipOld = "127.0.0.4";
    QTemporaryDir dirA, dirB;
    Peer a(ipA, "alice", "dev");
    Peer b(ipB, "bob", "dev");
    RawPeer old(ipOld); // a 2.66 copy
    QVERIFY(old.bound);
    a.addManual(ipB);
    a.addManual(ipOld);
    b.addManual(ipA);
    QVERIFY(a.loadIdentity(dirA.path()) && b.loadIdentity(dirB.path()));
    QVERIFY(a.start() && b.start());
    QSignalSpy pinnedByA(&a.engine.peerKeys(), &PeerKeys::keyPinned);

    // a's key goes beside its announcement; b answers the announcement with its own.
    a.engine.Announce();
    QTRY_COMPARE(a.engine.peerKeys().trustOf(ipB), PeerKeys::Trust::Pinned);
    QTRY_COMPARE(b.engine.peerKeys().trustOf(ipA), PeerKeys::Trust::Pinned);
    QCOMPARE(a.engine.peerKeys().pinnedKey(ipB), b.engine.identity().publicKey());
    QCOMPARE(b.engine.peerKeys().pinnedKey(ipA), a.engine.identity().publicKey());
    QCOMPARE(a.engine.peerKeys().hostNameAt(ipB), QString("h3"));
    QCOMPARE(pinnedByA.count(), 1);
    // Its own key, which reached itself, is nobody's pin.
    QCOMPARE(a.engine.peerKeys().trustOf(ipA), PeerKeys::Trust::None);

    // The 2.66 copy gets today's three datagrams byte for byte, then one it ignores.
    QTRY_COMPARE(old.received.size(), 4);
    QVERIFY(old.received[0].startsWith("cBX266alice (h2)"));
    QCOMPARE(old.received[1], QByteArray("captBCalice (h2)"));
    QCOMPARE(old.received[2], QByteArray("cBR266alice (h2)"));
    const QByteArray keyText =
        a.engine.identity().publicKey().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    QCOMPARE(keyText.size(), 43);
    QCOMPARE(old.received[3], "captPK001" + keyText + "h2");
    // Its own announcement is answered as ever, the key last; it is pinned by nobody.
    old.sendTo(ipA, "captBCold (o4)");
    QTRY_COMPARE(old.received.size(), 8);
    QCOMPARE(old.received[6], QByteArray("cBR266alice (h2)"));
    QVERIFY(old.received[7].startsWith("captPK001"));
    QCOMPARE(a.engine.peerKeys().trustOf(ipOld), PeerKeys::Trust::None);

    // The pins outlive the run.
    PeerKeys reread;
    reread.load(a.ctx.PeerKeysPath());
    QCOMPARE(reread.size(), 1);
    QCOMPARE(reread.pinnedKey(ipB), b.engine.identity().publicKey());

    // Keys first seen one right after the other are written together, at the latest when
    // the copy ends.
    QTemporaryDir dirC;
    {
        Peer c("127.0.0.6", "carol", "dev");
        QVERIFY(c.loadIdentity(dirC.path()) && c.start());
        RawPeer other("127.0.0.7");
        QVERIFY(other.bound);
        old.sendTo("127.0.0.6", "captPK001" + keyText + "o4");
        other.sendTo("127.0.0.6",
                     "captPK001" +
                         b.engine.identity().publicKey().toBase64(QByteArray::Base64UrlEncoding |
                                                                  QByteArray::OmitTrailingEquals) +
                         "o7");
        QTRY_COMPARE(c.engine.peerKeys().size(), 2);
    }
    reread.load(dirC.path() + "/zorvinkeys.dat");
    QCOMPARE(reread.size(), 2);
    QCOMPARE(reread.pinnedKey("127.0.0.7"), b.engine.identity().publicKey());
}

void TestPresence::changedKeyIsMarkedOnceAndTrustedOnlyWhenAccepted()
{
    const QString ipA = "127.0.0.2", ipB = "127.0.0.3";
    QTemporaryDir dirA, dirB, dirB2;
    Peer a(ipA, "alice", "dev");
    a.addManual(ipB);
    QVERIFY(a.loadIdentity(dirA.path()) && a.start());
    QByteArray oldKey;
    {
        Peer b(ipB, "bob", "dev");
        b.addManual(ipA);
        QVERIFY(b.loadIdentity(dirB.path()) && b.start());
        b.engine.Announce();
        QTRY_COMPARE(a.engine.peerKeys().trustOf(ipB), PeerKeys::Trust::Pinned);
        oldKey = b.engine.identity().publicKey();
    }
    // The same host at the same address, with a key pair made afresh.
    Peer b(ipB, "bob", "dev");
    b.addManual(ipA);
    QVERIFY(b.loadIdentity(dirB2.path()) && b.start());
    const QByteArray newKey = b.engine.identity().publicKey();
    QVERIFY(newKey != oldKey);
    QSignalSpy changed(&a.engine.peerKeys(), &PeerKeys::keyChanged);
    QSignalSpy pinned(&a.engine.peerKeys(), &PeerKeys::keyPinned);
    b.engine.Announce();
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toString(), ipB);
    QCOMPARE(changed[0][2].toString(), Identity::fingerprintOf(oldKey));
    QCOMPARE(changed[0][3].toString(), Identity::fingerprintOf(newKey));
    QCOMPARE(a.engine.peerKeys().trustOf(ipB), PeerKeys::Trust::Changed);
    QCOMPARE(a.engine.peerKeys().pinnedKey(ipB), oldKey);
    QCOMPARE(a.engine.peerKeys().offeredKey(ipB), newKey);

    // Heard again: still marked, and no second notice.
    const auto keysHeard = [&] { return a.engine.diagnostics().counts().value("captPK").received; };
    const quint64 before = keysHeard();
    b.engine.Announce();
    QTRY_COMPARE(keysHeard(), before + 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(a.engine.peerKeys().trustOf(ipB), PeerKeys::Trust::Changed);
    // Written within a second of the pin before it.
    PeerKeys reread;
    QTRY_COMPARE((reread.load(a.ctx.PeerKeysPath()), reread.trustOf(ipB)), PeerKeys::Trust::Changed);
    QCOMPARE(reread.pinnedKey(ipB), oldKey);

    // The user checked the fingerprint and accepts: the new key is the pinned one.
    QVERIFY(a.engine.AcceptPeerKey(ipB));
    QCOMPARE(pinned.count(), 1);
    QCOMPARE(a.engine.peerKeys().trustOf(ipB), PeerKeys::Trust::Pinned);
    QCOMPARE(a.engine.peerKeys().pinnedKey(ipB), newKey);
    QVERIFY(!a.engine.AcceptPeerKey(ipB));
    reread.load(a.ctx.PeerKeysPath());
    QCOMPARE(reread.pinnedKey(ipB), newKey);
    QCOMPARE(reread.trustOf(ipB), PeerKeys::Trust::Pinned);

    // Forgotten (the peer went back to a copy without keys, say): plain from now on, in
    // the file too, until the next key heard there is pinned as a first one.
    QVERIFY(a.engine.ForgetPeerKey(ipB));
    QVERIFY(!a.engine.ForgetPeerKey(ipB));
    QCOMPARE(a.engine.peerKeys().trustOf(ipB), PeerKeys::Trust::None);
    QVERIFY(a.engine.peerKeys().pinnedKey(ipB).isEmpty());
    reread.load(a.ctx.PeerKeysPath());
    QCOMPARE(reread.trustOf(ipB), PeerKeys::Trust::None);
    QCOMPARE(reread.size(), 0);
    b.engine.Announce();
    QTRY_COMPARE(pinned.count(), 2);
    QCOMPARE(a.engine.peerKeys().trustOf(ipB), PeerKeys::Trust::Pinned);
    QCOMPARE(a.engine.peerKeys().pinnedKey(ipB), newKey);
    QCOMPARE(changed.count(), 1);
}

QTEST_GUILESS_MAIN(TestPresence)
#include "tst_presence.moc"
