#include "capture/FrmMain.h"

#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "capture/CaptureArrival.h"
#include "capture/CaptureEngine.h"
#include "capture/CaptureMath.h"
#include "capture/CaptureWindowMenus.h"
#include "capture/FrmToolbarEdit.h"
#include "capture/ViewportDrops.h"
#include "net/EngineHost.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"
#include "pictures/ImageFiles.h"
#include "pictures/PaintProgram.h"
#include "pictures/PicDraw.h"
#include "platform/ScreenPlatform.h"
#include "ui/Commands.h"
#include "ui/ModZorvinUi.h"
#include "ui/ToolbarIcons.h"
#include "ui/ToolbarLayout.h"
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

const QString kFolderNotice = QStringLiteral("フォルダは読み込みできません。");
const QString kSeveralFilesNotice = QStringLiteral("複数ファイルの読み込みはできません。");

} // namespace

FrmMain::FrmMain(ModZorvin &ctx, NetEngine &engine, Commands &commands, QWidget *parent)
    : QMainWindow(parent), m_ctx(ctx), m_engine(engine), m_commands(commands),
      m_platform(ScreenPlatform::create(ctx.PlatformBackend)),
      m_files(std::make_unique<ImageFiles>(ctx, engine.host(), &engine))
{
    m_capture =
        std::make_unique<CaptureEngine>(ctx, *m_platform, [this] { return CaptureArrival::factsOf(*this); });
    m_arrival = new CaptureArrival(*this, *m_capture, ctx, engine);
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
    new ViewportDrops(*m_frame->viewport(), [this](const QMimeData &data) { DropItems(data); });
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
    m_menus = new CaptureWindowMenus(*this, commands, engine);
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

void FrmMain::SetToolbar()
{
    m_menus->refresh();
}

QStringList FrmMain::RunningJobCaptions() const
{
    return m_menus->RunningJobCaptions();
}

void FrmMain::CancelJob(const QString &caption)
{
    m_menus->CancelJob(caption);
}

void FrmMain::preparePopup()
{
    m_menus->preparePopup();
}

QMenu *FrmMain::popupMenu() const
{
    return m_menus->popup();
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

SelectionHooks &FrmMain::selectionHooks()
{
    return m_capture->selectionHooks();
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
    popupMenu()->popup(event->globalPos());
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    m_capture->Abandon();
    disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
    ClearPicDraw(true);
    QMainWindow::closeEvent(event);
}
