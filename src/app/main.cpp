// The entry routine: one copy per user, the work folders and data paths, then the
// resident window, whose load handler runs the rest of the start-up.
#include "app/CommandChannel.h"
#include "base/FileLimit.h"
#include "app/FrmSket.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "base/SettingsFile.h"
#include "base/SettingsLoader.h"
#include "app/SingleInstance.h"
#include "base/StartOptions.h"
#include "app/UnixSignalWatcher.h"
#include "net/NetDiagnosisReport.h"
#include "net/NetEngine.h"
#include "ui/JapaneseFont.h"
#include "ui/QtTranslations.h"

#include <QApplication>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <exception>

namespace {

// How long a later start waits for the running copy's answer, and how often it tries again
// while that copy is still starting.
constexpr int kCommandWaitMs = 3000;
constexpr int kCommandAttempts = 25;
constexpr int kCommandRetryMs = 200;
// How long --diagnose listens for answers to its announcement.
constexpr int kDiagnoseListenMs = 3000;

QString productTitle(const char *suffix)
{
    return QStringLiteral("「 ") + QString::fromUtf8(kProductName) + QString::fromUtf8(suffix);
}

void applyNetOptions(ModZorvin &ctx, const StartOptions &options)
{
    ctx.ProgramDir = ResolveProgramDir(options.dataDir, QCoreApplication::applicationDirPath());
    if (!options.bindAddress.isEmpty())
        ctx.net.bindAddress = QHostAddress(options.bindAddress);
    if (!options.broadcastAddress.isEmpty())
        ctx.net.broadcastAddress = options.broadcastAddress;
    if (options.port != 0)
        ctx.net.port = options.port;
}

// Answers every question with OK: --diagnose has nobody to ask.
class DiagnoseHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &, int) override { return MsgBox::IdOk; }
};

// --diagnose: a headless engine with this copy's name, group and manual entries announces
// itself, listens, prints what it saw and exits; a running copy is left alone.
int diagnose(QCoreApplication &app, const StartOptions &options)
{
    ModZorvin ctx;
    applyNetOptions(ctx, options);
    LoadSettings(ctx.settings, SettingsFile(ctx.SettingsPath()), ctx.ProgramDir);
    SingleInstance instance(ctx.ProgramDir);
    const bool copyRuns = !instance.tryAcquire();
    DiagnoseHost host;
    NetEngine engine(ctx, host);
    engine.LoadAddressBook();
    // Reads the key pair without making one: a diagnosis leaves the data folder as it was.
    engine.LoadIdentity(false);
    engine.OpenSocketsForDiagnosis();
    QTextStream out(stdout);
    if (copyRuns)
        out << "A running copy of Zorvin uses this data folder; it holds the port, so only what can be "
               "known from here is shown.\n";
    if (engine.udpBound())
        engine.Announce();
    QTimer::singleShot(kDiagnoseListenMs, &app, [&] {
        out << NetDiagnosisReport::text(engine);
        out.flush();
        // The others heard the announcement: leave their lists as they were before.
        if (engine.udpBound())
            engine.SayGoodbye();
        app.quit();
    });
    return app.exec() == 0 ? 0 : 1;
}

int startProgram(QApplication &app, const StartOptions &options)
{
    ModZorvin ctx;
    ctx.FatalReported = false;
    applyNetOptions(ctx, options);
    ctx.PlatformBackend = options.platformBackend;

    RaiseOpenFileLimit();
    SingleInstance instance(ctx.ProgramDir);
    const QString socketPath = instance.commandSocketPath();
    // A command goes to the copy that runs, if one does. A copy that is starting opens its
    // channel right after taking the lock: while it holds the lock, keep trying a little.
    if (!options.command.isEmpty()) {
        QString error;
        for (int attempt = 0; attempt < kCommandAttempts; ++attempt) {
            const CommandChannel::Sent sent =
                CommandChannel::send(socketPath, options.command, kCommandWaitMs, &error);
            if (sent == CommandChannel::Sent::Taken)
                return 0;
            if (sent == CommandChannel::Sent::NotTaken || (attempt == 0 && instance.tryAcquire()))
                break;
            QThread::msleep(kCommandRetryMs);
        }
        if (!instance.isHeld()) {
            TellTerminal(QStringLiteral("The running copy did not take the command: ") + error);
            return 1;
        }
    }
    if (!instance.isHeld() && !instance.tryAcquire()) {
        const QString text = productTitle(" 」は既に起動しています。");
        TellTerminal(text);
        ShowMessageBox(text, MsgBox::Information);
        return 0;
    }

    ctx.MakeTempFolders(UserTempPath(ctx.ProgramDir));
    ctx.ImageLibLevel = DetectImageLibLevel();

    // Later starts hand their commands over here; without the channel the program still
    // runs, only those commands cannot reach it.
    CommandChannel channel(socketPath);
    QString channelError;
    if (!channel.listen(&channelError))
        TellTerminal(QStringLiteral("Commands of later starts cannot reach this copy: ") + channelError);

    FrmSket sket(ctx);
    sket.setLoginArguments(LoginArguments(options));
    QObject::connect(&channel, &CommandChannel::commandReceived, &sket, &FrmSket::RunCommand);
    if (!options.command.isEmpty())
        sket.RunCommand(options.command);
    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &sket,
                     &FrmSket::QuitWithoutQuestion);
    QObject::connect(&sket, &FrmSket::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (!sket.Load() || sket.isUnloaded())
        return 1;
    const int code = app.exec();
    // Start-up may have failed after the first-run questions, from the event loop.
    return ctx.FatalReported ? 1 : code;
}

} // namespace

// --help and --version answer on a terminal without a display, before any window system
// is touched; everything else is parsed once Qt has taken its own options out.
int answerWithoutDisplay(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QStringList asks = {QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("-v"),
                              QStringLiteral("--version"), QStringLiteral("--diagnose")};
    if (std::none_of(asks.begin(), asks.end(), [&](const QString &a) { return arguments.contains(a); }))
        return -1;
    const StartOptions options = ParseCommandLine(arguments);
    if (!options.error.isEmpty()) {
        QTextStream(stderr) << options.error << "\nTry 'zorvin --help'." << Qt::endl;
        return 2;
    }
    if (options.diagnose && options.helpText.isEmpty() && options.versionText.isEmpty()) {
        QCoreApplication app(argc, argv);
        return diagnose(app, options);
    }
    QTextStream(stdout) << options.helpText << options.versionText;
    return 0;
}

int main(int argc, char *argv[])
{
    if (const int answered = answerWithoutDisplay(argc, argv); answered >= 0)
        return answered;
    QApplication app(argc, argv);
    InstallQtTranslations(app);
    // Labels mix Latin, kana and kanji: drawn from one font, half-width katakana is not
    // smaller than the text around it.
    QApplication::setFont(JapaneseFont::uiFont(QApplication::font()));
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("Zorvin"));
    // No application display name: on X11 the toolkit appends it to every window title, and
    // the titles must read exactly as the windows give them.
    // Desktops match the windows to the installed menu entry (and its icon) by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("zorvin"));
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
        const QString text = productTitle(" 」の起動に失敗しました。") + QStringLiteral("\r\n") +
                             QString::fromLocal8Bit(error.what());
        TellTerminal(text);
        ShowMessageBox(text, MsgBox::Exclamation);
        return 1;
    }
}
