#include "core/Commands.h"

#include "capture/CaptureMath.h"
#include "capture/FrmDTopImg.h"
#include "capture/FrmMain.h"
#include "capture/FrmSelect.h"
#include "capture/ModPrint.h"
#include "capture/ModWall.h"
#include "capture/PrintTarget.h"
#include "capture/ToolbarIcons.h"
#include "capture/ToolbarLayout.h"
#include "core/FrmAbout.h"
#include "core/FrmNetDiag.h"
#include "core/ModZorvin.h"
#include "core/WindowRegistry.h"
#include "net/MsgLog.h"
#include "net/NetEngine.h"
#include "ui/HelpWindow.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMimeData>

Commands::Commands(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_engine(engine), m_windows(windows),
      m_printTarget(PrintTarget::defaultPrinter())
{
    m_windows.setFactory(WindowKind::Capture, [this] {
        auto *window = new FrmMain(m_ctx, m_engine, *this);
        // Pinned pictures on the always-on-top layer come back above the others.
        FrmSelect::attach(*window, m_windows, [this] { FrmDTopImg::Restack(m_windows); });
        return window;
    });
    m_windows.setFactory(WindowKind::About, [this] { return new FrmAbout(m_ctx); });
    m_windows.setFactory(WindowKind::NetDiag, [this] { return new FrmNetDiag(m_engine); });
    connect(&m_windows, &WindowRegistry::windowAdded, this, &Commands::refresh);
    connect(&m_windows, &WindowRegistry::windowRemoved, this, &Commands::refresh);

    // The rules. A command of the capture window does nothing while that window is not
    // loaded, so "always" there means "whenever the window shows the command".
    const auto always = [] { return true; };
    // An empty capture (a click without a drag) leaves HasPicture set and nothing to use.
    const auto picture = [this] {
        const FrmMain *window = captureWindow();
        return window && window->HasPicture() && !window->picture().isNull();
    };
    const auto hasPicture = [this] {
        const FrmMain *window = captureWindow();
        return window && window->HasPicture();
    };
    const auto network = [this] { return m_ctx.NetworkReady; };
    const auto clipboardPicture = [] {
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        return data && data->hasImage();
    };
    const auto hideCapture = [this] {
        if (FrmMain *window = captureWindow())
            window->hide();
    };

    // Handlers left null belong to windows still to come; those set them.
    add("mnuOpen", QStringLiteral("開く(&O)"), "FileOpen", onCaptureWindow(&FrmMain::OpenCommand), always);
    add("mnuSave", QStringLiteral("保存(&S)"), "FileSave", onCaptureWindow(&FrmMain::SaveCommand), picture);
    add("mnuSend", QStringLiteral("画像転送(&T)"), "PicTran", onCaptureWindow(&FrmMain::PicTran),
        [this, picture] { return canSend() && picture(); });
    add("mnuFileTran", QStringLiteral("ﾌｧｲﾙ転送(&R)"), "FileTran", onCaptureWindow(&FrmMain::FileTran),
        [this] { return canSend(); });
    add("mnuMsgSend", QStringLiteral("ﾒｯｾｰｼﾞ送信(&M)"), "MessTran", nullptr, network);
    const auto wallpaper = [this](const char *style) {
        return [this, style] {
            if (FrmMain *window = captureWindow())
                ModWall::SetWallpaper(m_ctx, window->picture(), QLatin1String(style), this);
        };
    };
    add("mnuWallCenter", QStringLiteral("中央に表示(&C)"), "WallCenter", wallpaper("0"), picture);
    add("mnuWallTile", QStringLiteral("並べて表示(&T)"), "WallTile", wallpaper("1"), picture);
    add(
        "mnuDTopImg", QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟに貼る(&D)"), nullptr,
        [this] {
            if (FrmMain *window = captureWindow())
                FrmDTopImg::Pin(m_ctx, m_engine, *this, window->picture());
        },
        picture);
    add(
        "mnuPrint", QStringLiteral("印刷(&P)"), "Print",
        [this] {
            if (FrmMain *window = captureWindow())
                ModPrint::TellResult(ModPrint::PrintPicture(printTarget(), window->picture()), window);
        },
        picture);
    add(
        "mnuClose", QStringLiteral("閉じる(&C)"), nullptr,
        [this] {
            if (FrmMain *window = captureWindow())
                window->close();
        },
        always);

    add("mnuCut", QStringLiteral("切り取り(&T)"), "ClipCut", onCaptureWindow(&FrmMain::Cut), picture);
    add("mnuCopy", QStringLiteral("ｺﾋﾟｰ(&C)"), "ClipCopy", onCaptureWindow(&FrmMain::Copy), picture);
    add("mnuPest", QStringLiteral("張り付け(&P)"), "ClipPest", onCaptureWindow(&FrmMain::Paste),
        clipboardPicture);
    // The capture button at position p captures mode p − 5; a capture loads the window
    // (hidden) when it was closed.
    const QStringList captions = CaptureMath::CaptureModeCaptions();
    for (int mode = 0; mode < captions.size(); ++mode) {
        const ToolButtonDef *button = ToolbarLayout::ButtonAt(mode + ToolbarLayout::kFirstCapturePosition);
        const QByteArray name = QStringLiteral("mnuCaptureItem%1").arg(mode).toLatin1();
        add(
            name.constData(), captions[mode], button->key,
            [this, mode] {
                if (FrmMain *window = loadCaptureWindow())
                    window->GetCaptureItem(mode);
            },
            always);
    }
    add("mnuClear", QStringLiteral("ｸﾘｱ(&C)"), "CaptClear", onCaptureWindow(&FrmMain::Clear), hasPicture);

    add("mnuAdrEdit", QStringLiteral("ｱﾄﾞﾚｽ帳(&N)"), "AddrBook", nullptr, always);
    add("mnuPaint", QStringLiteral("画像編集ﾂｰﾙを開く(&L)"), "Paint",
        onCaptureWindow(&FrmMain::OpenPaintProgram),
        [this, picture] { return !m_ctx.settings.PicEditApp.isEmpty() && picture(); });
    add(
        "mnuMsgLogShow", QStringLiteral("ﾒｯｾｰｼﾞﾛｸﾞを開く(&M)"), nullptr,
        [this] { m_engine.msgLog().ShowMsgLog(); }, always);
    add(
        "mnuFileTranFolOpen", QStringLiteral("ﾌｧｲﾙ受信ﾌｫﾙﾀﾞを開く(&I)"), nullptr,
        [this] {
            if (!m_ctx.settings.RecvFileSavePlace.isEmpty())
                emit m_engine.events().folderOpenRequested(m_ctx.settings.RecvFileSavePlace);
        },
        always);

    add("mnuBackColorSet", QStringLiteral("設定(&S)"), nullptr, onCaptureWindow(&FrmMain::ChooseBackground),
        always);
    add("mnuBackColorDefault", QStringLiteral("規定の色(&D)"), nullptr,
        onCaptureWindow(&FrmMain::DefaultBackground), always);

    add(
        "mnuNetDiag", QStringLiteral("ﾈｯﾄﾜｰｸ診断(&D)"), nullptr,
        [this] { m_windows.open(WindowKind::NetDiag); }, always);

    add("mnuOpt", QStringLiteral("動作環境の設定(&E)"), "Config", nullptr, always);
    add("mnuKeySet", QStringLiteral("ﾎｯﾄｷｰの設定(&K)"), nullptr, nullptr, always);
    add("mnuToolbarEdit", QStringLiteral("ﾂｰﾙﾊﾞｰの編集(&T)"), nullptr, onCaptureWindow(&FrmMain::EditToolbar),
        always);

    add("mnuHelpContents", QStringLiteral("目次(&C)"), "Help", onCaptureWindow(&FrmMain::ShowHelp), always);
    add(
        "mnuHelp", QStringLiteral("ﾍﾙﾌﾟ(&H)"), nullptr,
        [] { HelpWindow::showHelp(QStringLiteral("ZORVIN.HLP"), nullptr); }, always);
    add(
        "mnuAbout", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), nullptr, [this] { m_windows.open(WindowKind::About); },
        always);

    add("mnuPHide", QStringLiteral("非表示(&H)"), nullptr, hideCapture, always);
    add(
        "mnuShow", QStringLiteral("ｷｬﾌﾟﾁｬ画面表示(&S)"), nullptr,
        [this] { m_windows.open(WindowKind::Capture); }, always);
    add("mnuHide", QStringLiteral("ｷｬﾌﾟﾁｬ画面非表示(&H)"), nullptr, hideCapture, always);

    // The desktop's standard keys for the file and edit commands.
    setStandardKey("mnuOpen", QKeySequence::Open);
    setStandardKey("mnuSave", QKeySequence::Save);
    setStandardKey("mnuPrint", QKeySequence::Print);
    setStandardKey("mnuCut", QKeySequence::Cut);
    setStandardKey("mnuCopy", QKeySequence::Copy);
    setStandardKey("mnuPest", QKeySequence::Paste);

    refresh();
}

Commands::~Commands() = default;

void Commands::add(const char *name, const QString &caption, const char *toolbarKey,
                   std::function<void()> handler, std::function<bool()> rule)
{
    // The menu caption is the text; a toolbar button shows only its icon and its tooltip.
    auto *action = new QAction(caption, this);
    const QString key = QString::fromLatin1(toolbarKey ? toolbarKey : name);
    action->setObjectName(key);
    if (const ToolButtonDef *button = toolbarKey ? ToolbarLayout::ButtonByKey(key) : nullptr) {
        action->setIcon(ToolbarIcons::forKey(key));
        action->setIconVisibleInMenu(false);
        action->setToolTip(QString::fromUtf8(button->tooltip));
    }
    // The rule is asked again on a click: what it depends on may have changed since the
    // last refresh.
    connect(action, &QAction::triggered, this, [this, command = QString::fromLatin1(name)] {
        if (!run(command))
            refresh();
    });
    m_commands.push_back({QString::fromLatin1(name), action, std::move(handler), std::move(rule)});
}

void Commands::setStandardKey(const char *name, QKeySequence::StandardKey key)
{
    QAction *command = action(QLatin1String(name));
    // A window shortcut acts while a window that shows the action is the active one: the
    // capture window through its menu bar and toolbar (its pop-up and the tray's menu do not
    // count, they belong to no window). One action is one shortcut however many places
    // show it, so it is never ambiguous with itself.
    command->setShortcuts(key);
    command->setShortcutContext(Qt::WindowShortcut);
    if (!command->toolTip().isEmpty() && !command->shortcut().isEmpty())
        command->setToolTip(QStringLiteral("%1 (%2)").arg(
            command->toolTip(), command->shortcut().toString(QKeySequence::NativeText)));
}

std::function<void()> Commands::onCaptureWindow(void (FrmMain::*method)())
{
    return [this, method] {
        if (FrmMain *window = captureWindow())
            (window->*method)();
    };
}

int Commands::indexOf(const QString &name) const
{
    for (size_t i = 0; i < m_commands.size(); ++i) {
        if (m_commands[i].name == name || m_commands[i].action->objectName() == name)
            return int(i);
    }
    return -1;
}

QAction *Commands::action(const QString &name) const
{
    const int index = indexOf(name);
    return index < 0 ? nullptr : m_commands[size_t(index)].action;
}

void Commands::setHandler(const QString &name, std::function<void()> handler)
{
    const int index = indexOf(name);
    if (index >= 0)
        m_commands[size_t(index)].handler = std::move(handler);
    refresh();
}

void Commands::setSendDialog(std::function<void(const SendHandOver &)> open)
{
    m_sendDialog = std::move(open);
    refresh();
}

bool Commands::canSend() const
{
    return m_ctx.NetworkReady && bool(m_sendDialog);
}

void Commands::LoadSendAddr(const SendHandOver &handOver)
{
    if (canSend())
        m_sendDialog(handOver);
}

bool Commands::allows(const Command &command) const
{
    return command.handler && (!command.rule || command.rule());
}

bool Commands::allows(const QString &name) const
{
    const int index = indexOf(name);
    return index >= 0 && allows(m_commands[size_t(index)]);
}

bool Commands::run(const QString &name)
{
    const int index = indexOf(name);
    if (index < 0 || !allows(m_commands[size_t(index)]))
        return false;
    // A copy: the handler may run a dialog during which handlers are set or replaced.
    const std::function<void()> handler = m_commands[size_t(index)].handler;
    handler();
    return true;
}

void Commands::refresh()
{
    for (const Command &command : m_commands)
        command.action->setEnabled(allows(command));
}

void Commands::setPrintTarget(std::unique_ptr<PrintTarget> target)
{
    m_printTarget = std::move(target);
}

FrmMain *Commands::captureWindow() const
{
    return m_windows.find<FrmMain>(WindowKind::Capture);
}

FrmMain *Commands::loadCaptureWindow()
{
    return m_windows.load<FrmMain>(WindowKind::Capture);
}
