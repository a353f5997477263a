// The address store's lookup and presence rules, the zorvin.dat file in both forms, and
// the address texts the add and modify dialogs accept.
#include "net/AddressBookFile.h"
#include "net/AddressStore.h"
#include "address/IpAddressText.h"
#include "base/ModZorvin.h"
#include "net/NetEngine.h"
#include "support/AddressRows.h"
#include "support/FileBytes.h"
#include "support/RecordingHost.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString sjis(const char *bytes)
{
    return QString::fromUtf8(bytes);
}

} // namespace

class TestAddressBook : public QObject
{
    Q_OBJECT
  private slots:
    void updatePeerFollowsThePresenceRules();
    void firstRowOfAnAddressWinsAfterEveryEdit();
    void readsSixFieldFormWithJapaneseNames();
    void readsTwoFieldFormAsManualEntries();
    void oversizedNamesAndGroupsAreCutOnRead();
    void firstLineDecidesTheForm();
    void writesSixFieldsAndDropsStateAndVersion();
    void wireTextNeverBreaksTheFile();
    void saveReplacesTheFileAndLoadAppends();
    void damagedBookIsReadInPartAndKeptBeside();
    void typedAddressesAreCheckedPieceByPiece_data();
    void typedAddressesAreCheckedPieceByPiece();
};

void TestAddressBook::updatePeerFollowsThePresenceRules()
{
    AddressStore store;
    // "unavail" for an unknown address adds nothing.
    QCOMPARE(store.UpdatePeer(QString(), "10.0.0.1", kStateUnavail, QString(), QString()), -1);
    QCOMPARE(store.size(), 0);

    // A new peer without a version: no group is stored even when one is passed.
    QCOMPARE(store.UpdatePeer("a (h1)", "10.0.0.1", kStateAvail, QString(), "G"), 0);
    QCOMPARE(store.at(0).EntryGroup, QString());
    QCOMPARE(store.at(0).EntryType, QString());
    QVERIFY(store.at(0).isAvail());

    // A version brings the group with it; a later empty version leaves both alone.
    store.UpdatePeer("a2 (h1)", "10.0.0.1", kStateAvail, "266", "営業");
    store.UpdatePeer("a3 (h1)", "10.0.0.1", kStateAvail, QString(), "other");
    QCOMPARE(store.at(0).EntryName, QString("a3 (h1)"));
    QCOMPARE(store.at(0).EntryVersion, QString("266"));
    QCOMPARE(store.at(0).EntryGroup, QString("営業"));

    // A version with an empty group clears the group.
    store.UpdatePeer("a3 (h1)", "10.0.0.1", kStateAvail, "250", QString());
    QCOMPARE(store.at(0).EntryGroup, QString());

    // "unavail" changes the state only.
    store.UpdatePeer(QString(), "10.0.0.1", kStateUnavail, QString(), QString());
    QCOMPARE(store.at(0).EntryState, kStateUnavail);
    QCOMPARE(store.at(0).EntryName, QString("a3 (h1)"));
    QCOMPARE(store.at(0).EntryVersion, QString("250"));
    QCOMPARE(store.size(), 1);
}

void TestAddressBook::firstRowOfAnAddressWinsAfterEveryEdit()
{
    AddressStore store;
    store.append(addressRow("first", "10.0.0.5", "M"));
    store.append(addressRow("other", "10.0.0.6"));
    store.append(addressRow("second", "10.0.0.5"));
    QCOMPARE(store.FindAddressByIp("10.0.0.5").EntryName, QString("first"));
    QCOMPARE(store.FindAddressByIp("10.0.0.7").EntryName, QString());
    // Addresses are compared exactly.
    QCOMPARE(store.indexOf("10.0.0.5 "), -1);

    store.UpdatePeer("new", "10.0.0.5", kStateAvail, QString(), QString());
    QCOMPARE(store.at(0).EntryName, QString("new"));
    QCOMPARE(store.at(2).EntryName, QString("second"));

    store.removeAt(0);
    QCOMPARE(store.indexOf("10.0.0.5"), 1);
    QCOMPARE(store.indexOf("10.0.0.6"), 0);

    store.replace(0, addressRow("moved", "10.0.0.9"));
    QCOMPARE(store.indexOf("10.0.0.6"), -1);
    QCOMPARE(store.indexOf("10.0.0.9"), 0);
    store.replace(1, addressRow("moved too", "10.0.0.9"));
    QCOMPARE(store.indexOf("10.0.0.5"), -1);
    QCOMPARE(store.FindAddressByIp("10.0.0.9").EntryName, QString("moved"));
}

void TestAddressBook::readsSixFieldFormWithJapaneseNames()
{
    // 山田太郎 (pc01), 営業部, manual + auto-transfer, favourite; then a learnt row.
    const QByteArray file =
        "\"\x8E\x52\x93\x63\x91\xBE\x98\x59 (pc01)\",\"192.168.0.10\",\"MT\",\"\x89\x63\x8B\xC6\x95\x94\","
        "\"1\",\"\"\r\n"
        "\"suzuki, jr (pc02)\",\"192.168.0.11\",\"\",\"\",\"\",\"\"\r\n";
    const QList<AddressEntry> rows = AddressBookFile::parse(file);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].EntryName, sjis("山田太郎 (pc01)"));
    QCOMPARE(rows[0].EntryAddress, QString("192.168.0.10"));
    QCOMPARE(rows[0].EntryType, QString("MT"));
    QCOMPARE(rows[0].EntryGroup, sjis("営業部"));
    QCOMPARE(rows[0].EntryFavourite, QString("1"));
    QCOMPARE(rows[0].EntryState, kStateUnavail);
    QCOMPARE(rows[0].EntryVersion, QString());
    QCOMPARE(rows[1].EntryName, QString("suzuki, jr (pc02)"));
    QCOMPARE(rows[1].EntryType, QString());
}

void TestAddressBook::readsTwoFieldFormAsManualEntries()
{
    // Unquoted fields lose their surrounding blanks; a line without line end is read too.
    const QByteArray file = "\"\x97\xE9\x96\xD8\",\"10.1.2.3\"\r\n"
                            "  tanaka  ,  10.1.2.4 \r\n"
                            "\r\n"
                            "\"sato\",\"10.1.2.5\"";
    const QList<AddressEntry> rows = AddressBookFile::parse(file);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].EntryName, sjis("鈴木"));
    QCOMPARE(rows[1].EntryName, QString("tanaka"));
    QCOMPARE(rows[1].EntryAddress, QString("10.1.2.4"));
    QCOMPARE(rows[2].EntryAddress, QString("10.1.2.5"));
    for (const AddressEntry &e : rows) {
        QCOMPARE(e.EntryType, QString("M"));
        QCOMPARE(e.EntryState, kStateUnavail);
        QCOMPARE(e.EntryGroup, QString());
    }
}

void TestAddressBook::oversizedNamesAndGroupsAreCutOnRead()
{
    // A file written by an older copy from a hostile announcement.
    const QByteArray file = "\"" + QByteArray(65000, 'n') + "\",\"10.1.2.3\",\"\",\"" +
                            QByteArray(3000, 'g') + "\",\"\",\"\"\r\n";
    const QList<AddressEntry> rows = AddressBookFile::parse(file);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].EntryName, QString(150, u'n'));
    QCOMPARE(rows[0].EntryGroup, QString(50, u'g'));
    QCOMPARE(rows[0].EntryAddress, QString("10.1.2.3"));
}

void TestAddressBook::firstLineDecidesTheForm()
{
    // The first line does not end with "", so the later six-field line is read as two fields.
    const QByteArray file = "\"old\",\"10.0.0.1\"\r\n"
                            "\"new\",\"10.0.0.2\",\"\",\"G\",\"1\",\"\"\r\n";
    const QList<AddressEntry> rows = AddressBookFile::parse(file);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].EntryType, QString("M"));
    QCOMPARE(rows[1].EntryGroup, QString());
    QCOMPARE(rows[1].EntryFavourite, QString());

    QVERIFY(AddressBookFile::parse(QByteArray()).isEmpty());
}

void TestAddressBook::writesSixFieldsAndDropsStateAndVersion()
{
    AddressEntry a = addressRow(sjis("山田太郎 (pc01)"), "192.168.0.10", "MT", sjis("営業部"), "1");
    a.EntryState = kStateAvail;
    a.EntryVersion = "266";
    const AddressEntry b = addressRow("b (h)", "192.168.0.11");
    const QByteArray bytes = AddressBookFile::serialize({a, b});
    QCOMPARE(bytes, QByteArray("\"\x8E\x52\x93\x63\x91\xBE\x98\x59 (pc01)\",\"192.168.0.10\",\"MT\","
                               "\"\x89\x63\x8B\xC6\x95\x94\",\"1\",\"\"\r\n"
                               "\"b (h)\",\"192.168.0.11\",\"\",\"\",\"\",\"\"\r\n"));

    const QList<AddressEntry> back = AddressBookFile::parse(bytes);
    QCOMPARE(back.size(), 2);
    QCOMPARE(back[0].EntryName, a.EntryName);
    QCOMPARE(back[0].EntryGroup, a.EntryGroup);
    QCOMPARE(back[0].EntryType, QString("MT"));
    QCOMPARE(back[0].EntryState, kStateUnavail);
    QCOMPARE(back[0].EntryVersion, QString());
}

void TestAddressBook::wireTextNeverBreaksTheFile()
{
    // Names and groups as a peer could announce them.
    const AddressEntry nasty = addressRow("a\"b\",\"c\r\nd\te\x01 (h)", "10.0.0.1", QString(), "g\"1\n,x");
    const AddressEntry after = addressRow("after (h)", "10.0.0.2", "M", "G2", "1");
    const QByteArray bytes = AddressBookFile::serialize({nasty, after});
    QCOMPARE(bytes, QByteArray("\"a'b','c  d e  (h)\",\"10.0.0.1\",\"\",\"g'1 ,x\",\"\",\"\"\r\n"
                               "\"after (h)\",\"10.0.0.2\",\"M\",\"G2\",\"1\",\"\"\r\n"));
    const QList<AddressEntry> back = AddressBookFile::parse(bytes);
    QCOMPARE(back.size(), 2);
    QCOMPARE(back[0].EntryName, QString("a'b','c  d e  (h)"));
    QCOMPARE(back[0].EntryGroup, QString("g'1 ,x"));
    QCOMPARE(back[1].EntryName, after.EntryName);
    QCOMPARE(back[1].EntryType, after.EntryType);
    QCOMPARE(back[1].EntryGroup, after.EntryGroup);
    QCOMPARE(back[1].EntryFavourite, after.EntryFavourite);
}

void TestAddressBook::damagedBookIsReadInPartAndKeptBeside()
{
    // Lines longer than the program writes, and more rows than are read.
    QByteArray bytes = "\"first\",\"10.0.0.1\",\"M\",\"g\",\"\",\"\"\r\n";
    bytes +=
        "\"" + QByteArray(AddressBookFile::kMaxLineBytes, 'n') + "\",\"10.0.0.2\",\"\",\"\",\"\",\"\"\r\n";
    bool whole = true;
    QList<AddressEntry> rows = AddressBookFile::parse(bytes, &whole);
    QVERIFY(!whole);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].EntryName.size(), kEntryNameChars);
    QCOMPARE(rows[1].EntryAddress, QString("10.0.0.2"));
    QByteArray many;
    for (int i = 0; i <= AddressBookFile::kMaxRows; ++i)
        many += "\"p" + QByteArray::number(i) + "\",\"10.1." + QByteArray::number(i / 250) + '.' +
                QByteArray::number(i % 250) + "\",\"\",\"\",\"\",\"\"\r\n\r\n";
    whole = true;
    rows = AddressBookFile::parse(many, &whole);
    QVERIFY(!whole);
    QCOMPARE(rows.size(), AddressBookFile::kMaxRows);
    QCOMPARE(rows.last().EntryName, QString("p%1").arg(AddressBookFile::kMaxRows - 1));
    whole = true;
    rows = AddressBookFile::parse(many.left(many.indexOf("\"p1\"")), &whole);
    QVERIFY(whole);

    // The engine keeps such a file beside before the rows it read take its place.
    QTemporaryDir dir;
    ModZorvin ctx;
    ctx.ProgramDir = dir.path() + "/";
    RecordingHost host;
    NetEngine engine(ctx, host);
    QFile older(ctx.AddressBookPath() + ".bak"); // kept from an earlier start: it stays
    QVERIFY(older.open(QIODevice::WriteOnly));
    older.write("older");
    older.close();
    QFile file(ctx.AddressBookPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    engine.LoadAddressBook();
    QCOMPARE(engine.addresses().size(), 2);
    QVERIFY(engine.SaveAddressBook());
    QFile kept(ctx.AddressBookPath() + ".bak2");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), bytes);
    QCOMPARE(AddressBookFile::parse(QByteArray(fileBytesOrEmpty(ctx.AddressBookPath()))).size(), 2);
    // Kept once: later saves replace the file as usual.
    QVERIFY(engine.SaveAddressBook());
    QVERIFY(!QFileInfo::exists(ctx.AddressBookPath() + ".bak3"));
    QCOMPARE(fileBytesOrEmpty(ctx.AddressBookPath() + ".bak"), QByteArray("older"));
    // A file read whole is never kept beside.
    AddressStore fresh;
    QVERIFY(AddressBookFile::LoadAddressBook(ctx.AddressBookPath(), fresh));
}

void TestAddressBook::saveReplacesTheFileAndLoadAppends()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("zorvin.dat");

    AddressStore empty;
    AddressBookFile::LoadAddressBook(path, empty); // missing file: nothing, no complaint
    QVERIFY(empty.isEmpty());

    AddressStore store;
    store.append(addressRow("one", "10.0.0.1", "M"));
    store.append(addressRow("two", "10.0.0.2"));
    QVERIFY(AddressBookFile::SaveAddressBook(path, store));
    store.removeAt(0);
    QVERIFY(AddressBookFile::SaveAddressBook(path, store));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\"two\",\"10.0.0.2\",\"\",\"\",\"\",\"\"\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"zorvin.dat"});

    AddressStore loaded;
    loaded.append(addressRow("kept", "10.0.0.9"));
    AddressBookFile::LoadAddressBook(path, loaded);
    QCOMPARE(loaded.size(), 2);
    QCOMPARE(loaded.at(1).EntryName, QString("two"));
    QCOMPARE(loaded.indexOf("10.0.0.2"), 1);

    // A place that cannot be written is reported.
    QVERIFY(!AddressBookFile::SaveAddressBook(dir.filePath("missing/zorvin.dat"), loaded));
}

void TestAddressBook::typedAddressesAreCheckedPieceByPiece_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("four numbers") << "192.168.0.10" << true;
    QTest::newRow("bounds") << "0.0.0.0" << true;
    QTest::newRow("all 255") << "255.255.255.255" << true;
    QTest::newRow("leading zeros") << "010.001.000.099" << true;
    // Only the first three pieces are held to three digits.
    QTest::newRow("long fourth piece") << "1.2.3.0004" << true;
    QTest::newRow("three numbers") << "192.168.0" << false;
    QTest::newRow("five numbers") << "1.2.3.4.5" << false;
    QTest::newRow("trailing stop") << "1.2.3.4." << false;
    QTest::newRow("two adjacent stops") << "1..2.3" << false;
    QTest::newRow("leading stop") << ".1.2.3" << false;
    QTest::newRow("first above 255") << "256.1.1.1" << false;
    QTest::newRow("fourth above 255") << "1.1.1.256" << false;
    QTest::newRow("fourth far above 255") << "1.1.1.99999999999999999999" << false;
    QTest::newRow("first of four digits") << "0001.1.1.1" << false;
    QTest::newRow("second of four digits") << "1.0001.1.1" << false;
    QTest::newRow("third of four digits") << "1.1.0001.1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("letters") << "1.2.3.a" << false;
    QTest::newRow("blank") << "1.2. 3.4" << false;
    QTest::newRow("sign") << "1.2.3.-4" << false;
    QTest::newRow("full-width digits") << QString::fromUtf8("１.2.3.4") << false;
}

void TestAddressBook::typedAddressesAreCheckedPieceByPiece()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(IsValidIpAddress(text), valid);
}

QTEST_GUILESS_MAIN(TestAddressBook)
#include "tst_addressbook.moc"
