// The entry routine: one copy per user, the work folders and data paths, then the
// resident window, whose load handler runs the rest of the start-up.
#include "core/FrmSket.h"
#include "core/ModZorvin.h"
#include "core/ModZorvinUi.h"
#include "core/SingleInstance.h"
#include "core/StartOptions.h"
#include "core/UnixSignalWatcher.h"
#include "ui/QtTranslations.h"

#include <QApplication>
#include <QTextStream>

#include <exception>

namespace {

QString productTitle(const char *suffix)
{
    return QStringLiteral("「 ") + QString::fromUtf8(kProductName) + QString::fromUtf8(suffix);
}

int startProgram(QApplication &app, const StartOptions &options)
{
    ModZorvin ctx;
    ctx.FatalReported = false;
    ctx.ProgramDir = ResolveProgramDir(options.dataDir, QCoreApplication::applicationDirPath());
    if (!options.bindAddress.isEmpty())
        ctx.net.bindAddress = QHostAddress(options.bindAddress);
    if (!options.broadcastAddress.isEmpty())
        ctx.net.broadcastAddress = options.broadcastAddress;

    SingleInstance instance(ctx.ProgramDir);
    if (!instance.tryAcquire()) {
        const QString text = productTitle(" 」は既に起動しています。");
        QTextStream(stderr) << text << Qt::endl;
        ShowMessageBox(text, 64);
        return 0;
    }

    ctx.MakeTempFolders(UserTempPath(ctx.ProgramDir));
    ctx.ImageLibLevel = DetectImageLibLevel();

    FrmSket sket(ctx);
    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &sket,
                     &FrmSket::QuitWithoutQuestion);
    QObject::connect(&sket, &FrmSket::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (!sket.Load() || sket.isUnloaded())
        return 1;
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InstallQtTranslations(app);
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("Zorvin"));
    QApplication::setApplicationDisplayName(QString::fromUtf8(kProductName));
    QApplication::setQuitOnLastWindowClosed(false);

    const StartOptions options = ParseCommandLine(QCoreApplication::arguments());
    if (!options.error.isEmpty()) {
        QTextStream(stderr) << options.error << "\nTry 'zorvin --help'." << Qt::endl;
        return 2;
    }
    if (!options.helpText.isEmpty() || !options.versionText.isEmpty()) {
        QTextStream(stdout) << options.helpText << options.versionText;
        return 0;
    }

    try {
        return startProgram(app, options);
    } catch (const std::exception &error) {
        ShowMessageBox(productTitle(" 」の起動に失敗しました。") + QStringLiteral("\r\n") + QString::fromLocal8Bit(error.what()),
                       48);
        return 1;
    }
}
