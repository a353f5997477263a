#include "capture/FrmMain.h"

#include "address/AddressStore.h"
#include "capture/CaptureEngine.h"
#include "capture/CaptureMath.h"
#include "capture/FrmToolbarEdit.h"
#include "capture/ImageFiles.h"
#include "capture/ToolbarIcons.h"
#include "capture/ToolbarLayout.h"
#include "core/EngineHost.h"
#include "core/ModZorvin.h"
#include "net/MsgLog.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"
#include "platform/ScreenPlatform.h"
#include "ui/cCommonDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// PicDraw: holds the picture at its own size inside the viewport.
class PicDrawWidget : public QWidget
{
  public:
    explicit PicDrawWidget(QWidget *parent) : QWidget(parent) {}

    void setImage(const QImage &image)
    {
        m_image = image;
        // An empty picture keeps a 1 by 1 surface, as a cleared picture does.
        resize(image.isNull() ? QSize(1, 1) : image.size());
        update();
    }

  protected:
    void paintEvent(QPaintEvent *event) override
    {
        if (m_image.isNull())
            return;
        QPainter painter(this);
        painter.drawImage(event->rect(), m_image, event->rect());
    }

  private:
    QImage m_image;
};

// Window geometry in twips, 15 to the pixel.
constexpr int kTwipsPerPixel = 15;
constexpr int kInitialWidthTwips = 9600;
constexpr int kInitialHeightTwips = 7200;
// The viewport sits 2 pixels in from the window's edges and below the toolbar.
constexpr int kViewportMargin = 2;

// The pop-up's cancel list holds at most this many running jobs.
constexpr int kCancelItems = 30;

const QString kFolderNotice = QStringLiteral("フォルダは読み込みできません。");
const QString kSeveralFilesNotice = QStringLiteral("複数ファイルの読み込みはできません。");

QString withSlash(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

} // namespace

FrmMain::FrmMain(ModZorvin &ctx, NetEngine &engine, const FrmMainDoors &doors, QWidget *parent)
    : QMainWindow(parent), m_ctx(ctx), m_engine(engine), m_doors(doors), m_platform(ScreenPlatform::create()),
      m_files(std::make_unique<ImageFiles>(ctx, engine.host(), &engine))
{
    m_capture = std::make_unique<CaptureEngine>(*this, ctx, *m_platform);
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QString::fromUtf8(kProductName));
    setWindowIcon(QApplication::windowIcon().isNull() ? ToolbarIcons::programIcon()
                                                      : QApplication::windowIcon());

    m_frame = new QScrollArea(this);
    m_frame->setObjectName(QStringLiteral("PicFrame"));
    m_frame->setWidgetResizable(false);
    m_frame->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_picDraw = new PicDrawWidget(m_frame);
    m_picDraw->setObjectName(QStringLiteral("PicDraw"));
    m_picDraw->setFocusPolicy(Qt::StrongFocus);
    m_frame->setWidget(m_picDraw);
    m_frame->viewport()->setAcceptDrops(true);
    m_frame->viewport()->installEventFilter(this);
    m_background = palette().color(QPalette::Window);
    setBackgroundColor(m_background);
    for (QScrollBar *bar : {m_frame->horizontalScrollBar(), m_frame->verticalScrollBar()}) {
        // The small step is a tenth of the scroll range once that is at least 20 pixels.
        connect(bar, &QScrollBar::rangeChanged, this, [bar](int, int max) {
            if (max / 10 >= 2)
                bar->setSingleStep(max / 10);
        });
        connect(bar, &QScrollBar::valueChanged, this, [this] { m_picDraw->setFocus(); });
    }

    auto *central = new QWidget(this);
    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(kViewportMargin, kViewportMargin, kViewportMargin, kViewportMargin);
    centralLayout->addWidget(m_frame);
    setCentralWidget(central);

    m_panel1 = new QLabel(this);
    m_panel1->setObjectName(QStringLiteral("StBarPanel1"));
    m_panel1->setMinimumWidth(200);
    m_panel2 = new QLabel(this);
    m_panel2->setObjectName(QStringLiteral("StBarPanel2"));
    for (QLabel *panel : {m_panel1, m_panel2}) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setContentsMargins(4, 0, 4, 0);
    }
    statusBar()->setObjectName(QStringLiteral("StBar"));
    statusBar()->addWidget(m_panel1, 0);
    statusBar()->addWidget(m_panel2, 1);
    m_files->setStatusPanel([this](const QString &text) { setStatusText(2, text); });

    buildToolbar();
    buildMenus();
    buildPopup();

    // Wide enough for the whole toolbar in the default arrangement.
    const int toolbarWidth = m_toolbar->sizeHint().width() + 2 * kViewportMargin;
    resize(std::max(kInitialWidthTwips / kTwipsPerPixel, toolbarWidth), kInitialHeightTwips / kTwipsPerPixel);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    ClearPicDraw(false);
    m_hasPicture = false;
    SetToolbar();
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &FrmMain::ChangeClipBoard);
    connect(&m_engine.sender(), &TransferSender::jobsChanged, this, [this] {
        if (!m_engine.sender().anyJobInUse() && statusText(2) == QStringLiteral("自動転送中"))
            setStatusText(2, QString());
    });
}

FrmMain::~FrmMain()
{
    m_capture->Abandon();
}

// ---- toolbar and menus ------------------------------------------------------------

void FrmMain::buildToolbar()
{
    m_toolbar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setIconSize(QSize(24, 24));
    m_toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, m_toolbar);
    for (const ToolButtonDef &def : ToolbarLayout::Buttons()) {
        if (def.isSeparator())
            continue;
        auto *action = new QAction(ToolbarIcons::forKey(QString::fromLatin1(def.key)),
                                   QString::fromUtf8(def.tooltip), this);
        action->setObjectName(QString::fromLatin1(def.key));
        action->setToolTip(QString::fromUtf8(def.tooltip));
        action->setData(def.position);
        m_toolActions.insert(def.position, action);
    }
    connect(m_toolbar, &QToolBar::actionTriggered, this, &FrmMain::onToolbarTriggered);
    applyToolbarLayout(ToolbarLayout::DefaultLayout());
}

void FrmMain::applyToolbarLayout(const QStringList &layout)
{
    m_toolbarLayout = ToolbarLayout::Sanitized(layout);
    m_toolbar->clear();
    for (const QString &key : m_toolbarLayout) {
        if (key == QLatin1String(ToolbarLayout::kSeparator)) {
            m_toolbar->addSeparator();
            continue;
        }
        const ToolButtonDef *def = ToolbarLayout::ButtonByKey(key);
        m_toolbar->addAction(m_toolActions.value(def->position));
    }
    SetToolbar();
}

QAction *FrmMain::toolbarAction(const QString &key) const
{
    const ToolButtonDef *def = ToolbarLayout::ButtonByKey(key);
    if (!def || !m_toolbarLayout.contains(key))
        return nullptr;
    return m_toolActions.value(def->position);
}

QAction *FrmMain::menuAction(const QString &name) const
{
    return m_menuActions.value(name);
}

QAction *FrmMain::addCommand(QMenu *menu, const QString &name, const QString &caption,
                             void (FrmMain::*slot)())
{
    return addCommand(menu, name, caption, [this, slot] { (this->*slot)(); });
}

QAction *FrmMain::addCommand(QMenu *menu, const QString &name, const QString &caption,
                             std::function<void()> handler)
{
    auto *action = menu->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    m_menuActions.insert(name, action);
    return action;
}

void FrmMain::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    m_menus.insert(QStringLiteral("mnuFile"), file);
    addCommand(file, QStringLiteral("mnuOpen"), QStringLiteral("開く(&O)"), &FrmMain::OpenCommand);
    addCommand(file, QStringLiteral("mnuSave"), QStringLiteral("保存(&S)"), &FrmMain::SaveCommand);
    file->addSeparator();
    addCommand(file, QStringLiteral("mnuSend"), QStringLiteral("画像転送(&T)"), &FrmMain::PicTran);
    addCommand(file, QStringLiteral("mnuFileTran"), QStringLiteral("ﾌｧｲﾙ転送(&R)"), &FrmMain::FileTran);
    addCommand(file, QStringLiteral("mnuMsgSend"), QStringLiteral("ﾒｯｾｰｼﾞ送信(&M)"), [this] {
        if (m_doors.LoadSendMsg)
            m_doors.LoadSendMsg();
    });
    file->addSeparator();
    QMenu *wall = file->addMenu(QStringLiteral("壁紙として保存(&W)"));
    m_menus.insert(QStringLiteral("mnuWall"), wall);
    addCommand(wall, QStringLiteral("mnuWallCenter"), QStringLiteral("中央に表示(&C)"), [this] {
        if (m_doors.SetWallpaper && HasPicture())
            m_doors.SetWallpaper(m_picture, 0);
    });
    addCommand(wall, QStringLiteral("mnuWallTile"), QStringLiteral("並べて表示(&T)"), [this] {
        if (m_doors.SetWallpaper && HasPicture())
            m_doors.SetWallpaper(m_picture, 1);
    });
    addCommand(file, QStringLiteral("mnuDTopImg"), QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟに貼る(&D)"), [this] {
        if (m_doors.PasteOnDesktop && HasPicture())
            m_doors.PasteOnDesktop(m_picture);
    });
    file->addSeparator();
    addCommand(file, QStringLiteral("mnuPrint"), QStringLiteral("印刷(&P)"), [this] {
        if (m_doors.PrintOutput && HasPicture())
            m_doors.PrintOutput(m_picture);
    });
    file->addSeparator();
    addCommand(file, QStringLiteral("mnuClose"), QStringLiteral("閉じる(&C)"), [this] { close(); });

    QMenu *edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    m_menus.insert(QStringLiteral("mnuEdit"), edit);
    addCommand(edit, QStringLiteral("mnuCut"), QStringLiteral("切り取り(&T)"), &FrmMain::Cut);
    addCommand(edit, QStringLiteral("mnuCopy"), QStringLiteral("ｺﾋﾟｰ(&C)"), &FrmMain::Copy);
    addCommand(edit, QStringLiteral("mnuPest"), QStringLiteral("張り付け(&P)"), &FrmMain::Paste);
    edit->addSeparator();
    QMenu *capture = edit->addMenu(QStringLiteral("ｷｬﾌﾟﾁｬ(&C)"));
    m_menus.insert(QStringLiteral("mnuCapture"), capture);
    const QStringList captions = CaptureMath::CaptureModeCaptions();
    for (int mode = 0; mode < captions.size(); ++mode) {
        addCommand(capture, QStringLiteral("mnuCaptureItem%1").arg(mode), captions[mode],
                   [this, mode] { GetCaptureItem(mode); });
    }
    capture->addSeparator();
    addCommand(capture, QStringLiteral("mnuClear"), QStringLiteral("ｸﾘｱ(&C)"), &FrmMain::Clear);

    QMenu *tool = menuBar()->addMenu(QStringLiteral("ﾂｰﾙ(&T)"));
    m_menus.insert(QStringLiteral("mnuTool"), tool);
    addCommand(tool, QStringLiteral("mnuAdrEdit"), QStringLiteral("ｱﾄﾞﾚｽ帳(&N)"), [this] {
        if (m_doors.OpenAddressBook)
            m_doors.OpenAddressBook();
    });
    addCommand(tool, QStringLiteral("mnuPaint"), QStringLiteral("画像編集ﾂｰﾙを開く(&L)"),
               &FrmMain::OpenPaintProgram);
    tool->addSeparator();
    addCommand(tool, QStringLiteral("mnuMsgLogShow"), QStringLiteral("ﾒｯｾｰｼﾞﾛｸﾞを開く(&M)"),
               &FrmMain::OpenMessageLog);
    addCommand(tool, QStringLiteral("mnuFileTranFolOpen"), QStringLiteral("ﾌｧｲﾙ受信ﾌｫﾙﾀﾞを開く(&I)"),
               &FrmMain::OpenReceivedFolder);

    QMenu *view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    m_menus.insert(QStringLiteral("mnuView"), view);
    QMenu *back = view->addMenu(QStringLiteral("背景色(&C)"));
    m_menus.insert(QStringLiteral("mnuBackColor"), back);
    addCommand(back, QStringLiteral("mnuBackColorSet"), QStringLiteral("設定(&S)"),
               &FrmMain::ChooseBackground);
    addCommand(back, QStringLiteral("mnuBackColorDefault"), QStringLiteral("規定の色(&D)"),
               &FrmMain::DefaultBackground);

    QMenu *option = menuBar()->addMenu(QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"));
    m_menus.insert(QStringLiteral("mnuOption"), option);
    addCommand(option, QStringLiteral("mnuOpt"), QStringLiteral("動作環境の設定(&E)"), [this] {
        if (m_doors.OpenOptions)
            m_doors.OpenOptions();
    });
    addCommand(option, QStringLiteral("mnuKeySet"), QStringLiteral("ﾎｯﾄｷｰの設定(&K)"), [this] {
        if (m_doors.OpenHotkeys)
            m_doors.OpenHotkeys();
    });
    option->addSeparator();
    addCommand(option, QStringLiteral("mnuToolbarEdit"), QStringLiteral("ﾂｰﾙﾊﾞｰの編集(&T)"),
               &FrmMain::EditToolbar);

    QMenu *help = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    m_menus.insert(QStringLiteral("mnuHelp"), help);
    addCommand(help, QStringLiteral("mnuHelpContents"), QStringLiteral("目次(&C)"), &FrmMain::ShowHelp);
    help->addSeparator();
    addCommand(help, QStringLiteral("mnuAbout"), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), &FrmMain::ShowAbout);

    for (QMenu *menu : std::as_const(m_menus))
        connect(menu, &QMenu::aboutToShow, this, &FrmMain::updateMenus);
}

void FrmMain::buildPopup()
{
    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("mnuPopUp"));
    auto sub = [this](const QString &name, const QString &caption) {
        QMenu *menu = m_popup->addMenu(caption);
        menu->menuAction()->setObjectName(name);
        m_menus.insert(name, menu);
        return menu;
    };
    QMenu *file = sub(QStringLiteral("mnuPFile"), QStringLiteral("ﾌｧｲﾙ(&F)"));
    file->addAction(m_menuActions.value(QStringLiteral("mnuOpen")));
    file->addAction(m_menuActions.value(QStringLiteral("mnuSave")));
    file->addAction(m_menuActions.value(QStringLiteral("mnuPrint")));
    QMenu *edit = sub(QStringLiteral("mnuPEdit"), QStringLiteral("編集(&E)"));
    for (const char *name : {"mnuCut", "mnuCopy", "mnuPest"})
        edit->addAction(m_menuActions.value(QLatin1String(name)));
    QMenu *capture = sub(QStringLiteral("mnuPCapture"), QStringLiteral("ｷｬﾌﾟﾁｬ(&C)"));
    for (int mode = 0; mode < 5; ++mode)
        capture->addAction(m_menuActions.value(QStringLiteral("mnuCaptureItem%1").arg(mode)));
    m_popup->addAction(m_menuActions.value(QStringLiteral("mnuClear")));
    m_popup->addSeparator();
    m_popup->addAction(m_menuActions.value(QStringLiteral("mnuSend")));
    m_popup->addAction(m_menuActions.value(QStringLiteral("mnuFileTran")));
    m_popupCancel = sub(QStringLiteral("mnuPSendCan"), QStringLiteral("ｷｬﾝｾﾙ"));
    for (int i = 0; i < kCancelItems; ++i) {
        QAction *item = m_popupCancel->addAction(QString());
        item->setObjectName(QStringLiteral("mnuPCan%1").arg(i));
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, item] { CancelJob(item->text()); });
    }
    m_popup->addAction(m_menuActions.value(QStringLiteral("mnuMsgSend")));
    m_popup->addSeparator();
    QMenu *wall = sub(QStringLiteral("mnuPWall"), QStringLiteral("壁紙として保存(&W)"));
    wall->addAction(m_menuActions.value(QStringLiteral("mnuWallCenter")));
    wall->addAction(m_menuActions.value(QStringLiteral("mnuWallTile")));
    m_popup->addAction(m_menuActions.value(QStringLiteral("mnuDTopImg")));
    m_popup->addSeparator();
    QMenu *tool = sub(QStringLiteral("mnuPTool"), QStringLiteral("ﾂｰﾙ(&T)"));
    for (const char *name : {"mnuAdrEdit", "mnuPaint", "mnuMsgLogShow", "mnuFileTranFolOpen"})
        tool->addAction(m_menuActions.value(QLatin1String(name)));
    QMenu *option = sub(QStringLiteral("mnuPOption"), QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"));
    option->addAction(m_menuActions.value(QStringLiteral("mnuOpt")));
    option->addAction(m_menuActions.value(QStringLiteral("mnuToolbarEdit")));
    m_popup->addAction(m_menuActions.value(QStringLiteral("mnuKeySet")));
    m_popup->addSeparator();
    auto *hide = m_popup->addAction(QStringLiteral("非表示(&H)"));
    hide->setObjectName(QStringLiteral("mnuPHide"));
    connect(hide, &QAction::triggered, this, &QWidget::hide);
    m_menuActions.insert(hide->objectName(), hide);
    connect(m_popup, &QMenu::aboutToShow, this, &FrmMain::preparePopup);
}

QStringList FrmMain::RunningJobCaptions() const
{
    QStringList captions;
    const TransferSender &sender = m_engine.sender();
    for (int slot = 0; slot < kSendJobSlots && captions.size() < kCancelItems; ++slot) {
        const SendJob &job = sender.job(slot);
        if (!job.inUse)
            continue;
        captions << (job.isFile() ? job.itemName + QStringLiteral(" : ") + job.resultName : job.resultName);
    }
    return captions;
}

void FrmMain::CancelJob(const QString &caption)
{
    TransferSender &sender = m_engine.sender();
    for (int slot = 0; slot < kSendJobSlots; ++slot) {
        const SendJob &job = sender.job(slot);
        if (!job.inUse)
            continue;
        const QString own =
            job.isFile() ? job.itemName + QStringLiteral(" : ") + job.resultName : job.resultName;
        if (own == caption) {
            sender.CancelSendJob(slot);
            return;
        }
    }
}

void FrmMain::preparePopup()
{
    updateMenus();
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

bool FrmMain::positionEnabled(int position) const
{
    const bool picture = HasPicture() && !m_picture.isNull();
    const bool network = m_ctx.NetworkReady;
    switch (position) {
    case 10: // CaptClear: an empty picture can be cleared as well
        return HasPicture();
    case 2:  // FileSave
    case 16: // ClipCut
    case 17: // ClipCopy
        return picture;
    case 3: // Print
        return picture && bool(m_doors.PrintOutput);
    case 12: // PicTran
        return network && picture && bool(m_doors.LoadSendAddr);
    case 13: // MessTran
        return network && bool(m_doors.LoadSendMsg);
    case 14: // FileTran
        return network && bool(m_doors.LoadSendAddr);
    case 18: // ClipPest
        return clipboardHasPicture();
    case 20: // WallCenter
    case 21: // WallTile
        return picture && bool(m_doors.SetWallpaper);
    case 23: // AddrBook
        return bool(m_doors.OpenAddressBook);
    case 24: // Paint
        return !m_ctx.settings.PicEditApp.isEmpty() && picture;
    case 26: // Config
        return bool(m_doors.OpenOptions);
    default:
        return true;
    }
}

void FrmMain::SetToolbar()
{
    for (auto it = m_toolActions.cbegin(); it != m_toolActions.cend(); ++it)
        it.value()->setEnabled(positionEnabled(it.key()));
    updateMenus();
}

void FrmMain::updateMenus()
{
    auto set = [this](const char *name, bool on) {
        if (QAction *action = m_menuActions.value(QLatin1String(name)))
            action->setEnabled(on);
    };
    auto setMenu = [this](const char *name, bool on) {
        if (QMenu *menu = m_menus.value(QLatin1String(name)))
            menu->menuAction()->setEnabled(on);
    };
    const bool picture = HasPicture() && !m_picture.isNull();
    set("mnuSave", positionEnabled(2));
    set("mnuPrint", positionEnabled(3));
    set("mnuClear", positionEnabled(10));
    set("mnuSend", positionEnabled(12));
    set("mnuMsgSend", positionEnabled(13));
    set("mnuFileTran", positionEnabled(14));
    set("mnuCut", positionEnabled(16));
    set("mnuCopy", positionEnabled(17));
    const bool paste = positionEnabled(18);
    set("mnuPest", paste);
    set("mnuWallCenter", positionEnabled(20));
    set("mnuWallTile", positionEnabled(21));
    setMenu("mnuWall", positionEnabled(20));
    setMenu("mnuPWall", positionEnabled(20));
    set("mnuDTopImg", picture && bool(m_doors.PasteOnDesktop));
    set("mnuAdrEdit", positionEnabled(23));
    set("mnuPaint", positionEnabled(24));
    set("mnuOpt", positionEnabled(26));
    set("mnuKeySet", bool(m_doors.OpenHotkeys));
    setMenu("mnuPEdit", picture || paste);
}

void FrmMain::onToolbarTriggered(QAction *action)
{
    const int position = action->data().toInt();
    const ToolButtonDef *def = ToolbarLayout::ButtonAt(position);
    if (!def || def->isSeparator() || !positionEnabled(position))
        return;
    const QString key = QString::fromLatin1(def->key);
    if (key.startsWith(QLatin1String("Capt")) && key != QLatin1String("CaptClear")) {
        GetCaptureItem(position - ToolbarLayout::kFirstCapturePosition);
    } else if (key == QLatin1String("FileOpen")) {
        OpenCommand();
    } else if (key == QLatin1String("FileSave")) {
        SaveCommand();
    } else if (key == QLatin1String("Print")) {
        m_menuActions.value(QStringLiteral("mnuPrint"))->trigger();
    } else if (key == QLatin1String("CaptClear")) {
        Clear();
    } else if (key == QLatin1String("PicTran")) {
        PicTran();
    } else if (key == QLatin1String("MessTran")) {
        m_doors.LoadSendMsg();
    } else if (key == QLatin1String("FileTran")) {
        FileTran();
    } else if (key == QLatin1String("ClipCut")) {
        Cut();
    } else if (key == QLatin1String("ClipCopy")) {
        Copy();
    } else if (key == QLatin1String("ClipPest")) {
        Paste();
    } else if (key == QLatin1String("WallCenter")) {
        m_doors.SetWallpaper(m_picture, 0);
    } else if (key == QLatin1String("WallTile")) {
        m_doors.SetWallpaper(m_picture, 1);
    } else if (key == QLatin1String("AddrBook")) {
        m_doors.OpenAddressBook();
    } else if (key == QLatin1String("Paint")) {
        OpenPaintProgram();
    } else if (key == QLatin1String("Config")) {
        m_doors.OpenOptions();
    } else if (key == QLatin1String("Help")) {
        ShowHelp();
    }
}

void FrmMain::EditToolbar()
{
    FrmToolbarEdit dialog(m_toolbarLayout, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    applyToolbarLayout(dialog.layout());
    ToolbarLayout::Save(m_toolbarLayout);
}

// ---- picture surface ---------------------------------------------------------------

void FrmMain::setPicture(const QImage &picture, const QString &tag)
{
    m_picture = picture;
    m_tag = tag;
    static_cast<PicDrawWidget *>(m_picDraw)->setImage(picture);
    layoutPicture();
}

void FrmMain::ClearPicDraw(bool viewportToo)
{
    if (viewportToo)
        setBackgroundColor(m_background);
    m_picture = QImage();
    m_tag.clear();
    static_cast<PicDrawWidget *>(m_picDraw)->setImage(QImage());
    layoutPicture();
}

void FrmMain::layoutPicture()
{
    if (isMinimized())
        return;
    m_picDraw->move(0, 0);
    m_frame->horizontalScrollBar()->setValue(0);
    m_frame->verticalScrollBar()->setValue(0);
}

QColor FrmMain::backgroundColor() const
{
    return m_frame->viewport()->palette().color(QPalette::Window);
}

void FrmMain::setBackgroundColor(const QColor &color)
{
    QPalette pal = m_frame->viewport()->palette();
    pal.setColor(QPalette::Window, color);
    m_frame->viewport()->setPalette(pal);
    m_frame->viewport()->setAutoFillBackground(true);
}

void FrmMain::ChooseBackground()
{
    const QColor chosen = QColorDialog::getColor(backgroundColor(), this, QStringLiteral("色の設定"));
    if (chosen.isValid())
        setBackgroundColor(chosen);
}

void FrmMain::DefaultBackground()
{
    setBackgroundColor(QApplication::palette().color(QPalette::Button));
}

void FrmMain::setStatusText(int panel, const QString &text)
{
    (panel == 1 ? m_panel1 : m_panel2)->setText(text);
}

QString FrmMain::statusText(int panel) const
{
    return (panel == 1 ? m_panel1 : m_panel2)->text();
}

void FrmMain::notice(const QString &text)
{
    m_engine.host().ShowMessageBox(text, MsgBox::OkOnly);
}

// ---- capture -------------------------------------------------------------------------

void FrmMain::GetCaptureItem(int mode)
{
    m_capture->GetCaptureItem(mode);
}

void FrmMain::CaptHotKey(int index)
{
    m_capture->CaptHotKey(index);
}

void FrmMain::AutoSaveCapture()
{
    // A failed window capture leaves an empty picture; there is nothing to save.
    if (m_picture.isNull())
        return;
    m_files->AutoSaveCapture(m_picture);
}

void FrmMain::AutoTranCapture()
{
    if (m_ctx.settings.CaptAutoTran != 1 || m_picture.isNull())
        return;
    const AddressStore &store = m_engine.addresses();
    if (store.isEmpty())
        return;
    QDir().mkpath(m_ctx.SendTempDir);
    const QString folder = withSlash(m_ctx.SendTempDir);
    // Every target gets its own job number and so its own bitmap and archive: a job
    // deletes its files when it ends, and the jobs to different peers run side by side.
    const std::vector<AddressEntry> targets = [&store] {
        std::vector<AddressEntry> found;
        for (const AddressEntry &entry : store.rows()) {
            if (entry.isAvail() && entry.isAutoTransferTarget())
                found.push_back(entry);
        }
        return found;
    }();
    for (const AddressEntry &entry : targets) {
        const QString stem =
            QStringLiteral("CAPT") + m_ctx.LocalIpHex + QString::number(m_engine.sender().NextJobNumber());
        QString error;
        if (!ImageFiles::WritePicture(m_picture, folder + stem + QStringLiteral(".BMP"), 0, 0, &error)) {
            emit m_engine.events().sendResultAdded(entry.EntryName, QStringLiteral("I"), 1,
                                          QStringLiteral("ZorvinSt=001 FrmMain C=0 ") + error);
            continue;
        }
        SendRequest request;
        request.destination = entry.EntryAddress;
        request.resultName = entry.EntryName;
        request.kind = QLatin1Char('I');
        request.folder = folder;
        request.itemName = stem + QStringLiteral(".BMP");
        request.archiveName = stem + QStringLiteral(".LZH");
        if (m_engine.QueueSendJob(request) < 0) {
            QFile::remove(folder + request.itemName);
            emit m_engine.events().sendResultAdded(entry.EntryName, QStringLiteral("I"), 1,
                                          QString::fromUtf8(kProductName) + QStringLiteral("のリソース不足"));
            return;
        }
        setStatusText(2, QStringLiteral("自動転送中"));
    }
}

// ---- clipboard -----------------------------------------------------------------------

bool FrmMain::clipboardHasPicture() const
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasImage();
}

void FrmMain::ChangeClipBoard()
{
    SetToolbar();
}

void FrmMain::Copy()
{
    if (m_picture.isNull())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(m_picture);
    SetToolbar();
}

void FrmMain::Cut()
{
    Copy();
    Clear();
    setStatusText(1, QString());
    SetToolbar();
}

void FrmMain::Paste()
{
    const QImage image = QGuiApplication::clipboard()->image();
    if (image.isNull()) {
        SetToolbar();
        return;
    }
    m_hasPicture = true;
    setPicture(image, QString());
    setStatusText(1, CaptureMath::PictureFileStatus(image.width(), image.height()));
    SetToolbar();
}

void FrmMain::Clear()
{
    ClearPicDraw(true);
    m_hasPicture = false;
    setStatusText(1, QString());
    SetToolbar();
}

// ---- files -----------------------------------------------------------------------------

void FrmMain::OpenCommand()
{
    const QString path = m_files->OpenPictureFile(this);
    if (!path.isEmpty() && LoadPictureFile(path))
        m_files->NoteOpened(path);
    SetToolbar();
}

void FrmMain::SaveCommand()
{
    if (!HasPicture() || m_picture.isNull())
        return;
    m_files->SavePictureAs(this, m_picture);
}

bool FrmMain::LoadPictureFile(const QString &path)
{
    const ImageFiles::Loaded loaded = ImageFiles::LoadPictureFile(path);
    if (loaded.image.isNull()) {
        // The current picture stays: a file that cannot be shown never costs the user
        // the picture on screen.
        notice(QString::fromUtf8(kUnsupportedFormat));
        return false;
    }
    setPicture(loaded.image, path);
    m_hasPicture = true;
    setStatusText(1, CaptureMath::PictureFileStatus(loaded.image.width(), loaded.image.height()));
    SetToolbar();
    return true;
}

void FrmMain::DropItems(const QMimeData &data)
{
    QStringList paths;
    if (data.hasUrls()) {
        for (const QUrl &url : data.urls()) {
            if (url.isLocalFile())
                paths << url.toLocalFile();
        }
    }
    if (paths.isEmpty()) {
        notice(QString::fromUtf8(kUnsupportedFormat));
        return;
    }
    const bool canSend = m_ctx.NetworkReady && bool(m_doors.LoadSendAddr);
    if (paths.size() == 1) {
        const QString path = paths.front();
        if (QFileInfo(path).isDir()) {
            notice(kFolderNotice);
            return;
        }
        const ImageFiles::Loaded loaded = ImageFiles::LoadPictureFile(path);
        if (!loaded.image.isNull()) {
            setPicture(loaded.image, path);
            m_hasPicture = true;
            setStatusText(1, CaptureMath::PictureFileStatus(loaded.image.width(), loaded.image.height()));
            SetToolbar();
        } else if (loaded.notPicture && !loaded.refusedGif && canSend) {
            m_doors.LoadSendAddr(2, QImage(), path);
        } else {
            notice(QString::fromUtf8(kUnsupportedFormat));
        }
        return;
    }
    if (!canSend) {
        notice(kSeveralFilesNotice);
        return;
    }
    // The shape of the multi-selection file dialog's result: the folder, then a NUL
    // before every name.
    QString list = withSlash(QFileInfo(paths.front()).absolutePath());
    for (const QString &path : std::as_const(paths))
        list += QChar(u'\0') + QFileInfo(path).fileName();
    m_doors.LoadSendAddr(2, QImage(), list);
}

bool FrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_frame->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            // The notices are modal; the drag source gets its answer first.
            const QMimeData *mime = drop->mimeData();
            auto copy = std::make_shared<QMimeData>();
            for (const QString &format : mime->formats())
                copy->setData(format, mime->data(format));
            if (mime->hasUrls())
                copy->setUrls(mime->urls());
            QMetaObject::invokeMethod(
                this, [this, copy] { DropItems(*copy); }, Qt::QueuedConnection);
            return true;
        }
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- send --------------------------------------------------------------------------

void FrmMain::PicTran()
{
    if (!positionEnabled(12))
        return;
    m_doors.LoadSendAddr(0, m_picture, m_tag);
}

void FrmMain::FileTran()
{
    if (!positionEnabled(14))
        return;
    const QString initial = m_lastFileTranDir.isEmpty() ? m_ctx.ProgramDir : m_lastFileTranDir;
    const QString result = CMDFileDialog(1, this, QStringLiteral("転送ファイルの選択"),
                                         QStringLiteral("ﾌｧｲﾙ(*.*)|*.*|"), initial);
    if (result.isEmpty())
        return;
    const qsizetype nul = result.indexOf(QChar(u'\0'));
    m_lastFileTranDir = nul >= 0 ? withSlash(result.left(nul)) : withSlash(QFileInfo(result).absolutePath());
    m_doors.LoadSendAddr(2, QImage(), result);
}

// ---- tools -----------------------------------------------------------------------------

void FrmMain::OpenPaintProgram()
{
    if (!positionEnabled(24))
        return;
    const QString program = m_ctx.settings.PicEditApp;
    QStringList arguments;
    if (m_ctx.settings.PicEditAppInf == 1) {
        Copy();
    } else {
        QDir().mkpath(m_ctx.WorkDir);
        const QString path = withSlash(m_ctx.WorkDir) + QStringLiteral("zorvnimg.bmp");
        QString error;
        if (!ImageFiles::WritePicture(m_picture, path, m_ctx.settings.JpegComp, m_ctx.settings.ProgJpeg,
                                      &error)) {
            m_engine.host().ShowMessageBox(QStringLiteral("保存出来ません \r") + error, MsgBox::Information);
            return;
        }
        arguments << QDir::toNativeSeparators(path);
    }
    if (!QProcess::startDetached(program, arguments))
        m_engine.host().ShowMessageBox(QStringLiteral("「%1」を起動できません。").arg(program),
                                       MsgBox::Exclamation);
}

void FrmMain::OpenMessageLog()
{
    m_engine.msgLog().ShowMsgLog();
}

void FrmMain::OpenReceivedFolder()
{
    const QString folder = m_ctx.settings.RecvFileSavePlace;
    if (!folder.isEmpty())
        emit m_engine.events().folderOpenRequested(folder);
}

void FrmMain::ShowHelp()
{
    cCommonDlg dialog;
    dialog.setForm(this);
    dialog.setHelpFile(QStringLiteral("ZORVIN.HLP"));
    dialog.setHelpCommand(cCommonDlg::kHelpContents);
    dialog.ShowHelp();
}

void FrmMain::ShowAbout()
{
    if (m_doors.ShowAbout) {
        m_doors.ShowAbout();
        return;
    }
    QMessageBox::about(
        this, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"),
        QStringLiteral("%1  Version %2.%3\n\n画像の書き出し (JPEG / PNG / BMP): 組み込み\nLZH 圧縮: %4")
            .arg(QString::fromUtf8(kProductName))
            .arg(kVersionMajor)
            .arg(kVersionMinor)
            .arg(m_ctx.ArchiverReady ? QStringLiteral("利用できます") : QStringLiteral("利用できません")));
}

// ---- window events -------------------------------------------------------------------

void FrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_firstShow) {
        m_firstShow = false;
        applyToolbarLayout(ToolbarLayout::Load());
    }
}

void FrmMain::contextMenuEvent(QContextMenuEvent *event)
{
    QWidget *child = childAt(event->pos());
    for (QWidget *w = child; w; w = w->parentWidget()) {
        if (w == m_toolbar || w == menuBar() || w == statusBar())
            return;
    }
    preparePopup();
    m_popup->popup(event->globalPos());
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    m_capture->Abandon();
    disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
    ClearPicDraw(true);
    QMainWindow::closeEvent(event);
}
