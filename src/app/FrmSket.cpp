#include "app/FrmSket.h"

#include "address/AddressWindows.h"
#include "app/FrmAbout.h"
#include "capture/CaptureCommands.h"
#include "capture/CaptureNotice.h"
#include "capture/FrmAutoCapt.h"
#include "capture/FrmMain.h"
#include "capture/HotKeys.h"
#include "options/AutostartEntry.h"
#include "ui/Commands.h"
#include "base/DataFile.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "ui/QuitGuard.h"
#include "base/SettingsFile.h"
#include "base/SettingsLoader.h"
#include "app/StartupChecks.h"
#include "app/TransferTip.h"
#include "app/TrayIcon.h"
#include "app/TrayMenu.h"
#include "ui/WindowRegistry.h"
#include "message/FrmMsg.h"
#include "message/MessageWindows.h"
#include "diagnostics/FrmNetDiag.h"
#include "net/Identity.h"
#include "net/NetEngine.h"
#include "net/PeerKeys.h"
#include "net/SocketFacts.h"
#include "net/TransferReceiver.h"
#include "net/TransferSender.h"
#include "options/FrmOpt.h"
#include "options/FrmOptions.h"
#include "password/PasswordFile.h"
#include "password/PasswordWindows.h"
#include "receive/ReceiveWindows.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <utility>

namespace {

// The command table with the windows it opens; the menus built next find every command.
std::unique_ptr<Commands> makeCommands(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows)
{
    auto commands = std::make_unique<Commands>(ctx, engine, windows);
    RegisterCaptureCommands(ctx, engine, *commands, windows);
    RegisterNetDiagWindow(engine, windows);
    windows.setFactory(WindowKind::About, [&ctx, &engine] { return new FrmAbout(ctx, engine.identity()); });
    return commands;
}

} // namespace

FrmSket::FrmSket(ModZorvin &ctx, QWidget *parent)
    : QWidget(parent), m_ctx(ctx), m_engine(std::make_unique<NetEngine>(ctx, *this)),
      m_tray(std::make_unique<TrayIcon>()), m_windows(std::make_unique<WindowRegistry>()),
      m_commands(makeCommands(ctx, *m_engine, *m_windows)),
      m_addressWindows(std::make_unique<AddressWindows>(*m_engine, *m_windows, *m_commands)),
      m_trayMenu(std::make_unique<TrayMenu>(ctx, *m_tray, *m_commands, m_engine->sender())),
      m_autoCapt(std::make_unique<FrmAutoCapt>(ctx, *m_commands)),
      m_transferTip(std::make_unique<TransferTip>(m_engine->events(), *m_tray))
{
    setObjectName(QStringLiteral("FrmSket"));
    setWindowTitle(QString::fromUtf8(kProductName));
    RegisterPasswordWindows(ctx, *m_windows);
    // The message windows live as long as this window.
    new MessageWindows(
        ctx, *m_engine, *m_windows, *m_commands, [this](QWidget *window, bool on) { FlashAndBlink(window, on); },
        this);
    RegisterReceiveWindows(
        ctx, *m_engine, *m_windows, *m_commands,
        [this](QWidget *window, bool on) { FlashAndBlink(window, on); }, this);
    RegisterOptionsWindow(ctx, *m_engine, *m_commands, *m_windows, [this](FrmOptions &options) {
        // Saved options take effect at once in the windows they concern.
        connect(&options, &FrmOptions::messageFontChanged, this, [this] {
            for (QWidget *window : m_windows->windows(WindowKind::Msg))
                if (auto *message = qobject_cast<FrmMsg *>(window))
                    message->ApplyMessageFont();
        });
        connect(&options, &FrmOptions::autoCaptureSettingsChanged, this,
                [this] { m_autoCapt->ApplyAutoCaptSettings(); });
        options.setLoginArguments(m_loginArguments);
    });
    connect(m_tray.get(), &TrayIcon::quitRequested, this, &FrmSket::mnuEnd);
    EngineEvents &events = m_engine->events();
    connect(&events, &EngineEvents::soundRequested, this, &FrmSket::onSoundRequested);
    connect(&events, &EngineEvents::folderOpenRequested, this, &FrmSket::onFolderOpenRequested);
    connect(&events, &EngineEvents::logViewerRequested, this, &FrmSket::onLogViewerRequested);
    // A notice, not a box: messages keep arriving, and each would bring another box.
    connect(&events, &EngineEvents::msgLogWriteFailed, this,
            [this](const QString &path, const QString &error) {
                const QString text = QStringLiteral("ﾒｯｾｰｼﾞのﾛｸﾞを書き込めませんでした。\r") + path +
                                     QLatin1Char('\r') + error;
                TellTerminal(text);
                m_tray->ShowNotice(text);
            });
    connect(&events, &EngineEvents::peerKeysWriteFailed, this,
            [this](const QString &path, const QString &error) {
                const QString text =
                    QStringLiteral("相手の鍵を保存できませんでした。\r") + path + QLatin1Char('\r') + error;
                TellTerminal(text);
                m_tray->ShowNotice(text);
            });
    // The engine signals a changed key once per new key, so this notice comes once.
    connect(&m_engine->peerKeys(), &PeerKeys::keyChanged, this,
            [this](const QString &ip, const QString &host, const QString &pinned, const QString &offered) {
                const QString text = QStringLiteral("%1 (%2) の鍵が変わりました。\r登録済みの指紋: %3\r新しい指紋: %4\r"
                                                    "相手に指紋を確かめてから、ｱﾄﾞﾚｽ帳でその行の「新しい鍵を承認」を"
                                                    "選んでください。それまで新しい鍵は信用しません。")
                                         .arg(host, ip, pinned, offered);
                TellTerminal(text);
                m_tray->ShowNotice(text);
            });
}

void FrmSket::LoadIdentity()
{
    m_engine->LoadIdentity(true);
    const Identity &identity = m_engine->identity();
    if (identity.isReady())
        return;
    const QString text = QStringLiteral("鍵ファイル %1 を使えません。%2\r\r"
                                        "このままでは暗号化せずに、2.66 と同じように通信します。\r"
                                        "バックアップから戻せる場合は「いいえ」を選び、戻してから起動し直してください。\r"
                                        "「はい」を選ぶと、今のファイルを .bak として残して新しい鍵を作ります。"
                                        "同僚の ぞるびん には「鍵が変わった」と表示されます。\r\r"
                                        "新しい鍵を作りますか？")
                             .arg(identity.path(), identity.problem());
    // A key that could not be written (a read-only data folder, already warned about) has
    // nothing to choose: the terminal, the about box and the diagnostics say so.
    if (identity.state() != Identity::State::Damaged) {
        TellTerminal(identity.problem() + QStringLiteral(" 暗号化せずに、2.66 と同じように通信します。"));
        return;
    }
    TellTerminal(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    if (ShowMessageBox(text, MsgBox::Exclamation | MsgBox::YesNo | MsgBox::DefaultButton2) == MsgBox::IdYes)
        m_engine->StartIdentityAfresh();
}

FrmSket::~FrmSket()
{
    // The windows go first: they hold the commands, the engine and the context.
    m_windows.reset();
}

bool FrmSket::Load()
{
    // The tray shows the same icon as the windows.
    setWindowIcon(TrayIcon::normalIcon());
    QApplication::setWindowIcon(TrayIcon::normalIcon());

    LoadSettings(m_ctx.settings, SettingsFile(m_ctx.SettingsPath()), m_ctx.ProgramDir);
    // A data file that could not be read as it was goes aside before anything writes it.
    m_keptFiles = SettingsFile(m_ctx.SettingsPath()).KeepUnreadOriginal();
    // A new user is asked for a name and a group before anything is announced: the rest
    // goes on once the question and its dialog are answered.
    m_firstRunDialog = FirstRunPrompt(m_ctx, *this, this, [this] { m_loadFailed = !LoadAfterFirstRun(); });
    return !m_loadFailed && !m_unloaded;
}

bool FrmSket::isStarted() const
{
    return m_ctx.StartupDone == StartupRunning;
}

bool FrmSket::LoadAfterFirstRun()
{
    // A quit may have come while the first-run questions were open.
    if (m_unloaded)
        return false;

    WarnAboutMissingFolders();
    // The warning box runs its own event loop, so a quit (SIGTERM) can arrive in the middle
    // of start-up: once it has unloaded, nothing may be opened or announced any more.
    if (m_unloaded)
        return false;
    QString keptFiles = std::exchange(m_keptFiles, QString()) + PasswordFile::LoadPassword(m_ctx);

    // Every row starts "unavail" until its peer answers the announcement.
    m_engine->LoadAddressBook();
    keptFiles += m_engine->KeepUnreadAddressBook();
    LoadIdentity();
    if (m_unloaded)
        return false;
    if (!keptFiles.isEmpty()) {
        TellTerminal(DataFile::keptFilesMessage(keptFiles).replace(QLatin1Char('\r'), QLatin1Char('\n')));
        ShowMessageBox(DataFile::keptFilesMessage(keptFiles), MsgBox::Exclamation);
        if (m_unloaded)
            return false;
    }
    // Files left by an earlier run (or a crash) go.
    m_engine->EmptyWorkFolders();
    // Without the archiver, files go unpacked; no message.
    m_engine->CheckArchiver();
    if (m_unloaded || !StartNetwork())
        return false;

    // The capture window is there (hidden) from the start, so the first capture is quick.
    m_windows->load(WindowKind::Capture);
    AddTrayIcon();
    m_autoCapt->Load();

    m_hotKeys = std::make_unique<HotKeys>(m_ctx, *this, *m_windows, *m_commands, *m_tray);
    m_hotKeys->RegisterAll();
    // Its failure message runs a loop of its own, in which a quit may arrive.
    if (m_unloaded)
        return false;

    // The login entry follows the program when it was moved or reinstalled elsewhere.
    if (QString error; m_ctx.settings.StartAtLogon == 1 &&
                       !AutostartEntry::apply(true, QCoreApplication::applicationFilePath(),
                                              m_loginArguments, &error))
        TellTerminal(error);
    // The version stamp marks a start-up that went through.
    WriteVersionStamp(SettingsFile(m_ctx.SettingsPath()));
    m_ctx.StartupDone = StartupRunning;
    // Commands of the command line wait for the end of start-up, and then run from the
    // event loop.
    if (!m_waitingCommands.isEmpty())
        QTimer::singleShot(0, this, [this] {
            const QStringList commands = std::exchange(m_waitingCommands, {});
            for (const QString &command : commands)
                RunCommand(command);
        });
    return true;
}

void FrmSket::RunCommand(const QString &command)
{
    if (m_unloaded || m_ctx.StartupDone == StartupQuitting)
        return;
    if (m_ctx.StartupDone != StartupRunning) {
        m_waitingCommands << command;
        return;
    }
    PerformCommand(command);
}

void FrmSket::PerformCommand(const QString &command)
{
    if (command == QLatin1String("menu")) {
        m_tray->TrayPopupMenu();
    } else if (command == QLatin1String("show")) {
        m_commands->run(QStringLiteral("mnuShow"));
    } else if (command.startsWith(QLatin1String("capture "))) {
        // As a hotkey does: the active window is the one the user was in, not one to click.
        if (FrmMain *window = loadCaptureWindow(*m_commands))
            window->CaptHotKey(command.mid(8).toInt());
    }
}

void FrmSket::WarnAboutMissingFolders()
{
    const QString missing = MissingFolderLines(m_ctx.settings);
    if (!missing.isEmpty())
        ShowMessageBox(MissingFoldersMessage(missing), MsgBox::Exclamation);
}

bool FrmSket::StartNetwork()
{
    QString socketError;
    int socketErrorNumber = 0;
    if (m_engine->OpenSockets(&socketError, &socketErrorNumber)) {
        if (m_unloaded)
            return false;
        m_engine->Announce();
        m_ctx.NetworkReady = true;
        return true;
    }
    // Without IPv4 the program runs for capture and viewing only; any other socket error
    // ends it.
    if (socketErrorNumber == SocketFacts::kErrAddressFamily) {
        ShowMessageBox(QStringLiteral("TCP/IPを利用できません。 \r") + QString::fromUtf8(kProductName) +
                           QStringLiteral("の画像及びファイル転送機能は利用できません。"),
                       MsgBox::Exclamation);
        return !m_unloaded;
    }
    ReportFatalSocketError(QStringLiteral("FrmSket"), socketErrorNumber, socketError);
    return false;
}

void FrmSket::AddTrayIcon()
{
    new CaptureNotice(*m_windows, *m_tray, this);
    m_tray->TrayAdd();
}

void FrmSket::ReportFatalSocketError(const QString &source, int number, const QString &description)
{
    QString text = QStringLiteral("「 ") + QString::fromUtf8(kProductName) +
                   QStringLiteral(" 」の起動に失敗しました。") + QLatin1Char('\r') +
                   QStringLiteral(" ZorVinSt=000 ") + source + QStringLiteral(" Err C=") +
                   QString::number(number) + QLatin1Char('\r') + description;
    // The number alone does not say what to do about a port that is taken.
    if (number == SocketFacts::kErrAddressInUse)
        text += QLatin1Char('\r') + PortInUseAdvice(m_ctx.net.port);
    TellTerminal(text);
    ShowMessageBox(text, MsgBox::Critical);
    m_ctx.FatalReported = true;
    m_tray->TrayRemove();
    QuitWithoutQuestion();
}

QString FrmSket::QuitQuestion() const
{
    bool images = false, messages = false, desktopImages = false;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        const auto *guard = dynamic_cast<const QuitGuard *>(window);
        if (!guard)
            continue;
        for (const QuitGuard::Concern concern : guard->quitConcerns()) {
            images = images || concern == QuitGuard::UnopenedImage;
            messages = messages || concern == QuitGuard::UnopenedMessage;
            desktopImages = desktopImages || concern == QuitGuard::DesktopImage;
        }
    }
    // Queued sends are cut off as well as running ones.
    const int sends = m_engine->sender().jobsInUse();
    const int receptions = m_engine->receiver().slotsInUse();
    if (!images && !messages && !desktopImages && sends == 0 && receptions == 0)
        return QString();
    QString text;
    if (sends > 0)
        text += QStringLiteral("実行中の送信が %1 件あります。\r").arg(sends);
    if (receptions > 0)
        text += QStringLiteral("実行中の受信が %1 件あります。\r").arg(receptions);
    if (sends > 0 || receptions > 0)
        text += QStringLiteral("終了すると、これらの転送は中断されます。\r");
    if (images)
        text += QStringLiteral("未開封の画像があります。\r");
    if (messages)
        text += QStringLiteral("未開封のメッセージがあります。\r");
    if (desktopImages)
        text += QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟへ貼っている画像は廃棄されます。\r");
    return text + QStringLiteral("\r終了しますか？");
}

void FrmSket::mnuEnd()
{
    if (m_unloaded)
        return;
    m_ctx.StartupDone = StartupQuitting;
    const QString question = QuitQuestion();
    if (!question.isEmpty() && ShowMessageBox(question, MsgBox::DefaultButton2 | MsgBox::Exclamation |
                                                            MsgBox::OkCancel) == MsgBox::IdCancel)
        return;
    QueryUnload(true);
    // A quit from within the box has unloaded already.
    if (m_unloaded)
        return;
    Unload();
}

void FrmSket::QuitWithoutQuestion()
{
    if (m_unloaded)
        return;
    m_ctx.StartupDone = StartupQuitting;
    QueryUnload(false);
    Unload();
}

void FrmSket::QueryUnload(bool tellUser)
{
    // Running sends end before the goodbye: packed ones are stopped at their receivers
    // ("captSP"), the goodbye tells the rest.
    m_engine->sender().EndAllForQuit();
    // 1. Both goodbye passes; 2. the address book, keeping the old file if writing fails.
    m_engine->SayGoodbye();
    if (QString error; !m_engine->SaveAddressBook(&error)) {
        const QString text = QStringLiteral("アドレス帳を保存できませんでした。\r") +
                             m_ctx.AddressBookPath() + QLatin1Char('\r') + error;
        TellTerminal(text);
        if (tellUser)
            ShowMessageBox(text, MsgBox::Exclamation);
    }
    // 3. The hotkeys go back to the desktop.
    if (m_hotKeys)
        m_hotKeys->UnregisterAll();
}

void FrmSket::Unload()
{
    m_unloaded = true;
    // 1. The work folders go, whatever is left in them.
    m_engine->RemoveWorkFolders();
    // 2. The socket of every started send job and of every receive slot in use.
    m_engine->CloseTransfers();
    // 3. Every other window. The quit may come from inside a nested loop of one of them
    // (a message box, a dialog); the registry deletes such a window once that loop is over.
    m_windows->closeAll(this);
    // Start-up may still wait for the first-run dialog: closing it ends that wait.
    if (m_firstRunDialog)
        m_firstRunDialog->close();
    // 4. The tray icon; then the program ends.
    m_tray->TrayRemove();
    emit unloaded();
}

void FrmSket::FlashAndBlink(QWidget *window, bool on)
{
    m_tray->ModTaskTrayIcon(on ? 1 : 0);
    FlashWindow(window, on);
}

int FrmSket::ShowMessageBox(const QString &text, int style)
{
    return ::ShowMessageBox(text, style, nullptr);
}

void FrmSket::onSoundRequested(int mode, const QString &wavePath)
{
    if (mode == 1 || (mode == 2 && !PlayWaveFile(wavePath)))
        QApplication::beep();
}

void FrmSket::onFolderOpenRequested(const QString &path)
{
    OpenWithDesktop(path);
}

void FrmSket::onLogViewerRequested(const QString &program, const QStringList &arguments, const QString &path)
{
    if (program.isEmpty() || !StartProgram(program, arguments))
        OpenWithDesktop(path);
}
