#include "ui/PrintTarget.h"

#include <QPrinter>
#include <QPrinterInfo>

namespace {

class DefaultPrinterTarget : public PrintTarget
{
  public:
    std::unique_ptr<QPrinter> open() override
    {
        QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull()) {
            const QList<QPrinterInfo> all = QPrinterInfo::availablePrinters();
            if (all.isEmpty())
                return nullptr;
            info = all.first();
        }
        return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    }
};

class PdfTarget : public PrintTarget
{
  public:
    explicit PdfTarget(const QString &path) : m_path(path) {}
    std::unique_ptr<QPrinter> open() override
    {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(m_path);
        return printer;
    }

  private:
    QString m_path;
};

} // namespace

std::unique_ptr<PrintTarget> PrintTarget::defaultPrinter()
{
    return std::make_unique<DefaultPrinterTarget>();
}

std::unique_ptr<PrintTarget> PrintTarget::pdfFile(const QString &path)
{
    return std::make_unique<PdfTarget>(path);
}
