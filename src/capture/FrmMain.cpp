#include "capture/FrmMain.h"

#include "address/SendJobs.h"
#include "capture/CaptureEngine.h"
#include "capture/CaptureMath.h"
#include "capture/FrmToolbarEdit.h"
#include "pictures/ImageFiles.h"
#include "pictures/PaintProgram.h"
#include "pictures/PicDraw.h"
#include "ui/ToolbarIcons.h"
#include "ui/ToolbarLayout.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"
#include "platform/ScreenPlatform.h"
#include "ui/WindowKeys.h"
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
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Window geometry in twips, 15 to the pixel.
constexpr int kTwipsPerPixel = 15;
constexpr int kInitialWidthTwips = 9600;
constexpr int kInitialHeightTwips = 7200;
// The viewport sits 2 pixels in from the window's edges and below the toolbar.
constexpr int kViewportMargin = 2;

// The pop-up's cancel list holds at most this many running jobs.
constexpr int kCancelItems = 30;

// The pop-up names a file job by its file first.
QString popupCancelCaption(const SendJob &job)
{
    return job.isFile() ? job.itemName + QStringLiteral(" : ") + job.resultName : job.resultName;
}

const QString kFolderNotice = QStringLiteral("フォルダは読み込みできません。");
const QString kSeveralFilesNotice = QStringLiteral("複数ファイルの読み込みはできません。");

} // namespace

FrmMain::FrmMain(ModZorvin &ctx, NetEngine &engine, Commands &commands, QWidget *parent)
    : QMainWindow(parent), m_ctx(ctx), m_engine(engine), m_commands(commands),
      m_platform(ScreenPlatform::create(ctx.PlatformBackend)),
      m_files(std::make_unique<ImageFiles>(ctx, engine.host(), &engine))
{
    m_capture = std::make_unique<CaptureEngine>(*this, ctx, *m_platform);
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("FrmMain"));
    // The options change which toolbar buttons show and how.
    connect(&commands, &Commands::settingsChanged, this, &FrmMain::SetToolbar);
    // The resident program's main window: Esc must not hide it by accident.
    setProperty(kKeepsOpenOnEscape, true);
    setWindowTitle(QString::fromUtf8(kProductName));
    setWindowIcon(QApplication::windowIcon().isNull() ? ToolbarIcons::programIcon()
                                                      : QApplication::windowIcon());

    PicDrawWidget *picDraw = nullptr;
    m_frame = PicFrame::make(this, picDraw);
    m_picDraw = picDraw;
    m_picDraw->setFocusPolicy(Qt::StrongFocus);
    m_frame->viewport()->setAcceptDrops(true);
    m_frame->viewport()->installEventFilter(this);
    m_background = palette().color(QPalette::Window);
    setBackgroundColor(m_background);
    for (QScrollBar *bar : {m_frame->horizontalScrollBar(), m_frame->verticalScrollBar()}) {
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
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("StBarNotice"));
    m_notice->setContentsMargins(4, 0, 4, 0);
    m_notice->hide();
    statusBar()->addPermanentWidget(m_notice);
    m_files->setStatusPanel([this](const QString &text) { setStatusText(2, text); });

    // The menus first: the toolbar's layout applies the rules to their groups as well.
    buildMenus();
    buildPopup();
    buildToolbar();

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
    m_toolbar = PicFrame::addToolbar(*this);
    applyToolbarLayout(ToolbarLayout::DefaultLayout());
}

void FrmMain::applyToolbarLayout(const QStringList &layout)
{
    m_toolbarLayout = ToolbarLayout::Sanitized(layout);
    m_toolbar->clear();
    for (const QString &key : m_toolbarLayout) {
        if (key == QLatin1String(ToolbarLayout::kSeparator))
            m_toolbar->addSeparator();
        else
            m_toolbar->addAction(m_commands.action(key));
    }
    SetToolbar();
}

QAction *FrmMain::toolbarAction(const QString &key) const
{
    return m_toolbarLayout.contains(key) ? m_commands.action(key) : nullptr;
}

QAction *FrmMain::menuAction(const QString &name) const
{
    return m_commands.action(name);
}

QMenu *FrmMain::addMenu(QMenu *menu, const QString &name, const QString &caption)
{
    QMenu *sub = menu ? menu->addMenu(caption) : menuBar()->addMenu(caption);
    sub->menuAction()->setObjectName(name);
    InstallMenuKeys(sub);
    m_menus.insert(name, sub);
    // Every group applies the rules as it opens.
    connect(sub, &QMenu::aboutToShow, this, &FrmMain::SetToolbar);
    return sub;
}

void FrmMain::addCommands(QMenu *menu, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (name[0] == '-')
            menu->addSeparator();
        else
            menu->addAction(m_commands.action(QLatin1String(name)));
    }
}

void FrmMain::buildMenus()
{
    QMenu *file = addMenu(nullptr, QStringLiteral("mnuFile"), QStringLiteral("ﾌｧｲﾙ(&F)"));
    addCommands(file, {"mnuOpen", "mnuSave", "-", "mnuSend", "mnuFileTran", "mnuMsgSend", "-"});
    QMenu *wall = addMenu(file, QStringLiteral("mnuWall"), QStringLiteral("壁紙として保存(&W)"));
    addCommands(wall, {"mnuWallCenter", "mnuWallTile"});
    addCommands(file, {"mnuDTopImg", "-", "mnuPrint", "-", "mnuClose"});

    QMenu *edit = addMenu(nullptr, QStringLiteral("mnuEdit"), QStringLiteral("編集(&E)"));
    addCommands(edit, {"mnuCut", "mnuCopy", "mnuPest", "-"});
    QMenu *capture = addMenu(edit, QStringLiteral("mnuCapture"), QStringLiteral("ｷｬﾌﾟﾁｬ(&C)"));
    addCommands(capture, {"mnuCaptureItem0", "mnuCaptureItem1", "mnuCaptureItem2", "mnuCaptureItem3",
                          "mnuCaptureItem4", "-", "mnuClear"});

    QMenu *tool = addMenu(nullptr, QStringLiteral("mnuTool"), QStringLiteral("ﾂｰﾙ(&T)"));
    addCommands(tool,
                {"mnuAdrEdit", "mnuPaint", "-", "mnuMsgLogShow", "mnuFileTranFolOpen", "-", "mnuNetDiag"});

    QMenu *view = addMenu(nullptr, QStringLiteral("mnuView"), QStringLiteral("表示(&V)"));
    QMenu *back = addMenu(view, QStringLiteral("mnuBackColor"), QStringLiteral("背景色(&C)"));
    addCommands(back, {"mnuBackColorSet", "mnuBackColorDefault"});

    QMenu *option = addMenu(nullptr, QStringLiteral("mnuOption"), QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"));
    addCommands(option, {"mnuOpt", "mnuKeySet", "-", "mnuToolbarEdit"});

    QMenu *help = addMenu(nullptr, QStringLiteral("mnuHelp"), QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    addCommands(help, {"mnuHelpContents", "-", "mnuAbout"});
}

void FrmMain::buildPopup()
{
    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("mnuPopUp"));
    InstallMenuKeys(m_popup);
    addCommands(addMenu(m_popup, QStringLiteral("mnuPFile"), QStringLiteral("ﾌｧｲﾙ(&F)")),
                {"mnuOpen", "mnuSave", "mnuPrint"});
    addCommands(addMenu(m_popup, QStringLiteral("mnuPEdit"), QStringLiteral("編集(&E)")),
                {"mnuCut", "mnuCopy", "mnuPest"});
    addCommands(
        addMenu(m_popup, QStringLiteral("mnuPCapture"), QStringLiteral("ｷｬﾌﾟﾁｬ(&C)")),
        {"mnuCaptureItem0", "mnuCaptureItem1", "mnuCaptureItem2", "mnuCaptureItem3", "mnuCaptureItem4"});
    addCommands(m_popup, {"mnuClear", "-", "mnuSend", "mnuFileTran"});
    m_popupCancel = addMenu(m_popup, QStringLiteral("mnuPSendCan"), QStringLiteral("ｷｬﾝｾﾙ"));
    for (int i = 0; i < kCancelItems; ++i) {
        QAction *item = m_popupCancel->addAction(QString());
        item->setObjectName(QStringLiteral("mnuPCan%1").arg(i));
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, item] { CancelJob(item->text()); });
    }
    addCommands(m_popup, {"mnuMsgSend", "-"});
    addCommands(addMenu(m_popup, QStringLiteral("mnuPWall"), QStringLiteral("壁紙として保存(&W)")),
                {"mnuWallCenter", "mnuWallTile"});
    addCommands(m_popup, {"mnuDTopImg", "-"});
    addCommands(addMenu(m_popup, QStringLiteral("mnuPTool"), QStringLiteral("ﾂｰﾙ(&T)")),
                {"mnuAdrEdit", "mnuPaint", "mnuMsgLogShow", "mnuFileTranFolOpen"});
    addCommands(addMenu(m_popup, QStringLiteral("mnuPOption"), QStringLiteral("ｵﾌﾟｼｮﾝ(&O)")),
                {"mnuOpt", "mnuToolbarEdit"});
    addCommands(m_popup, {"mnuKeySet", "-", "mnuPHide"});
    connect(m_popup, &QMenu::aboutToShow, this, &FrmMain::preparePopup);
}

QStringList FrmMain::RunningJobCaptions() const
{
    QStringList captions;
    const TransferSender &sender = m_engine.sender();
    for (int slot : sender.JobsInUse(kCancelItems))
        captions << popupCancelCaption(sender.job(slot));
    return captions;
}

void FrmMain::CancelJob(const QString &caption)
{
    TransferSender &sender = m_engine.sender();
    for (int slot : sender.JobsInUse(kSendJobSlots)) {
        if (popupCancelCaption(sender.job(slot)) == caption) {
            sender.CancelSendJob(slot);
            return;
        }
    }
}

void FrmMain::preparePopup()
{
    SetToolbar();
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

void FrmMain::SetToolbar()
{
    m_commands.refresh();
    updateSubMenus();
}

void FrmMain::updateSubMenus()
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
    m_pictureTime = QDateTime::currentDateTime();
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
    return PicFrame::background(*m_frame);
}

void FrmMain::setBackgroundColor(const QColor &color)
{
    PicFrame::setBackground(*m_frame, color);
}

void FrmMain::ChooseBackground()
{
    PicFrame::chooseBackground(*m_frame, this);
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

void FrmMain::setStatusNotice(const QString &text)
{
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

QString FrmMain::statusNotice() const
{
    return m_notice->text();
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

int FrmMain::AutoTranCapture()
{
    if (m_ctx.settings.CaptAutoTran != 1 || m_picture.isNull())
        return 0;
    const int queued = SendJobs(m_engine).AutoTranCapture(m_picture);
    if (queued > 0)
        setStatusText(2, QStringLiteral("自動転送中"));
    return queued;
}

// ---- clipboard -----------------------------------------------------------------------

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
    m_files->SavePictureAs(this, m_picture, QString(), ProposedSaveName());
}

QString FrmMain::ProposedSaveName() const
{
    if (!m_tag.isEmpty())
        return QFileInfo(m_tag).completeBaseName();
    return m_pictureTime.toString(QStringLiteral("yyyyMMdd-hhmmss"));
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
    const bool canSend = m_commands.canSend();
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
            m_commands.LoadSendAddr({2, QImage(), path});
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
    QString list = FolderPath::withSlash(QFileInfo(paths.front()).absolutePath());
    for (const QString &path : std::as_const(paths))
        list += QChar(u'\0') + QFileInfo(path).fileName();
    m_commands.LoadSendAddr({2, QImage(), list});
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
    if (m_commands.allows(QStringLiteral("mnuSend")))
        m_commands.LoadSendAddr({0, m_picture, m_tag});
}

void FrmMain::FileTran()
{
    if (!m_commands.allows(QStringLiteral("mnuFileTran")))
        return;
    const QString initial = m_lastFileTranDir.isEmpty() ? m_ctx.ProgramDir : m_lastFileTranDir;
    const QString result = CMDFileDialog(1, this, QStringLiteral("転送ファイルの選択"),
                                         QStringLiteral("ﾌｧｲﾙ(*.*)|*.*|"), initial);
    if (result.isEmpty())
        return;
    const qsizetype nul = result.indexOf(QChar(u'\0'));
    m_lastFileTranDir = nul >= 0 ? FolderPath::withSlash(result.left(nul))
                                 : FolderPath::withSlash(QFileInfo(result).absolutePath());
    m_commands.LoadSendAddr({2, QImage(), result});
}

// ---- tools -----------------------------------------------------------------------------

void FrmMain::OpenPaintProgram()
{
    if (!m_commands.allows(QStringLiteral("mnuPaint")))
        return;
    ::StartPaintProgram(m_ctx, m_engine.host(), m_picture, [this] { Copy(); });
}

void FrmMain::ShowHelp()
{
    cCommonDlg dialog;
    dialog.setForm(this);
    dialog.setHelpFile(QStringLiteral("ZORVIN.HLP"));
    dialog.setHelpCommand(cCommonDlg::kHelpContents);
    dialog.ShowHelp();
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
