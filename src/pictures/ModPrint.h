// Printing of one picture (scaled down to fit the page) and of a plain text with a page
// header, in millimetres on the printer a PrintTarget gives.
#pragma once

#include <QString>

class PrintTarget;
class QFont;
class QImage;
class QWidget;

namespace ModPrint {

enum class Result { Printed, NoPrinter, Failed };

// The picture at the screen's own size (96 pixels to the inch), from the page's corner;
// one larger than the page shrinks by the larger of its two ratios to the page.
Result PrintPicture(PrintTarget &target, const QImage &picture);

// The text in `font`, broken at the last character that fits the line (no word search)
// and at every line break, with the header `title` ... "Page. n" on each page.
Result PrintText(PrintTarget &target, const QString &text, const QFont &font, const QString &title);

// What a print command says when no printer is installed at all: a failure must not look
// like a print. Print errors otherwise end the print silently.
void TellResult(Result result, QWidget *parent);

} // namespace ModPrint
