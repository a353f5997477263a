// The transfer header and the error replies as bytes: building, locating the body after
// double-byte names, refusing unsafe names and malformed fields.
#include "base/AnsiCodec.h"
#include "net/TransferHeader.h"
#include "net/TransferReceiver.h"

#include <QTest>

class TestTransferHeader : public QObject
{
    Q_OBJECT
  private slots:
    void buildsTheFixedLayout();
    void bodyStartsAfterTheEncodedHeaderWithJapaneseNames();
    void incompleteUntilTheLastDoubleByteCharacterArrives();
    void refusals_data();
    void refusals();
    void errorRepliesCountCharactersNotBytes();
};

namespace {

// A header from raw fields, as another program would put it on the wire.
QByteArray rawHeader(const QByteArray &mark, const QByteArray &kind, const QByteArray &size,
                     const QByteArray &archive, const QByteArray &item, int itemChars = -1)
{
    // The item field is 60 characters: a double-byte name needs fewer blanks than bytes.
    const int pad = 60 - (itemChars < 0 ? int(item.size()) : itemChars);
    QByteArray h = mark + kind + size + archive.leftJustified(22, ' ') + item + QByteArray(pad, ' ') +
                   "NxFNN" + QByteArray(5, ' ') + QByteArray("host").leftJustified(20, ' ');
    return h + QByteArray(124, ' ');
}

} // namespace

void TestTransferHeader::buildsTheFixedLayout()
{
    TransferHeader h;
    h.dataKind = "0002";
    h.size = 1234567;
    h.archiveName = "CAPT7F000002"
                    "12.LZH";
    h.itemName = "report.txt";
    h.faceDown = 'Y';
    h.kind = 'F';
    h.openReceipt = 'Y';
    h.passwordLock = 'N';
    h.hostName = "a-host-name-longer-than-twenty";
    const QString text = h.build();
    QCOMPARE(text.size(), 256);
    const QByteArray expected = "0001"
                                "0002"
                                "000001234567"
                                "CAPT7F00000212.LZH    " +
                                QByteArray("report.txt").leftJustified(60, ' ') +
                                "Y F"
                                "YN"
                                "     " +
                                "a-host-name-longer-t" + QByteArray(124, ' ');
    QCOMPARE(text.toLatin1(), expected);

    // Fields that are too long are cut, so the layout never shifts.
    h.itemName = QString(70, 'x');
    QCOMPARE(h.build().size(), 256);
    QCOMPARE(h.build().mid(42, 61), QString(60, 'x') + 'Y');
}

void TestTransferHeader::bodyStartsAfterTheEncodedHeaderWithJapaneseNames()
{
    // "鈴木.txt" is 6 characters and 8 bytes: the header is 258 bytes long.
    const QByteArray name = "\x97\xe9\x96\xd8\x2e\x74\x78\x74";
    const QByteArray header = rawHeader("0001", "0002", "000000000005", "", name, 6);
    QCOMPARE(header.size(), 258);
    const QByteArray wire = header + "BODY!";
    const ParsedTransferHeader p = TransferHeader::parse(wire);
    QCOMPARE(int(p.status), int(ParsedTransferHeader::Status::Ok));
    QCOMPARE(p.byteLength, qsizetype(258));
    QCOMPARE(wire.mid(p.byteLength), QByteArray("BODY!"));
    QCOMPARE(p.header.itemName, QString::fromUtf8("鈴木.txt"));
    QCOMPARE(p.header.size, qint64(5));
    QCOMPARE(p.header.hostName, QString("host"));
    QVERIFY(p.header.isFile());

    // The builder pads by characters too, so its bytes are the same.
    QCOMPARE(AnsiCodec::encode(p.header.build()), header);
}

void TestTransferHeader::incompleteUntilTheLastDoubleByteCharacterArrives()
{
    const QByteArray header = rawHeader("0001", "0001", "000000000000", "", "\x97\xe9\x96\xd8.bmp", 6);
    QCOMPARE(int(TransferHeader::parse(header.left(256)).status),
             int(ParsedTransferHeader::Status::Incomplete));
    QCOMPARE(int(TransferHeader::parse(header.left(257)).status),
             int(ParsedTransferHeader::Status::Incomplete));
    QCOMPARE(int(TransferHeader::parse(header).status), int(ParsedTransferHeader::Status::Ok));
    // A lead byte as the very last byte of the 256th character needs its trail byte.
    QCOMPARE(TransferHeader::encodedLength(QByteArray(255, 'a') + "\x82", 256), qsizetype(-1));
    QCOMPARE(TransferHeader::encodedLength(QByteArray(255, 'a') + "\x82\xa0", 256), qsizetype(257));
}

void TestTransferHeader::refusals_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("status");
    using S = ParsedTransferHeader::Status;
    QTest::newRow("mark 0000") << rawHeader("0000", "0001", "000000000001", "", "a.bmp")
                               << int(S::FormatError);
    QTest::newRow("kind 0003") << rawHeader("0001", "0003", "000000000001", "", "a.bmp")
                               << int(S::VersionMismatch);
    QTest::newRow("size not digits") << rawHeader("0001", "0002", "00000000001x", "", "a.txt")
                                     << int(S::FormatError);
    QTest::newRow("size with blanks")
        << rawHeader("0001", "0002", "         100", "", "a.txt") << int(S::FormatError);
    QTest::newRow("slash") << rawHeader("0001", "0002", "000000000001", "", "../../etc/passwd")
                           << int(S::FormatError);
    QTest::newRow("backslash") << rawHeader("0001", "0002", "000000000001", "", "..\\x.txt")
                               << int(S::FormatError);
    QTest::newRow("dot dot") << rawHeader("0001", "0002", "000000000001", "", "..") << int(S::FormatError);
    QTest::newRow("absolute") << rawHeader("0001", "0002", "000000000001", "", "/tmp/x")
                              << int(S::FormatError);
    QTest::newRow("drive") << rawHeader("0001", "0002", "000000000001", "", "C:x.txt") << int(S::FormatError);
    QTest::newRow("control") << rawHeader("0001", "0002", "000000000001", "", "a\x01.txt")
                             << int(S::FormatError);
    QTest::newRow("empty") << rawHeader("0001", "0002", "000000000001", "", "") << int(S::FormatError);
    QTest::newRow("bad archive") << rawHeader("0001", "0002", "000000000001", "../a.lzh", "a.txt")
                                 << int(S::FormatError);
    QTest::newRow("fine") << rawHeader("0001", "0002", "000000000001", "A.LZH", "a b.txt") << int(S::Ok);
}

void TestTransferHeader::refusals()
{
    QFETCH(QByteArray, header);
    QFETCH(int, status);
    QCOMPARE(header.size(), 256);
    QCOMPARE(int(TransferHeader::parse(header).status), status);
}

void TestTransferHeader::errorRepliesCountCharactersNotBytes()
{
    QCOMPARE(
        TransferReceiver::errorReply(2),
        QByteArray("99990031"
                   "\x93\x5d\x91\x97\x92\x86\x82\xc9\x83\x66\x81\x5b\x83\x5e\x81\x5b\x83\x47\x83\x89\x81\x5b"
                   "\x20\x28\x95\x73\x90\xb3\x83\x74\x83\x48\x81\x5b\x83\x7d\x83\x62\x83\x67\x29\x20\x82\xaa"
                   "\x94\xad\x90\xb6\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42"));
    QCOMPARE(
        TransferReceiver::errorReply(255),
        QByteArray("99990031"
                   "\x91\x8a\x8e\xe8\x91\xa4\x82\xc9\x20\x55\x4e\x4c\x48\x41\x33\x32\x2e\x44\x4c\x4c\x20\x82"
                   "\xaa\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b\x82\xb3\x82\xea\x82\xc4\x82\xdc\x82"
                   "\xb9\x82\xf1\x81\x42"));
}

QTEST_GUILESS_MAIN(TestTransferHeader)
#include "tst_transferheader.moc"
