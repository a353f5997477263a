#include "ui/HelpWindow.h"

#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

namespace HelpWindow {

bool showHelp(const QString &helpFile, QWidget *owner)
{
    QUrl source;
    const QString name = QFileInfo(QString(helpFile).replace(QLatin1Char('\\'), QLatin1Char('/'))).fileName();
    if (name.compare(QLatin1String("ZORVIN.HLP"), Qt::CaseInsensitive) == 0)
        source = QUrl(QStringLiteral("qrc:/help/zorvin.html"));
    else if (QFileInfo(helpFile).isReadable() && QFileInfo(helpFile).isFile())
        source = QUrl::fromLocalFile(QFileInfo(helpFile).absoluteFilePath());
    else
        return false;

    // One help window per process: a second request brings the open one forward.
    static QPointer<QTextBrowser> window;
    if (!window) {
        window = new QTextBrowser(owner);
        window->setWindowFlag(Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setOpenExternalLinks(true);
        window->setWindowTitle(QStringLiteral("ぞるびん ヘルプ"));
        window->resize(640, 560);
    }
    window->setSource(source);
    window->show();
    window->raise();
    window->activateWindow();
    return !window->document()->isEmpty();
}

} // namespace HelpWindow
