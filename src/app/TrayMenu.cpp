#include "app/TrayMenu.h"

#include "capture/FrmMain.h"
#include "ui/Commands.h"
#include "base/ModZorvin.h"
#include "app/TrayIcon.h"
#include "ui/WindowRegistry.h"
#include "net/TransferSender.h"
#include "password/PasswordWindows.h"
#include "ui/WindowKeys.h"

#include <QAction>
#include <QMenu>

#include <iterator>

namespace {

constexpr char kSeparator[] = "-";

bool isSeparator(const char *name)
{
    return name[0] == '-';
}

} // namespace

TrayMenu::TrayMenu(ModZorvin &ctx, TrayIcon &tray, Commands &commands, TransferSender &sender,
                   QObject *parent)
    : QObject(parent), m_ctx(ctx), m_tray(tray), m_commands(commands), m_sender(sender), m_menu(*tray.menu()),
      m_before(tray.quitAction())
{
    addSubMenu("mnuFile", QStringLiteral("ﾌｧｲﾙ(&F)"), {"mnuOpen", "mnuSave"});
    addSubMenu("mnuEdit", QStringLiteral("編集(&E)"), {"mnuCut", "mnuCopy", "mnuPest"});
    addSubMenu("mnuCapture", QStringLiteral("ｷｬﾌﾟﾁｬ(&C)"),
               {"mnuCaptureItem0", "mnuCaptureItem1", "mnuCaptureItem2", "mnuCaptureItem3", "mnuCaptureItem4",
                kSeparator, "mnuClear"});
    insertCommands({kSeparator, "mnuSend", "mnuFileTran"});
    m_cancel = addSubMenu("mnuPSendCan", QStringLiteral("ｷｬﾝｾﾙ"), {});
    for (int i = 0; i < kCancelItems; ++i) {
        QAction *item = m_cancel->addAction(QString());
        item->setObjectName(QStringLiteral("mnuPCan%1").arg(i));
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, i] { CancelItemChosen(i); });
        m_cancelItems.append(item);
    }
    insertCommands({"mnuMsgSend", kSeparator});
    addSubMenu("mnuWall", QStringLiteral("壁紙として保存(&W)"), {"mnuWallCenter", "mnuWallTile"});
    insertCommands({"mnuDTopImg", "mnuPrint", kSeparator});
    addSubMenu("mnuTool", QStringLiteral("ﾂｰﾙ(&T)"),
               {"mnuAdrEdit", "mnuPaint", "mnuMsgLogShow", "mnuFileTranFolOpen", "mnuNetDiag"});
    addSubMenu("mnuOption", QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"), {"mnuOpt", "mnuKeySet"});
    insertCommands({kSeparator, "mnuShow", "mnuHide", kSeparator, "mnuHelp", "mnuAbout", kSeparator});

    InstallMenuKeys(&m_menu);
    tray.setMenuPreparer([this] { return prepare(); });
    connect(&tray, &TrayIcon::doubleClicked, this,
            [this] { TrayDoubleClickAction(m_ctx.settings.LDblClick); });
    prepare();
}

TrayMenu::~TrayMenu()
{
    m_tray.setMenuPreparer(nullptr);
}

QMenu *TrayMenu::addSubMenu(const char *name, const QString &caption,
                            std::initializer_list<const char *> commands)
{
    auto *sub = new QMenu(caption, &m_menu);
    sub->setObjectName(QLatin1String(name));
    sub->menuAction()->setObjectName(QLatin1String(name));
    for (const char *command : commands) {
        if (isSeparator(command))
            sub->addSeparator();
        else
            sub->addAction(m_commands.action(QLatin1String(command)));
    }
    m_menu.insertMenu(m_before, sub);
    return sub;
}

void TrayMenu::insertCommands(std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (isSeparator(name))
            m_menu.insertSeparator(m_before);
        else
            m_menu.insertAction(m_before, m_commands.action(QLatin1String(name)));
    }
}

QMenu *TrayMenu::subMenu(const QString &name) const
{
    for (QMenu *menu : m_menu.findChildren<QMenu *>(name, Qt::FindDirectChildrenOnly))
        return menu;
    return nullptr;
}

bool TrayMenu::passwordWindowOpen() const
{
    for (const QLatin1String kind : {WindowKind::SetPW, WindowKind::PWCheck}) {
        const QWidget *window = m_commands.windows().find(kind);
        if (window && window->isVisible())
            return true;
    }
    return false;
}

bool TrayMenu::prepare()
{
    if (passwordWindowOpen())
        return false;
    // The rules of the send, picture, paint and paste entries sit with the commands.
    m_commands.refresh();
    const FrmMain *window = captureWindow(m_commands);
    const bool visible = window && window->isVisible();
    m_commands.action(QStringLiteral("mnuShow"))->setVisible(!visible);
    m_commands.action(QStringLiteral("mnuHide"))->setVisible(visible);
    // Two groups follow their entries: editing when any of cut, copy and paste can run,
    // the wallpaper when there is a picture.
    const auto enabled = [this](const char *name) {
        return m_commands.action(QLatin1String(name))->isEnabled();
    };
    subMenu(QStringLiteral("mnuEdit"))
        ->menuAction()
        ->setEnabled(enabled("mnuCut") || enabled("mnuCopy") || enabled("mnuPest"));
    subMenu(QStringLiteral("mnuWall"))->menuAction()->setEnabled(enabled("mnuWallCenter"));
    fillCancelList();
    return true;
}

QString TrayMenu::CancelCaption(const SendJob &job)
{
    return job.isFile() ? job.resultName + QStringLiteral(" : ") + job.itemName : job.resultName;
}

void TrayMenu::fillCancelList()
{
    m_cancelSlots = m_sender.JobsInUse(kCancelItems);
    for (int i = 0; i < kCancelItems; ++i) {
        QAction *item = m_cancelItems[i];
        const bool used = i < m_cancelSlots.size();
        item->setText(used ? CancelCaption(m_sender.job(m_cancelSlots[i])) : QString());
        item->setVisible(used);
        item->setEnabled(used);
    }
    m_cancel->menuAction()->setEnabled(!m_cancelSlots.isEmpty());
}

QStringList TrayMenu::cancelCaptions() const
{
    QStringList captions;
    for (QAction *item : m_cancelItems) {
        if (item->isVisible())
            captions << item->text();
    }
    return captions;
}

void TrayMenu::CancelItemChosen(int index)
{
    if (index < 0 || index >= m_cancelSlots.size())
        return;
    const QString caption = m_cancelItems[index]->text();
    // The job the item showed, while it still runs; jobs of one recipient share a caption,
    // so the slot tells them apart. If that job has ended meanwhile, the first running
    // job with the caption goes.
    int slot = m_cancelSlots[index];
    const QList<int> running = m_sender.JobsInUse(kSendJobSlots);
    if (!running.contains(slot) || CancelCaption(m_sender.job(slot)) != caption) {
        slot = -1;
        for (int candidate : running) {
            if (CancelCaption(m_sender.job(candidate)) == caption) {
                slot = candidate;
                break;
            }
        }
    }
    if (slot >= 0)
        m_sender.CancelSendJob(slot);
}

void TrayMenu::TrayDoubleClickAction(int action)
{
    static const char *const kCommands[] = {nullptr,  "mnuShow",   "mnuMsgSend",
                                            "mnuOpt", "mnuKeySet", "mnuAdrEdit"};
    if (action == 6)
        m_tray.quitAction()->trigger();
    else if (action > 0 && action < int(std::size(kCommands)))
        m_commands.run(QLatin1String(kCommands[action]));
}
