// Printing into PDF files, read back with poppler's tools: a picture larger than the page
// shrinks by the larger ratio, a smaller one keeps its size; text wraps at the last
// character that fits and runs over pages with their "Page. n" headers; without any
// printer the print command says so.
#include "pictures/ModPrint.h"
#include "ui/PrintTarget.h"
#include "support/NextMessageBox.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QMessageBox>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

int pageCount(const QString &pdf)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                                              .match(runTool(QStringLiteral("pdfinfo"), {pdf}));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QString pageText(const QString &pdf, int page)
{
    return runTool(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                    QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
}

// The horizontal resolution at which the first picture of the file is printed.
double pictureDpi(const QString &pdf)
{
    const QStringList rows =
        runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split(u'\n');
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    if (rows.size() < 3)
        return -1;
    const QStringList fields = rows[2].split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    return fields.size() > 12 ? fields[12].toDouble() : -1;
}

// The page's printable width in screen pixels (96 to the inch), as the PDF printer has it.
double pageWidthInScreenPixels(const QString &path)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    return printer.pageLayout().paintRect(QPageLayout::Millimeter).width() / 25.4 * 96;
}

} // namespace

class TstModPrint : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void pictureShrinksOnlyWhenLargerThanThePage();
    void longLineWrapsAtTheLastCharacterThatFits();
    void longTextRunsOverPagesWithNumberedHeaders();
    void printWithoutAnyPrinterSaysSo();

  private:
    QTemporaryDir m_dir;
};

void TstModPrint::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
        QSKIP("poppler-utils (pdfinfo, pdftotext, pdfimages) are not installed");
}

void TstModPrint::pictureShrinksOnlyWhenLargerThanThePage()
{
    const QString pdf = m_dir.filePath(QStringLiteral("picture.pdf"));
    const auto target = PrintTarget::pdfFile(pdf);
    const int pageWidth = int(pageWidthInScreenPixels(pdf));

    QImage small(200, 100, QImage::Format_RGB32);
    small.fill(Qt::blue);
    QCOMPARE(ModPrint::PrintPicture(*target, small), ModPrint::Result::Printed);
    QCOMPARE(pageCount(pdf), 1);
    QVERIFY2(qAbs(pictureDpi(pdf) - 96) < 2, qPrintable(QString::number(pictureDpi(pdf))));

    // Twice the page's width (and low): half size in both directions.
    QImage wide(2 * pageWidth, 100, QImage::Format_RGB32);
    wide.fill(Qt::red);
    QCOMPARE(ModPrint::PrintPicture(*target, wide), ModPrint::Result::Printed);
    QCOMPARE(pageCount(pdf), 1);
    QVERIFY2(qAbs(pictureDpi(pdf) - 192) < 3, qPrintable(QString::number(pictureDpi(pdf))));
}

void TstModPrint::longLineWrapsAtTheLastCharacterThatFits()
{
    const QString pdf = m_dir.filePath(QStringLiteral("line.pdf"));
    const auto target = PrintTarget::pdfFile(pdf);
    const QFont font(QStringLiteral("DejaVu Sans"), 12);
    // One long run without blanks: characters of different widths, so the break falls
    // wherever the width runs out.
    const QString text =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789").repeated(7);
    QCOMPARE(ModPrint::PrintText(*target, text, font, QStringLiteral("ぞるびん")), ModPrint::Result::Printed);
    QCOMPARE(pageCount(pdf), 1);

    QStringList lines =
        runTool(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), pdf, QStringLiteral("-")})
            .split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 4, qPrintable(lines.join(u'|')));
    QVERIFY(lines[0].contains(QStringLiteral("ぞるびん")));
    QVERIFY(lines[0].contains(QStringLiteral("Page. 1")));
    lines.removeFirst();
    lines.removeAll(QStringLiteral("\f"));
    // Nothing is lost or added, and every full line is as long as the page lets it be.
    QCOMPARE(lines.join(QString()), text);

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(m_dir.filePath(QStringLiteral("measure.pdf")));
    const QFontMetricsF metrics(font, &printer);
    const double dotsPerMm = printer.resolution() / 25.4;
    const double usable = printer.pageLayout().paintRect(QPageLayout::Millimeter).width() - 10;
    qsizetype at = 0;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QString &printed = lines[i];
        QVERIFY2(metrics.horizontalAdvance(printed) / dotsPerMm + 10 <= usable, qPrintable(printed));
        QVERIFY2(metrics.horizontalAdvance(text.mid(at, printed.size() + 1)) / dotsPerMm + 10 > usable,
                 qPrintable(printed));
        at += printed.size();
    }
}

void TstModPrint::longTextRunsOverPagesWithNumberedHeaders()
{
    const QString pdf = m_dir.filePath(QStringLiteral("long.pdf"));
    const auto target = PrintTarget::pdfFile(pdf);
    QStringList body;
    for (int i = 1; i <= 150; ++i)
        body << QStringLiteral("line %1").arg(i);
    QCOMPARE(ModPrint::PrintText(*target, body.join(QStringLiteral("\r\n")),
                                 QFont(QStringLiteral("DejaVu Sans"), 12), QStringLiteral("ぞるびん")),
             ModPrint::Result::Printed);
    const int pages = pageCount(pdf);
    QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
    QString all;
    for (int page = 1; page <= pages; ++page) {
        const QString text = pageText(pdf, page);
        QVERIFY2(text.contains(QStringLiteral("Page. %1").arg(page)), qPrintable(text.left(200)));
        all += text;
    }
    // Every line once, in order.
    qsizetype at = 0;
    for (const QString &line : body) {
        const qsizetype found = all.indexOf(
            QRegularExpression(QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(line))), at);
        QVERIFY2(found >= at, qPrintable(line));
        at = found + line.size();
    }
}

void TstModPrint::printWithoutAnyPrinterSaysSo()
{
    if (!QPrinterInfo::availablePrinters().isEmpty())
        QSKIP("this machine has a printer");
    QImage picture(10, 10, QImage::Format_RGB32);
    picture.fill(Qt::green);
    const auto target = PrintTarget::defaultPrinter();
    const ModPrint::Result result = ModPrint::PrintPicture(*target, picture);
    QCOMPARE(result, ModPrint::Result::NoPrinter);
    QString said;
    onNextBox([&said](QMessageBox *box) {
        said = box->text();
        box->accept();
    });
    ModPrint::TellResult(result, nullptr);
    QCOMPARE(said, QStringLiteral("プリンタがインストールされていません。"));
}

QTEST_MAIN(TstModPrint)
#include "tst_modprint.moc"
