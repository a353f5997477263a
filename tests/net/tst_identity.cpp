// This copy's key pair and what is read from the network and the data folder about the
// peers' keys: the key file made owner-only and read back, a damaged one reported and left
// as it is, the "captPK" parser against short and garbled datagrams, and the pins file.
#include "base/AnsiCodec.h"
#include "net/Identity.h"
#include "net/KeyAnnouncement.h"
#include "net/PeerKeys.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QString keyText(const QByteArray &key)
{
    return QString::fromLatin1(key.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

class TestIdentity : public QObject
{
    Q_OBJECT
  private slots:
    void firstStartMakesAnOwnerOnlyPairThatLaterStartsRead();
    void damagedKeyFileIsReportedAndLeftAlone_data();
    void damagedKeyFileIsReportedAndLeftAlone();
    void unwritableFolderLeavesTheCopyUnsealed();
    void announcementRoundTripsAndTakesLaterFields();
    void announcementRejectsShortAndGarbledInput_data();
    void announcementRejectsShortAndGarbledInput();
    void pinsFileSkipsDamagedLinesAndKeepsTheFileBeside();
};

void TestIdentity::firstStartMakesAnOwnerOnlyPairThatLaterStartsRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("zorvin.key");
    // --diagnose reads without making one.
    Identity diagnose;
    QCOMPARE(diagnose.load(path, false), Identity::State::Missing);
    QVERIFY(!QFile::exists(path));
    QVERIFY(diagnose.publicKey().isEmpty());

    Identity first;
    QCOMPARE(first.load(path, true), Identity::State::Ready);
    struct stat info = {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0600));
    QVERIFY(!QFile::exists(path + ".new"));
    QCOMPARE(first.publicKey().size(), Identity::kPublicKeyBytes);
    // Nothing secret in the fingerprint line; the key text is not in it either.
    QVERIFY(first.fingerprint().contains(
        QRegularExpression("^[0-9A-HJKMNP-TV-Z]{4}(-[0-9A-HJKMNP-TV-Z]{4}){3}$")));
    QCOMPARE(first.fingerprintLine(), QStringLiteral("鍵の指紋: ") + first.fingerprint());

    const QByteArray bytes = readAll(path);
    Identity again;
    QCOMPARE(again.load(path, true), Identity::State::Ready);
    QCOMPARE(again.publicKey(), first.publicKey());
    QCOMPARE(again.fingerprint(), first.fingerprint());
    QCOMPARE(readAll(path), bytes);

    // A signature by one copy verifies against its public key only, and only for its text.
    const QByteArray signature = again.sign("hello");
    QVERIFY(Identity::verify(signature, "hello", first.publicKey()));
    QVERIFY(!Identity::verify(signature, "hellO", first.publicKey()));
    QTemporaryDir otherDir;
    Identity other;
    QCOMPARE(other.load(otherDir.filePath("zorvin.key"), true), Identity::State::Ready);
    QVERIFY(other.fingerprint() != first.fingerprint());
    QVERIFY(!Identity::verify(signature, "hello", other.publicKey()));
}

void TestIdentity::damagedKeyFileIsReportedAndLeftAlone_data()
{
    QTest::addColumn<int>("damage");
    QTest::newRow("empty") << 0;
    QTest::newRow("garbage") << 1;
    QTest::newRow("one seed character changed") << 2;
    QTest::newRow("cut after the header") << 3;
    QTest::newRow("a line more") << 4;
    QTest::newRow("another header") << 5;
}

void TestIdentity::damagedKeyFileIsReportedAndLeftAlone()
{
    QFETCH(int, damage);
    QTemporaryDir dir;
    const QString path = dir.filePath("zorvin.key");
    QByteArray fingerprintBefore;
    {
        Identity sound;
        QCOMPARE(sound.load(path, true), Identity::State::Ready);
        fingerprintBefore = sound.fingerprint().toLatin1();
    }
    QByteArray bytes = readAll(path);
    QList<QByteArray> lines = bytes.split('\n');
    switch (damage) {
    case 0:
        bytes.clear();
        break;
    case 1:
        bytes = QByteArray("\xFF\xFE not a key\n");
        break;
    case 2: {
        QByteArray &seed = lines[1];
        seed[3] = seed[3] == 'A' ? 'B' : 'A';
        bytes = lines.join('\n');
        break;
    }
    case 3:
        bytes = lines[0] + '\n';
        break;
    case 4:
        bytes += "extra\n";
        break;
    default:
        bytes.replace("ZorvinIdentity 1", "ZorvinIdentity 9");
        break;
    }
    writeAll(path, bytes);

    Identity damaged;
    QCOMPARE(damaged.load(path, true), Identity::State::Damaged);
    QVERIFY(!damaged.isReady());
    QVERIFY(!damaged.problem().isEmpty());
    QVERIFY(damaged.publicKey().isEmpty());
    QVERIFY(damaged.sign("x").isEmpty());
    QVERIFY(damaged.fingerprintLine().contains(damaged.problem()));
    // Never replaced behind the user's back.
    QCOMPARE(readAll(path), bytes);
    QVERIFY(!QFile::exists(path + ".new"));

    // The user chose a new key: the damaged file stays beside it.
    QCOMPARE(damaged.startAfresh(), Identity::State::Ready);
    QCOMPARE(readAll(path + ".bak"), bytes);
    QVERIFY(damaged.fingerprint().toLatin1() != fingerprintBefore);
    Identity reread;
    QCOMPARE(reread.load(path, false), Identity::State::Ready);
    QCOMPARE(reread.publicKey(), damaged.publicKey());
}

void TestIdentity::unwritableFolderLeavesTheCopyUnsealed()
{
    QTemporaryDir dir;
    // A folder that is not there stands for one that cannot be written (tests run as root).
    Identity identity;
    QCOMPARE(identity.load(dir.filePath("gone/zorvin.key"), true), Identity::State::Unwritable);
    QVERIFY(!identity.problem().isEmpty());
    QVERIFY(identity.publicKey().isEmpty());
    QCOMPARE(identity.startAfresh(), Identity::State::Unwritable);
}

void TestIdentity::announcementRoundTripsAndTakesLaterFields()
{
    QTemporaryDir dir;
    Identity identity;
    QCOMPARE(identity.load(dir.filePath("zorvin.key"), true), Identity::State::Ready);
    const KeyAnnouncement sent{1, identity.publicKey(), QStringLiteral("pc-営業01")};
    const QString text = sent.text();
    QCOMPARE(text, "captPK001" + keyText(identity.publicKey()) + QStringLiteral("pc-営業01"));
    // Through the wire's code page and back.
    const auto parsed = KeyAnnouncement::parse(AnsiCodec::decode(AnsiCodec::encode(text)));
    QVERIFY(parsed);
    QCOMPARE(parsed->version, 1);
    QCOMPARE(parsed->publicKey, identity.publicKey());
    QCOMPARE(parsed->hostName, QStringLiteral("pc-営業01"));
    // A later version may add fields after a tab; trailing blanks are padding.
    const auto later =
        KeyAnnouncement::parse("captPK002" + keyText(identity.publicKey()) + "host  \tmore\tfields");
    QVERIFY(later);
    QCOMPARE(later->version, 2);
    QCOMPARE(later->hostName, QStringLiteral("host"));

    // The curve check is skipped only for the key the reader says it took before; any
    // other key is checked, and the rest of the datagram is read as strictly either way.
    const QByteArray offCurve(32, '\0');
    const auto pinned = [&identity](const QByteArray &key) { return key == identity.publicKey(); };
    QVERIFY(KeyAnnouncement::parse(text, pinned));
    QVERIFY(!KeyAnnouncement::parse("captPK001" + keyText(offCurve) + "host", pinned));
    QVERIFY(!KeyAnnouncement::parse("captPK001" + keyText(identity.publicKey()), pinned));
    const auto everything = [](const QByteArray &) { return true; };
    const auto unchecked = KeyAnnouncement::parse("captPK001" + keyText(offCurve) + "host", everything);
    QVERIFY(unchecked);
    QCOMPARE(unchecked->publicKey, offCurve);
}

void TestIdentity::announcementRejectsShortAndGarbledInput_data()
{
    QTemporaryDir dir;
    Identity identity;
    QCOMPARE(identity.load(dir.filePath("zorvin.key"), true), Identity::State::Ready);
    const QString key = keyText(identity.publicKey());
    QString notCanonical = key;
    // The last character carries 4 spare bits; setting one gives the same bytes.
    const QString alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    notCanonical[42] = alphabet[alphabet.indexOf(key[42]) ^ 1];
    QString slashKey = key;
    slashKey[5] = u'/';

    QTest::addColumn<QString>("datagram");
    QTest::newRow("empty") << QString();
    QTest::newRow("kind only") << "captPK";
    QTest::newRow("no host") << "captPK001" + key;
    QTest::newRow("blank host") << "captPK001" + key + "   ";
    // The host name's dot falls into the key field: with letters only there, the field
    // would now and then spell another valid key, and the row would fail at random.
    QTest::newRow("key cut") << "captPK001" + key.left(40) + "h.example";
    QTest::newRow("other kind") << "captPX001" + key + "host";
    QTest::newRow("version 000") << "captPK000" + key + "host";
    QTest::newRow("version with a letter") << "captPK0a1" + key + "host";
    QTest::newRow("standard base64 alphabet") << "captPK001" + slashKey + "host";
    QTest::newRow("not the canonical spelling") << "captPK001" + notCanonical + "host";
    QTest::newRow("wide character in the key") << "captPK001" + key.left(42) + u'ｱ' + "host";
    QTest::newRow("not a curve point") << "captPK001" + keyText(QByteArray(32, '\0')) + "host";
    QTest::newRow("control character in the host") << "captPK001" + key + "ho\rst";
    QTest::newRow("host too long") << "captPK001" + key + QString(256, u'h');
}

void TestIdentity::announcementRejectsShortAndGarbledInput()
{
    QFETCH(QString, datagram);
    QVERIFY(!KeyAnnouncement::parse(datagram));
}

void TestIdentity::pinsFileSkipsDamagedLinesAndKeepsTheFileBeside()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("zorvinkeys.dat");
    const QByteArray keyA(32, 'a'), keyB(32, 'b'), keyC(32, 'c');
    {
        PeerKeys keys;
        keys.load(path);
        QCOMPARE(keys.size(), 0);
        QCOMPARE(keys.offer("ha", "10.0.0.1", keyA), PeerKeys::Trust::Pinned);
        QCOMPARE(keys.offer("hb", "10.0.0.2", keyB), PeerKeys::Trust::Pinned);
        QCOMPARE(keys.offer("hb", "10.0.0.2", keyC), PeerKeys::Trust::Changed);
        // Another host name at the first address, which anyone can claim, gets no trust of
        // its own: its key waits like a changed one until the user accepts it.
        QCOMPARE(keys.offer("hz", "10.0.0.1", keyC), PeerKeys::Trust::Changed);
        QCOMPARE(keys.pinnedKey("10.0.0.1"), keyA);
        QVERIFY(keys.accept("10.0.0.1"));
        QVERIFY(keys.save());
    }
    {
        PeerKeys keys;
        QCOMPARE(keys.offer("ha", "10.0.0.1", keyA), PeerKeys::Trust::Pinned);
        QSignalSpy claimed(&keys, &PeerKeys::keyChanged);
        QCOMPARE(keys.offer("hz", "10.0.0.1", keyC), PeerKeys::Trust::Changed);
        // Names claimed one after another while a change waits: one notice, the pinned key stays.
        QCOMPARE(keys.offer("hy", "10.0.0.1", keyB), PeerKeys::Trust::Changed);
        QCOMPARE(claimed.count(), 1);
        QCOMPARE(keys.pinnedKey("10.0.0.1"), keyA);
        QCOMPARE(keys.offeredKey("10.0.0.1"), keyB);
        // A renamed machine that keeps its key is pinned under its new name at once.
        QCOMPARE(keys.offer("hw", "10.0.0.1", keyA), PeerKeys::Trust::Pinned);
        QCOMPARE(claimed.count(), 1);
    }
    const QByteArray sound = readAll(path);
    QCOMPARE(sound, "ha\t10.0.0.1\t" + keyA.toBase64() + "\t\n" + "hz\t10.0.0.1\t" + keyC.toBase64() +
                        "\t\n" + "hb\t10.0.0.2\t" + keyB.toBase64() + "\t" + keyC.toBase64() + "\n");
    writeAll(path, sound + "broken line\n" + "hq\t10.0.0.9\tnot base64!\t\n");

    PeerKeys keys;
    keys.load(path);
    QCOMPARE(keys.size(), 3);
    QCOMPARE(keys.hostNameAt("10.0.0.1"), QString("hz"));
    QCOMPARE(keys.pinnedKey("10.0.0.1"), keyC);
    QCOMPARE(keys.trustOf("10.0.0.2"), PeerKeys::Trust::Changed);
    QCOMPARE(keys.trustOf("10.0.0.9"), PeerKeys::Trust::None);
    // Hearing what is pinned changes nothing, so the engine writes nothing.
    QCOMPARE(keys.offer("hz", "10.0.0.1", keyC), PeerKeys::Trust::Pinned);
    QCOMPARE(keys.offer("hb", "10.0.0.2", keyC), PeerKeys::Trust::Changed);
    QVERIFY(!keys.isDirty());
    // A third key while the change waits: the row names it, the notice does not come again.
    QSignalSpy notices(&keys, &PeerKeys::keyChanged);
    QCOMPARE(keys.offer("hb", "10.0.0.2", keyA), PeerKeys::Trust::Changed);
    QCOMPARE(keys.offeredKey("10.0.0.2"), keyA);
    QCOMPARE(keys.pinnedKey("10.0.0.2"), keyB);
    QCOMPARE(notices.count(), 0);
    // The old host comes back to its address: its own pin, not the other host's.
    QCOMPARE(keys.offer("ha", "10.0.0.1", keyA), PeerKeys::Trust::Pinned);
    QVERIFY(keys.isDirty());
    QVERIFY(keys.save());
    QVERIFY(!keys.isDirty());
    QVERIFY(readAll(path + ".bak").contains("broken line"));
    QVERIFY(!readAll(path).contains("broken line"));
}

QTEST_GUILESS_MAIN(TestIdentity)
#include "tst_identity.moc"
