// Where printing goes: the default printer, or a PDF file (tests, and a machine that has
// no printer but wants the document).
#pragma once

#include <QString>

#include <memory>

class QPrinter;

class PrintTarget
{
  public:
    virtual ~PrintTarget() = default;
    // A printer ready for one document; null when there is nothing to print on.
    virtual std::unique_ptr<QPrinter> open() = 0;

    // The system's default printer (the first one when none is marked default).
    static std::unique_ptr<PrintTarget> defaultPrinter();
    // A PDF file, written anew by every document.
    static std::unique_ptr<PrintTarget> pdfFile(const QString &path);
};
