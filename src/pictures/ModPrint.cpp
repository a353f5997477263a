#include "pictures/ModPrint.h"

#include "ui/PrintTarget.h"
#include "ui/ModZorvinUi.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPrinter>

#include <cmath>

namespace ModPrint {

namespace {

// Pictures come from the screen, whose pixels are taken at 96 to the inch.
constexpr qreal kScreenDpi = 96.0;
constexpr qreal kMmPerInch = 25.4;
// The text's left margin and the room kept at the right, in millimetres.
constexpr qreal kLeftMm = 10.0;
constexpr qreal kRightRoomMm = 10.0;

// Millimetres to the printer's device pixels and back.
struct Units
{
    qreal dotsPerMm;
    qreal px(qreal mm) const { return mm * dotsPerMm; }
    qreal mm(qreal px) const { return px / dotsPerMm; }
};

// One document: the printer, its painter, the units and the page's printable size.
struct Job
{
    std::unique_ptr<QPrinter> printer;
    QPainter painter;
    Units units{1};
    QSizeF page; // millimetres

    // Result::Printed when the document has begun.
    Result begin(PrintTarget &target)
    {
        printer = target.open();
        if (!printer)
            return Result::NoPrinter;
        if (!painter.begin(printer.get()))
            return Result::Failed;
        units = Units{printer->resolution() / kMmPerInch};
        page = printer->pageLayout().paintRect(QPageLayout::Millimeter).size();
        return Result::Printed;
    }
    Result end() { return painter.end() ? Result::Printed : Result::Failed; }
};

} // namespace

Result PrintPicture(PrintTarget &target, const QImage &picture)
{
    Job job;
    if (const Result begun = job.begin(target); begun != Result::Printed)
        return begun;
    if (picture.isNull())
        return Result::Failed;
    const QSizeF &page = job.page;
    const QSizeF pictureMm = QSizeF(picture.size()) * (kMmPerInch / kScreenDpi);
    const qreal ratio = std::max(pictureMm.width() / page.width(), pictureMm.height() / page.height());
    const qreal scale = ratio > 1 ? 1 / ratio : 1;
    const QRectF where(0, 0, job.units.px(pictureMm.width() * scale),
                       job.units.px(pictureMm.height() * scale));
    job.painter.drawImage(where, picture);
    return job.end();
}

Result PrintText(PrintTarget &target, const QString &text, const QFont &font, const QString &title)
{
    Job job;
    if (const Result begun = job.begin(target); begun != Result::Printed)
        return begun;
    QPrinter *printer = job.printer.get();
    QPainter &painter = job.painter;
    const Units &units = job.units;
    const QSizeF &page = job.page;
    QFont printFont(font);
    painter.setFont(printFont);
    const QFontMetricsF metrics(printFont, printer);
    const qreal usable = page.width() - kRightRoomMm;
    const qreal lineHeight = std::max(units.mm(metrics.height()), 0.1);
    const int lines = std::max(4, int(std::floor(page.height() / lineHeight)));
    const auto width = [&](const QString &part) { return units.mm(metrics.horizontalAdvance(part)); };

    // Lines are placed by their top edge, in millimetres.
    const auto print = [&](qreal x, qreal y, const QString &line) {
        painter.drawText(QPointF(units.px(x), units.px(y) + metrics.ascent()), line);
    };
    int pageNumber = 1;
    const auto header = [&] {
        QFont headerFont(printFont);
        headerFont.setBold(true);
        headerFont.setUnderline(true);
        painter.setFont(headerFont);
        const QFontMetricsF headerMetrics(headerFont, printer);
        print(kLeftMm, 0, title);
        const QString number = QStringLiteral("Page. %1").arg(pageNumber);
        print(usable - units.mm(headerMetrics.horizontalAdvance(number)), 0, number);
        painter.setFont(printFont);
        painter.save();
        painter.setPen(QPen(Qt::black, units.px(0.3)));
        painter.drawLine(QPointF(units.px(kLeftMm), units.px(2 * lineHeight)),
                         QPointF(units.px(usable), units.px(2 * lineHeight)));
        painter.restore();
    };

    // Line breaks come as CR LF pairs; a lone LF (from the text boxes) is one as well.
    QString rest = text;
    rest.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    header();
    qreal y = 3 * lineHeight;
    while (!rest.isEmpty()) {
        if (y > (lines - 1) * lineHeight) {
            if (!printer->newPage())
                return Result::Failed;
            ++pageNumber;
            header();
            y = 3 * lineHeight;
        }
        const qsizetype lineBreak = rest.indexOf(u'\n');
        const qsizetype limit = lineBreak < 0 ? rest.size() : lineBreak;
        qsizetype fits = limit;
        for (qsizetype j = 1; j <= limit; ++j) {
            if (width(rest.left(j)) + kLeftMm > usable) {
                // A character wider than the line still goes out alone.
                fits = std::max<qsizetype>(j - 1, 1);
                break;
            }
        }
        print(kLeftMm, y, rest.left(fits));
        rest.remove(0, fits == lineBreak ? fits + 1 : fits);
        y += lineHeight;
    }
    return job.end();
}

void TellResult(Result result, QWidget *parent)
{
    if (result == Result::NoPrinter)
        ShowMessageBox(QStringLiteral("プリンタがインストールされていません。"), 48, parent);
}

} // namespace ModPrint
