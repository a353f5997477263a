#include "capture/CaptureWindowMenus.h"

#include "pictures/SendJobs.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"
#include "ui/Commands.h"
#include "ui/WindowKeys.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace {

// The pop-up's cancel list holds at most this many running jobs.
constexpr int kCancelItems = 30;

// The pop-up names a file job by its file first.
QString popupCancelCaption(const SendJob &job)
{
    return job.isFile() ? job.itemName + QStringLiteral(" : ") + job.resultName : job.resultName;
}

} // namespace

CaptureWindowMenus::CaptureWindowMenus(QMainWindow &window, Commands &commands, NetEngine &engine)
    : QObject(&window), m_commands(commands), m_engine(engine)
{
    buildMenus(window);
    buildPopup(window);
}

QMenu *CaptureWindowMenus::addMenu(QMainWindow &window, QMenu *menu, const QString &name,
                                   const QString &caption)
{
    QMenu *sub = menu ? menu->addMenu(caption) : window.menuBar()->addMenu(caption);
    sub->menuAction()->setObjectName(name);
    InstallMenuKeys(sub);
    m_menus.insert(name, sub);
    // Every group applies the rules as it opens.
    connect(sub, &QMenu::aboutToShow, this, &CaptureWindowMenus::refresh);
    return sub;
}

void CaptureWindowMenus::addCommands(QMenu *menu, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (name[0] == '-')
            menu->addSeparator();
        else
            menu->addAction(m_commands.action(QLatin1String(name)));
    }
}

void CaptureWindowMenus::buildMenus(QMainWindow &window)
{
    QMenu *file = addMenu(window, nullptr, QStringLiteral("mnuFile"), QStringLiteral("ﾌｧｲﾙ(&F)"));
    addCommands(file, {"mnuOpen", "mnuSave", "-", "mnuSend", "mnuFileTran", "mnuMsgSend", "-"});
    QMenu *wall = addMenu(window, file, QStringLiteral("mnuWall"), QStringLiteral("壁紙として保存(&W)"));
    addCommands(wall, {"mnuWallCenter", "mnuWallTile"});
    addCommands(file, {"mnuDTopImg", "-", "mnuPrint", "-", "mnuClose"});

    QMenu *edit = addMenu(window, nullptr, QStringLiteral("mnuEdit"), QStringLiteral("編集(&E)"));
    addCommands(edit, {"mnuCut", "mnuCopy", "mnuPest", "-"});
    QMenu *capture = addMenu(window, edit, QStringLiteral("mnuCapture"), QStringLiteral("ｷｬﾌﾟﾁｬ(&C)"));
    addCommands(capture, {"mnuCaptureItem0", "mnuCaptureItem1", "mnuCaptureItem2", "mnuCaptureItem3",
                          "mnuCaptureItem4", "-", "mnuClear"});

    QMenu *tool = addMenu(window, nullptr, QStringLiteral("mnuTool"), QStringLiteral("ﾂｰﾙ(&T)"));
    addCommands(tool,
                {"mnuAdrEdit", "mnuPaint", "-", "mnuMsgLogShow", "mnuFileTranFolOpen", "-", "mnuNetDiag"});

    QMenu *view = addMenu(window, nullptr, QStringLiteral("mnuView"), QStringLiteral("表示(&V)"));
    QMenu *back = addMenu(window, view, QStringLiteral("mnuBackColor"), QStringLiteral("背景色(&C)"));
    addCommands(back, {"mnuBackColorSet", "mnuBackColorDefault"});

    QMenu *option = addMenu(window, nullptr, QStringLiteral("mnuOption"), QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"));
    addCommands(option, {"mnuOpt", "mnuKeySet", "-", "mnuToolbarEdit"});

    QMenu *help = addMenu(window, nullptr, QStringLiteral("mnuHelp"), QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    addCommands(help, {"mnuHelpContents", "-", "mnuAbout"});
}

void CaptureWindowMenus::buildPopup(QMainWindow &window)
{
    m_popup = new QMenu(&window);
    m_popup->setObjectName(QStringLiteral("mnuPopUp"));
    InstallMenuKeys(m_popup);
    addCommands(addMenu(window, m_popup, QStringLiteral("mnuPFile"), QStringLiteral("ﾌｧｲﾙ(&F)")),
                {"mnuOpen", "mnuSave", "mnuPrint"});
    addCommands(addMenu(window, m_popup, QStringLiteral("mnuPEdit"), QStringLiteral("編集(&E)")),
                {"mnuCut", "mnuCopy", "mnuPest"});
    addCommands(
        addMenu(window, m_popup, QStringLiteral("mnuPCapture"), QStringLiteral("ｷｬﾌﾟﾁｬ(&C)")),
        {"mnuCaptureItem0", "mnuCaptureItem1", "mnuCaptureItem2", "mnuCaptureItem3", "mnuCaptureItem4"});
    addCommands(m_popup, {"mnuClear", "-", "mnuSend", "mnuFileTran"});
    m_popupCancel = addMenu(window, m_popup, QStringLiteral("mnuPSendCan"), QStringLiteral("ｷｬﾝｾﾙ"));
    for (int i = 0; i < kCancelItems; ++i) {
        QAction *item = m_popupCancel->addAction(QString());
        item->setObjectName(QStringLiteral("mnuPCan%1").arg(i));
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, item] { CancelJob(item->text()); });
    }
    addCommands(m_popup, {"mnuMsgSend", "-"});
    addCommands(addMenu(window, m_popup, QStringLiteral("mnuPWall"), QStringLiteral("壁紙として保存(&W)")),
                {"mnuWallCenter", "mnuWallTile"});
    addCommands(m_popup, {"mnuDTopImg", "-"});
    addCommands(addMenu(window, m_popup, QStringLiteral("mnuPTool"), QStringLiteral("ﾂｰﾙ(&T)")),
                {"mnuAdrEdit", "mnuPaint", "mnuMsgLogShow", "mnuFileTranFolOpen"});
    addCommands(addMenu(window, m_popup, QStringLiteral("mnuPOption"), QStringLiteral("ｵﾌﾟｼｮﾝ(&O)")),
                {"mnuOpt", "mnuToolbarEdit"});
    addCommands(m_popup, {"mnuKeySet", "-", "mnuPHide"});
    connect(m_popup, &QMenu::aboutToShow, this, &CaptureWindowMenus::preparePopup);
}

QStringList CaptureWindowMenus::RunningJobCaptions() const
{
    QStringList captions;
    const TransferSender &sender = m_engine.sender();
    for (int slot : sender.JobsInUse(kCancelItems))
        captions << popupCancelCaption(sender.job(slot));
    return captions;
}

void CaptureWindowMenus::CancelJob(const QString &caption)
{
    TransferSender &sender = m_engine.sender();
    for (int slot : sender.JobsInUse(kSendJobSlots)) {
        if (popupCancelCaption(sender.job(slot)) == caption) {
            sender.CancelSendJob(slot);
            return;
        }
    }
}

void CaptureWindowMenus::preparePopup()
{
    refresh();
    const QStringList jobs = RunningJobCaptions();
    const QList<QAction *> items = m_popupCancel->actions();
    int filled = 0;
    for (QAction *item : items) {
        const bool used = filled < jobs.size();
        item->setVisible(used);
        item->setEnabled(used);
        item->setText(used ? jobs[filled] : QString());
        if (used)
            ++filled;
    }
    m_popupCancel->menuAction()->setEnabled(filled > 0);
}

void CaptureWindowMenus::refresh()
{
    m_commands.refresh();
    updateSubMenus();
}

void CaptureWindowMenus::updateSubMenus()
{
    // A group is as usable as the commands in it.
    const auto enabled = [this](const char *name) {
        return m_commands.action(QLatin1String(name))->isEnabled();
    };
    const bool wall = enabled("mnuWallCenter") || enabled("mnuWallTile");
    m_menus.value(QStringLiteral("mnuWall"))->menuAction()->setEnabled(wall);
    m_menus.value(QStringLiteral("mnuPWall"))->menuAction()->setEnabled(wall);
    m_menus.value(QStringLiteral("mnuPEdit"))
        ->menuAction()
        ->setEnabled(enabled("mnuCut") || enabled("mnuCopy") || enabled("mnuPest"));
}
