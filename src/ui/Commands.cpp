#include "ui/Commands.h"

#include "ui/PrintTarget.h"
#include "ui/ToolbarIcons.h"
#include "ui/ToolbarLayout.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "net/MsgLog.h"
#include "net/NetEngine.h"
#include "ui/HelpWindow.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMimeData>
#include <QWidget>

Commands::Commands(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_engine(engine), m_windows(windows),
      m_printTarget(PrintTarget::defaultPrinter())
{
    connect(&m_windows, &WindowRegistry::windowAdded, this, &Commands::refresh);
    connect(&m_windows, &WindowRegistry::windowRemoved, this, &Commands::refresh);

    // The rules. The capture window's commands get theirs with their handlers when the
    // capture window's commands are registered; until then they stay off.
    const auto always = [] { return true; };
    const auto network = [this] { return m_ctx.NetworkReady; };
    const auto clipboardPicture = [] {
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        return data && data->hasImage();
    };

    // Handlers left null belong to windows that set them.
    add("mnuOpen", QStringLiteral("開く(&O)"), "FileOpen", nullptr, always);
    add("mnuSave", QStringLiteral("保存(&S)"), "FileSave", nullptr, nullptr);
    add("mnuSend", QStringLiteral("画像転送(&T)"), "PicTran", nullptr, nullptr);
    add("mnuFileTran", QStringLiteral("ﾌｧｲﾙ転送(&R)"), "FileTran", nullptr, [this] { return canSend(); });
    add("mnuMsgSend", QStringLiteral("ﾒｯｾｰｼﾞ送信(&M)"), "MessTran", nullptr, network);
    add("mnuWallCenter", QStringLiteral("中央に表示(&C)"), "WallCenter", nullptr, nullptr);
    add("mnuWallTile", QStringLiteral("並べて表示(&T)"), "WallTile", nullptr, nullptr);
    add("mnuDTopImg", QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟに貼る(&D)"), nullptr, nullptr, nullptr);
    add("mnuPrint", QStringLiteral("印刷(&P)"), "Print", nullptr, nullptr);
    add("mnuClose", QStringLiteral("閉じる(&C)"), nullptr, nullptr, always);

    add("mnuCut", QStringLiteral("切り取り(&T)"), "ClipCut", nullptr, nullptr);
    add("mnuCopy", QStringLiteral("ｺﾋﾟｰ(&C)"), "ClipCopy", nullptr, nullptr);
    add("mnuPest", QStringLiteral("張り付け(&P)"), "ClipPest", nullptr, clipboardPicture);
    add("mnuClear", QStringLiteral("ｸﾘｱ(&C)"), "CaptClear", nullptr, nullptr);

    add("mnuAdrEdit", QStringLiteral("ｱﾄﾞﾚｽ帳(&N)"), "AddrBook", nullptr, always);
    add("mnuPaint", QStringLiteral("画像編集ﾂｰﾙを開く(&L)"), "Paint", nullptr, nullptr);
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

    add("mnuBackColorSet", QStringLiteral("設定(&S)"), nullptr, nullptr, always);
    add("mnuBackColorDefault", QStringLiteral("規定の色(&D)"), nullptr, nullptr, always);

    add(
        "mnuNetDiag", QStringLiteral("ﾈｯﾄﾜｰｸ診断(&D)"), nullptr,
        [this] { m_windows.open(WindowKind::NetDiag); }, always);

    add("mnuOpt", QStringLiteral("動作環境の設定(&E)"), "Config", nullptr, always);
    add("mnuKeySet", QStringLiteral("ﾎｯﾄｷｰの設定(&K)"), nullptr, nullptr, always);
    add("mnuToolbarEdit", QStringLiteral("ﾂｰﾙﾊﾞｰの編集(&T)"), nullptr, nullptr, always);

    add("mnuHelpContents", QStringLiteral("目次(&C)"), "Help", nullptr, always);
    add(
        "mnuHelp", QStringLiteral("ﾍﾙﾌﾟ(&H)"), nullptr,
        [] { HelpWindow::showHelp(QStringLiteral("ZORVIN.HLP"), nullptr); }, always);
    add(
        "mnuAbout", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), nullptr, [this] { m_windows.open(WindowKind::About); },
        always);

    add("mnuPHide", QStringLiteral("非表示(&H)"), nullptr, nullptr, always);
    add(
        "mnuShow", QStringLiteral("ｷｬﾌﾟﾁｬ画面表示(&S)"), nullptr,
        [this] { m_windows.open(WindowKind::Capture); }, always);
    add("mnuHide", QStringLiteral("ｷｬﾌﾟﾁｬ画面非表示(&H)"), nullptr, nullptr, always);

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

void Commands::setHandler(const QString &name, std::function<void()> handler, std::function<bool()> rule)
{
    const int index = indexOf(name);
    if (index >= 0) {
        m_commands[size_t(index)].handler = std::move(handler);
        m_commands[size_t(index)].rule = std::move(rule);
    }
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

void Commands::applySettings()
{
    emit settingsChanged();
    refresh();
}

void Commands::setPrintTarget(std::unique_ptr<PrintTarget> target)
{
    m_printTarget = std::move(target);
}
