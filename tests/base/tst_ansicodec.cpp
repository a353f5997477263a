// The code-page-932 codec against byte strings written out by hand.
#include "base/AnsiCodec.h"

#include <QTest>

class TstAnsiCodec : public QObject
{
    Q_OBJECT

  private slots:
    void japaneseRoundTripsInExactBytes_data();
    void japaneseRoundTripsInExactBytes();
    void linuxInputVariantsMapToTheWindowsCodes();
    void unmappableCharactersBecomeQuestionMarks();
    void invalidBytesDecodeWithoutFailing();
    void longTextSurvives();
    void fixedWidthCountsCharactersNotBytes();
    void fieldIsOneBased();
};

void TstAnsiCodec::japaneseRoundTripsInExactBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("hiragana") << QStringLiteral("ぞるびん") << QByteArray("\x82\xbc\x82\xe9\x82\xd1\x82\xf1");
    QTest::newRow("kanji") << QStringLiteral("未設定") << QByteArray("\x96\xa2\x90\xdd\x92\xe8");
    QTest::newRow("full-width with blank")
        << QStringLiteral("ＭＳ Ｐゴシック")
        << QByteArray("\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e");
    QTest::newRow("half-width katakana") << QStringLiteral("ﾌｧｲﾙ") << QByteArray("\xcc\xa7\xb2\xd9");
    // Windows paths and the wire keep 0x5C and 0x7E as backslash and tilde.
    QTest::newRow("ascii with backslash") << QStringLiteral("C:\\a~b") << QByteArray("C:\\a~b");
    QTest::newRow("mixed") << QStringLiteral("cap受信1")
                           << QByteArray("cap\x8e\xf3\x90\x4d"
                                         "1");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TstAnsiCodec::japaneseRoundTripsInExactBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(AnsiCodec::encode(text), bytes);
    QCOMPARE(AnsiCodec::decode(bytes), text);
}

void TstAnsiCodec::linuxInputVariantsMapToTheWindowsCodes()
{
    // Input methods here produce WAVE DASH and MINUS SIGN; peers expect the same bytes as for
    // the full-width forms, which is what those bytes decode to.
    QCOMPARE(AnsiCodec::encode(u"\u301c"), QByteArray("\x81\x60"));
    QCOMPARE(AnsiCodec::encode(u"\uff5e"), QByteArray("\x81\x60"));
    QCOMPARE(AnsiCodec::encode(u"\u2212"), QByteArray("\x81\x7c"));
    QCOMPARE(AnsiCodec::decode("\x81\x60\x81\x7c"), QStringLiteral("\uff5e\uff0d"));
}

void TstAnsiCodec::unmappableCharactersBecomeQuestionMarks()
{
    QCOMPARE(AnsiCodec::encode(u"aéb"), QByteArray("a?b"));
    QCOMPARE(AnsiCodec::encode(u"€あ"), QByteArray("?\x82\xa0"));
    // Each UTF-16 unit counts as one character, so a character outside the BMP is two.
    QCOMPARE(AnsiCodec::encode(QStringLiteral("x\U0001F600y")), QByteArray("x??y"));
    const QChar loneHigh(0xD800), loneLow(0xDC00);
    QCOMPARE(AnsiCodec::encode(QString(loneLow) + QStringLiteral("a") + QString(loneHigh)),
             QByteArray("?a?"));
}

void TstAnsiCodec::invalidBytesDecodeWithoutFailing()
{
    const QChar bad(0xFFFD);
    // A lead byte cut off at the end, bytes that are no character at all, a lead byte
    // followed by a byte that cannot be its second half.
    QCOMPARE(AnsiCodec::decode("ab\x82"), QStringLiteral("ab") + bad);
    QCOMPARE(AnsiCodec::decode("\x80x\xff"), QString(bad) + QStringLiteral("x") + QString(bad));
    QCOMPARE(AnsiCodec::decode("\x82 z"), QString(bad) + QStringLiteral(" z"));
    QCOMPARE(AnsiCodec::decode(QByteArray("a\0b", 3)),
             QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));

    QByteArray everyByte;
    for (int i = 0; i < 256; ++i)
        everyByte += char(i);
    const QString decoded = AnsiCodec::decode(everyByte.repeated(8));
    QVERIFY(decoded.size() > 0);
    QVERIFY(decoded.size() <= everyByte.size() * 8);
}

void TstAnsiCodec::longTextSurvives()
{
    QString text;
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i) {
        text += (i % 3) ? QStringLiteral("あ") : QStringLiteral("é");
        bytes += (i % 3) ? QByteArray("\x82\xa0") : QByteArray("?");
    }
    QCOMPARE(AnsiCodec::encode(text), bytes);
    text.replace(QStringLiteral("é"), QStringLiteral("?"));
    QCOMPARE(AnsiCodec::decode(bytes), text);
}

void TstAnsiCodec::fixedWidthCountsCharactersNotBytes()
{
    const QString padded = AnsiCodec::fixedWidth(QStringLiteral("ぞるびん"), 6);
    QCOMPARE(padded, QStringLiteral("ぞるびん  "));
    QCOMPARE(AnsiCodec::encode(padded), QByteArray("\x82\xbc\x82\xe9\x82\xd1\x82\xf1  "));
    QCOMPARE(AnsiCodec::fixedWidth(QStringLiteral("未設定abc"), 4), QStringLiteral("未設定a"));
    QCOMPARE(AnsiCodec::fixedWidth(QString(), 3), QStringLiteral("   "));
    QCOMPARE(AnsiCodec::fixedWidth(QStringLiteral("abc"), 3), QStringLiteral("abc"));
}

void TstAnsiCodec::fieldIsOneBased()
{
    const QString text = QStringLiteral("captMSぞる");
    QCOMPARE(AnsiCodec::field(text, 1, 6), QStringLiteral("captMS"));
    QCOMPARE(AnsiCodec::field(text, 7), QStringLiteral("ぞる"));
    QCOMPARE(AnsiCodec::field(text, 8, 10), QStringLiteral("る"));
    QCOMPARE(AnsiCodec::field(text, 9), QString());
    QCOMPARE(AnsiCodec::field(text, 0, 2), QString());
}

QTEST_APPLESS_MAIN(TstAnsiCodec)
#include "tst_ansicodec.moc"
