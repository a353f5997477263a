// The texts of the message windows, character for character: reply quotation, forward,
// the length limit, print heads, and text files in UTF-8 or CP932.
#include "message/MessageTexts.h"

#include <QtTest>

using namespace MessageTexts;

class tst_MessageTexts : public QObject
{
    Q_OBJECT

  private slots:
    void replyQuotesEveryLineAndDropsTrailingBreaks_data();
    void replyQuotesEveryLineAndDropsTrailingBreaks();
    void forwardKeepsTheTextUnchanged();
    void limitNeverSplitsAPairOrALineBreak();
    void editorLineBreaksBecomeCrLf();
    void printHeads();
    void textFileUtf8OrCp932();
    void textFileStopsAfterTheLineThatCrossesTheLimit();
    void textFileCutInsideACharacterStaysUtf8();
    void savedFileIsUtf8WithAClosingCrLf();
};

void tst_MessageTexts::replyQuotesEveryLineAndDropsTrailingBreaks_data()
{
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("quote");
    QTest::newRow("two trailing breaks")
        << QStringLiteral("こんにちは\r\n明日\r\n\r\n") << QStringLiteral(">こんにちは\r\n>明日\r\n");
    QTest::newRow("empty line inside") << QStringLiteral("a\r\n\r\nb") << QStringLiteral(">a\r\n>\r\n>b\r\n");
    QTest::newRow("empty text") << QString() << QStringLiteral(">\r\n");
    // Only CR LF pairs are line breaks of a message.
    QTest::newRow("lone LF") << QStringLiteral("a\nb\r\n") << QStringLiteral(">a\nb\r\n");
}

void tst_MessageTexts::replyQuotesEveryLineAndDropsTrailingBreaks()
{
    QFETCH(QString, received);
    QFETCH(QString, quote);
    QCOMPARE(replyText(received, QStringLiteral("2026/12/08"), QStringLiteral("09:05:03"),
                       QStringLiteral("佐藤 (PC01)")),
             QStringLiteral("AT [ 2026/12/08 09:05:03 ]\r\n佐藤 (PC01) wrote:\r\n") + quote);
}

void tst_MessageTexts::forwardKeepsTheTextUnchanged()
{
    const QString received = QStringLiteral("一行目\r\n\n二行目\r\n\r\n");
    QCOMPARE(forwardText(QStringLiteral("山田"), QStringLiteral("10.0.0.9"), QStringLiteral("2026/12/08"),
                         QStringLiteral("23:59:59"), received),
             QStringLiteral("Forwarded Message by 山田\r\n--- Original Message ---\r\nFrom: 10.0.0.9\r\n"
                            "Date: 2026/12/08 Time: 23:59:59\r\n---\r\n") +
                 received);
}

void tst_MessageTexts::limitNeverSplitsAPairOrALineBreak()
{
    const QString exact(kMaxTextChars, u'a');
    QCOMPARE(limited(exact), exact);
    QCOMPARE(limited(exact + u'b'), exact);
    // A pair straddling the limit goes whole.
    const QString emoji = QStringLiteral("😀");
    const QString beforePair(kMaxTextChars - 1, u'a');
    QCOMPARE(limited(beforePair + emoji), beforePair);
    // So does a CR LF.
    QCOMPARE(limited(beforePair + QStringLiteral("\r\nx")), beforePair);
    QCOMPARE(limited(QString(kMaxTextChars - 2, u'a') + QStringLiteral("\r\nx")),
             QString(kMaxTextChars - 2, u'a') + QStringLiteral("\r\n"));
}

void tst_MessageTexts::editorLineBreaksBecomeCrLf()
{
    QCOMPARE(toEditor(QStringLiteral("a\r\nb\rc\nd")), QStringLiteral("a\nb\nc\nd"));
    QCOMPARE(toWire(QStringLiteral("a\nb\n")), QStringLiteral("a\r\nb\r\n"));
}

void tst_MessageTexts::printHeads()
{
    QCOMPARE(replyPrintHead(QStringLiteral("To: 佐藤")),
             QStringLiteral("To: 佐藤\r\n") + QString(37, u'-') + QStringLiteral("\r\n"));
    // "Date: 2026/12/08 Time: 09:05:03" (31) + 2 + "From: ab" (8) + CR LF = 43.
    QCOMPARE(receivedPrintHead(QStringLiteral("Date: 2026/12/08 Time: 09:05:03"), QStringLiteral("From: ab")),
             QStringLiteral("Date: 2026/12/08 Time: 09:05:03  From: ab\r\n") + QString(43, u'-') +
                 QStringLiteral("\r\n"));
}

void tst_MessageTexts::textFileUtf8OrCp932()
{
    // "日本語" in UTF-8 with a byte order mark and LF breaks, and in CP932 with CR LF.
    QCOMPARE(fromTextFile(QByteArray("\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\nx\n")),
             QStringLiteral("日本語\r\nx\r\n"));
    QCOMPARE(fromTextFile(QByteArray("\x93\xfa\x96\x7b\x8c\xea\r\nx")), QStringLiteral("日本語\r\nx\r\n"));
    // An empty line in the middle stays; a lone CR breaks a line too.
    QCOMPARE(fromTextFile(QByteArray("a\r\n\r\nb\rc")), QStringLiteral("a\r\n\r\nb\r\nc\r\n"));
    QCOMPARE(fromTextFile(QByteArray()), QString());
}

void tst_MessageTexts::textFileStopsAfterTheLineThatCrossesTheLimit()
{
    // Lines of 99 characters + CR LF: the 41st takes the text from 4040 past 4090, to 4141.
    QByteArray file;
    for (int i = 0; i < 60; ++i)
        file += QByteArray(99, char('a' + i % 26)) + "\n";
    const QString text = fromTextFile(file);
    QCOMPARE(text.size(), 41 * 101);
    QVERIFY(text.endsWith(QString(99, QChar(u'a' + 40 % 26)) + QStringLiteral("\r\n")));
}

void tst_MessageTexts::textFileCutInsideACharacterStaysUtf8()
{
    // The read stopped inside the last "語": what came before is still UTF-8.
    const QString text = fromTextFile(QByteArray("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA"));
    QCOMPARE(text, QStringLiteral("日本\r\n"));
}

void tst_MessageTexts::savedFileIsUtf8WithAClosingCrLf()
{
    QCOMPARE(toTextFile(QStringLiteral("日本\r\nx")), QByteArray("\xE6\x97\xA5\xE6\x9C\xAC\r\nx\r\n"));
}

QTEST_APPLESS_MAIN(tst_MessageTexts)
#include "tst_messagetexts.moc"
