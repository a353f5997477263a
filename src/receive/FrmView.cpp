#include "receive/FrmView.h"

#include "pictures/FrmDTopImg.h"
#include "pictures/ImageFiles.h"
#include "pictures/ModPrint.h"
#include "pictures/ModWall.h"
#include "pictures/PaintProgram.h"
#include "pictures/PicDraw.h"
#include "ui/ToolbarIcons.h"
#include "ui/ToolbarLayout.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "base/SettingsFile.h"
#include "base/SettingsTable.h"
#include "ui/WindowRegistry.h"
#include "net/MessageDelivery.h"
#include "net/NetEngine.h"
#include "password/FrmPWCheck.h"
#include "password/PasswordWindows.h"
#include "receive/ReceiveWindows.h"
#include "receive/ReceivedFiles.h"
#include "ui/Twips.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QFile>
#include <QImageReader>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolBar>

namespace {

const QString kOpenCaption = QStringLiteral("開く");

// The hidden-mode controls, in twips from the top of the window's inner area.
constexpr int kHideMsgTopTwips = 480;
constexpr int kHideTimeTopTwips = 960;
constexpr int kHideFromTopTwips = 1320;
constexpr int kOpenButtonTopTwips = 2520;
constexpr int kOpenButtonWidthTwips = 3600;
constexpr int kOpenButtonHeightTwips = 420;

// The smallest first size: the hidden-mode controls fit.
constexpr int kMinWidthTwips = 6300;
constexpr int kMinHeightTwips = 4200;

bool clipboardHasPicture()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasImage();
}

} // namespace

QImage FrmView::ReadPicture(const QString &path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.read();
}

FrmView::FrmView(ReceiveWindows &services, const ArrivedImage &image, const QImage &picture)
    : QMainWindow(nullptr), m_services(services), m_image(image)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("FrmView"));
    setWindowTitle(image.caption);
    setWindowIcon(QApplication::windowIcon().isNull() ? ToolbarIcons::programIcon()
                                                      : QApplication::windowIcon());

    m_pages = new QStackedWidget(this);
    m_frame = PicFrame::make(m_pages, m_picDraw);
    m_picDraw->installEventFilter(this);
    m_pages->addWidget(m_frame);
    buildHiddenPage();
    setCentralWidget(m_pages);

    buildCommands();
    buildMenus();
    buildToolbar();

    // The picture is read now: the engine may delete the file once the arrival returns.
    const QImage read = picture.isNull() ? ReadPicture(image.path) : picture;
    setPicture(read, read.isNull() ? QString() : image.path);

    // Big enough for the whole picture without scroll bars, where the screen allows.
    const int frame = 2 * m_frame->frameWidth();
    QSize size = m_picture.size() +
                 QSize(frame, frame + menuBar()->sizeHint().height() + m_toolbar->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size.expandedTo(QSize(twipsToPixels(kMinWidthTwips), twipsToPixels(kMinHeightTwips))));

    m_timer1.setSingleShot(true);
    connect(&m_timer1, &QTimer::timeout, this, &QWidget::close);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &FrmView::refreshCommands);
    if (QAction *shared = m_services.commands().action(QStringLiteral("mnuMsgSend")))
        connect(shared, &QAction::changed, this, &FrmView::refreshCommands);
    refreshCommands();
}

FrmView::~FrmView() = default;

// ---- building ------------------------------------------------------------------------

QAction *FrmView::addCommand(const char *name, const QString &caption, const char *toolbarKey,
                             void (FrmView::*method)())
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    if (toolbarKey) {
        const QString key = QLatin1String(toolbarKey);
        const QIcon icon = ToolbarIcons::forKey(key);
        if (!icon.isNull()) {
            action->setIcon(icon);
            action->setIconVisibleInMenu(false);
        }
        if (const ToolButtonDef *button = ToolbarLayout::ButtonByKey(key))
            action->setToolTip(QString::fromUtf8(button->tooltip));
        m_actions.insert(key, action);
    }
    m_actions.insert(QLatin1String(name), action);
    if (method)
        connect(action, &QAction::triggered, this, method);
    return action;
}

void FrmView::buildCommands()
{
    addCommand("mnuSave", QStringLiteral("保存(&S)"), "FileSave", &FrmView::Save)
        ->setShortcut(QKeySequence::Save);
    addCommand("mnuPrint", QStringLiteral("印刷(&P)"), "Print", &FrmView::Print)
        ->setShortcut(QKeySequence::Print);
    addCommand("mnuSend", QStringLiteral("画像転送(&T)"), "PicTran", &FrmView::PicTran);
    // The shared command: the message window's part makes it live.
    connect(addCommand("mnuMsgSend", QStringLiteral("ﾒｯｾｰｼﾞ送信(&M)"), "MessTran", nullptr),
            &QAction::triggered, this, [this] {
                if (QAction *shared = m_services.commands().action(QStringLiteral("mnuMsgSend")))
                    shared->trigger();
            });
    addCommand("mnuCut", QStringLiteral("切り取り(&C)"), "ClipCut", &FrmView::Cut)
        ->setShortcut(QKeySequence::Cut);
    addCommand("mnuCopy", QStringLiteral("ｺﾋﾟｰ(&C)"), "ClipCopy", &FrmView::Copy)
        ->setShortcut(QKeySequence::Copy);
    addCommand("mnuPest", QStringLiteral("貼り付け(&P)"), "ClipPest", &FrmView::Paste)
        ->setShortcut(QKeySequence::Paste);
    connect(addCommand("mnuWallCenter", QStringLiteral("中央に表示"), "WallCenter", nullptr),
            &QAction::triggered, this, [this] { Wallpaper(QStringLiteral("0")); });
    connect(addCommand("mnuWallTile", QStringLiteral("並べて表示"), "WallTile", nullptr), &QAction::triggered,
            this, [this] { Wallpaper(QStringLiteral("1")); });
    addCommand("mnuDTopImg", QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟに貼る(&D)"), nullptr, &FrmView::PinToDesktop);
    addCommand("mnuPaint", QStringLiteral("画像編集ﾂｰﾙを開く(&L)"), "Paint", &FrmView::OpenPaintProgram);
    QAction *pos = addCommand("PosSave", QStringLiteral("位置保存"), "PosSave", &FrmView::PosSave);
    pos->setToolTip(QStringLiteral("表示位置の保存"));
    addCommand("mnuBackColorSet", QStringLiteral("設定(&S)"), nullptr, &FrmView::ChooseBackground);
    addCommand("mnuBackColorDefault", QStringLiteral("規定の色(&D)"), nullptr, &FrmView::DefaultBackground);
    connect(addCommand("mnuClose", QStringLiteral("閉じる(&C)"), nullptr, nullptr), &QAction::triggered, this,
            &QWidget::close);
    for (QAction *action : std::as_const(m_actions))
        action->setShortcutContext(Qt::WindowShortcut);
}

void FrmView::buildMenus()
{
    const auto fill = [this](QMenu *menu, std::initializer_list<const char *> names) {
        for (const char *name : names) {
            if (name[0] == '-')
                menu->addSeparator();
            else
                menu->addAction(m_actions.value(QLatin1String(name)));
        }
        connect(menu, &QMenu::aboutToShow, this, &FrmView::refreshCommands);
    };
    const auto addFile = [&](QMenu *file) {
        fill(file, {"mnuSave", "-", "mnuSend", "mnuMsgSend", "-"});
        QMenu *wall = file->addMenu(QStringLiteral("壁紙として保存(&W)"));
        wall->menuAction()->setObjectName(QStringLiteral("mnuWall"));
        fill(wall, {"mnuWallCenter", "mnuWallTile"});
        fill(file, {"mnuDTopImg", "-", "mnuPrint", "-", "mnuClose"});
    };
    const auto addBack = [&](QMenu *view) {
        QMenu *back = view->addMenu(QStringLiteral("背景色(&C)"));
        back->menuAction()->setObjectName(QStringLiteral("mnuBackColor"));
        fill(back, {"mnuBackColorSet", "mnuBackColorDefault"});
    };

    QMenu *file = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    file->menuAction()->setObjectName(QStringLiteral("mnuFile"));
    addFile(file);
    QMenu *edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    edit->menuAction()->setObjectName(QStringLiteral("mnuEdit"));
    fill(edit, {"mnuCut", "mnuCopy", "mnuPest"});
    QMenu *tool = menuBar()->addMenu(QStringLiteral("ﾂｰﾙ(&T)"));
    tool->menuAction()->setObjectName(QStringLiteral("mnuTool"));
    fill(tool, {"mnuPaint"});
    QMenu *view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    view->menuAction()->setObjectName(QStringLiteral("mnuView"));
    addBack(view);
    m_menus = {file, edit, tool, view};

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("mnuPopUp"));
    QMenu *pfile = m_popup->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    addFile(pfile);
    QMenu *pedit = m_popup->addMenu(QStringLiteral("編集(&E)"));
    fill(pedit, {"mnuCut", "mnuCopy", "mnuPest"});
    fill(m_popup, {"mnuPaint", "-"});
    addBack(m_popup);
    fill(m_popup, {"-", "mnuClose"});
}

void FrmView::buildToolbar()
{
    m_toolbar = PicFrame::addToolbar(*this);
    const char *const keys[] = {"FileSave",   "Print",    "-",        "PicTran",  "MessTran",
                                "-",          "ClipCut",  "ClipCopy", "ClipPest", "-",
                                "WallCenter", "WallTile", "-",        "Paint",    "PosSave"};
    for (const char *key : keys) {
        if (key[0] == '-')
            m_toolbar->addSeparator();
        else
            m_toolbar->addAction(m_actions.value(QLatin1String(key)));
    }
}

void FrmView::buildHiddenPage()
{
    m_hiddenPage = new QWidget(m_pages);
    m_hiddenPage->setObjectName(QStringLiteral("HiddenPage"));
    const auto text = [this](const char *name, const QString &content) {
        auto *box = new QLineEdit(content, m_hiddenPage);
        box->setObjectName(QLatin1String(name));
        box->setReadOnly(true);
        box->setFrame(false);
        box->setAlignment(Qt::AlignCenter);
        box->setFocusPolicy(Qt::NoFocus);
        return box;
    };
    m_txtHideMsg = text("TxtHideMsg", QStringLiteral("画像を受信しました。"));
    m_txtHideTime = text("TxtHideTIme", m_image.hideTime);
    m_txtHideFrom = text("TxtHideFrom", m_image.hideFrom);
    QFont big = m_txtHideMsg->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    m_txtHideMsg->setFont(big);
    m_cmdOpen = new QPushButton(kOpenCaption, m_hiddenPage);
    m_cmdOpen->setObjectName(QStringLiteral("CmdOpen"));
    m_hiddenPage->installEventFilter(this);
    connect(m_cmdOpen, &QPushButton::clicked, this, &FrmView::CmdOpenClick);
    m_pages->addWidget(m_hiddenPage);
}

// ---- showing ---------------------------------------------------------------------------

void FrmView::LoadRecvPic(int displayKind, bool autoSave)
{
    m_displayKind = displayKind;
    const Settings &s = m_services.context().settings;
    if (m_picture.isNull()) {
        // Nothing to show or save: a picture we cannot read is refused when it arrives, so
        // only a file that went meanwhile gets here.
        close();
        return;
    }
    const bool faceDown = displayKind == 1 || displayKind == 2;
    if (displayKind == 2)
        m_cmdOpen->setText(FrmPWCheck::LockedOpenCaption(m_services.context()));
    showPictureParts(!faceDown);
    if (displayKind == 9) {
        m_loaded = true;
        m_timer1.start(m_services.hiddenViewerLifetimeMs());
    } else {
        move(twipsToPixels(s.RPicPosLeft), twipsToPixels(s.RPicPosTop));
        if (s.RecvPicMin == 1)
            showMinimized();
        else
            show();
        if (s.RecvPicSound == 1 || s.RecvPicSound == 2)
            emit m_services.engine().events().soundRequested(s.RecvPicSound, s.RecvPicSoundPlace);
        setFlashing(true);
        m_loaded = true;
        refreshCommands();
    }
    // After the window is up: a failed save tells so in a box, and the picture is on the
    // screen all the same.
    if (autoSave)
        m_services.autoSaver().AutoSaveReceived(m_picture, m_image.machineName);
}

void FrmView::showPictureParts(bool on)
{
    m_pages->setCurrentWidget(on ? static_cast<QWidget *>(m_frame) : m_hiddenPage);
    m_toolbar->setVisible(on);
    for (QMenu *menu : std::as_const(m_menus))
        menu->menuAction()->setVisible(on);
    menuBar()->setVisible(on);
    if (on)
        layoutPicture();
    else
        layoutHiddenPage();
    refreshCommands();
}

bool FrmView::isFaceDown() const
{
    return m_pages->currentWidget() == m_hiddenPage;
}

void FrmView::layoutHiddenPage()
{
    if (isMinimized())
        return;
    const int width = m_hiddenPage->width();
    for (auto [box, top] :
         {std::pair{m_txtHideMsg, kHideMsgTopTwips}, std::pair{m_txtHideTime, kHideTimeTopTwips},
          std::pair{m_txtHideFrom, kHideFromTopTwips}})
        box->setGeometry(0, twipsToPixels(top), width, box->sizeHint().height());
    const int buttonWidth =
        std::max(twipsToPixels(kOpenButtonWidthTwips), m_cmdOpen->sizeHint().width() + 16);
    m_cmdOpen->setGeometry((width - buttonWidth) / 2, twipsToPixels(kOpenButtonTopTwips), buttonWidth,
                           std::max(twipsToPixels(kOpenButtonHeightTwips), m_cmdOpen->sizeHint().height()));
}

void FrmView::layoutPicture()
{
    if (isMinimized())
        return;
    m_picDraw->move(0, 0);
    m_frame->horizontalScrollBar()->setValue(0);
    m_frame->verticalScrollBar()->setValue(0);
}

void FrmView::setPicture(const QImage &picture, const QString &tag)
{
    m_picture = picture;
    m_tag = tag;
    m_picDraw->setImage(picture);
    layoutPicture();
}

void FrmView::setFlashing(bool on)
{
    if (m_flashing == on)
        return;
    m_flashing = on;
    m_services.flash(this, on);
}

void FrmView::CmdOpenClick()
{
    if (!isFaceDown() || m_checking)
        return;
    if (m_displayKind != 2) {
        openNow();
        return;
    }
    auto *check = m_services.windows().load<FrmPWCheck>(WindowKind::PWCheck);
    if (!check)
        return;
    m_checking = true;
    connect(
        check, &FrmPWCheck::checked, this,
        [this](bool passed) {
            m_checking = false;
            if (passed)
                openNow();
            else
                m_services.engine().host().ShowMessageBox(QStringLiteral("ﾊﾟｽﾜｰﾄﾞが違います。"),
                                                          MsgBox::Exclamation);
        },
        Qt::SingleShotConnection);
    check->Ask();
}

void FrmView::openNow()
{
    if (!isFaceDown())
        return;
    showPictureParts(true);
    setFlashing(false);
    if (m_image.openCheck) {
        // The receipt goes back to the address the picture came from: a machine name need
        // not resolve on every network, that address reaches the sender's copy.
        const QString to = m_image.senderIp.isEmpty() ? m_image.machineName : m_image.senderIp;
        m_services.engine().messages().SendOpenReceipt(to, QStringLiteral("P"));
    }
    emit opened();
}

void FrmView::onPicDrawPainted()
{
    if (isFaceDown())
        return;
    if (m_paints == 0) {
        m_paints = 1;
        // Announced after this paint has been drawn.
        QTimer::singleShot(0, this, &FrmView::pictureShown);
    } else if (m_paints == 1) {
        m_paints = 2;
        setFlashing(false);
    }
    refreshCommands();
}

// ---- commands --------------------------------------------------------------------------

QAction *FrmView::action(const QString &name) const
{
    return m_actions.value(name);
}

QLineEdit *FrmView::hideText(int index) const
{
    return index == 0 ? m_txtHideMsg : index == 1 ? m_txtHideTime : m_txtHideFrom;
}

void FrmView::refreshCommands()
{
    const bool open = !isFaceDown();
    const bool picture = open && !m_picture.isNull();
    for (const char *name :
         {"mnuSave", "mnuPrint", "mnuCut", "mnuCopy", "mnuWallCenter", "mnuWallTile", "mnuDTopImg"})
        m_actions.value(QLatin1String(name))->setEnabled(picture);
    m_actions.value(QStringLiteral("mnuSend"))->setEnabled(picture && m_services.commands().canSend());
    m_actions.value(QStringLiteral("mnuPest"))->setEnabled(open && clipboardHasPicture());
    m_actions.value(QStringLiteral("mnuPaint"))
        ->setEnabled(picture && m_loaded && !m_services.context().settings.PicEditApp.isEmpty());
    const QAction *shared = m_services.commands().action(QStringLiteral("mnuMsgSend"));
    m_actions.value(QStringLiteral("mnuMsgSend"))->setEnabled(open && shared && shared->isEnabled());
    for (const char *name : {"PosSave", "mnuBackColorSet", "mnuBackColorDefault"})
        m_actions.value(QLatin1String(name))->setEnabled(open);
}

void FrmView::Save()
{
    if (!m_picture.isNull())
        m_services.autoSaver().SaveReceivedPictureAs(this, m_picture, m_tag);
}

void FrmView::Print()
{
    if (!m_picture.isNull())
        ModPrint::TellResult(ModPrint::PrintPicture(m_services.commands().printTarget(), m_picture), this);
}

void FrmView::PicTran()
{
    if (!m_picture.isNull())
        m_services.commands().LoadSendAddr(SendHandOver{0, m_picture, m_tag});
}

void FrmView::Copy()
{
    if (m_picture.isNull())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(m_picture);
}

void FrmView::Cut()
{
    if (m_picture.isNull())
        return;
    Copy();
    setPicture(QImage(), m_tag);
    refreshCommands();
}

void FrmView::Paste()
{
    const QImage image = QGuiApplication::clipboard()->image();
    if (!image.isNull())
        setPicture(image, QString());
    refreshCommands();
}

void FrmView::Wallpaper(const QString &style)
{
    if (!m_picture.isNull())
        ModWall::SetWallpaper(m_services.context(), m_picture, style, this);
}

void FrmView::PinToDesktop()
{
    if (!m_picture.isNull())
        FrmDTopImg::Pin(m_services.context(), m_services.engine(), m_services.commands(), m_picture);
}

void FrmView::OpenPaintProgram()
{
    if (m_picture.isNull() || m_services.context().settings.PicEditApp.isEmpty())
        return;
    StartPaintProgram(m_services.context(), m_services.engine().host(), m_picture, [this] { Copy(); });
}

void FrmView::PosSave()
{
    Settings &s = m_services.context().settings;
    s.RPicPosTop = pixelsToTwips(pos().y());
    s.RPicPosLeft = pixelsToTwips(pos().x());
    const SettingsFile file(m_services.context().SettingsPath());
    WriteSettingKey(file, s, QLatin1StringView("RPicPosTop"));
    WriteSettingKey(file, s, QLatin1StringView("RPicPosLeft"));
}

QColor FrmView::backgroundColor() const
{
    return PicFrame::background(*m_frame);
}

void FrmView::ChooseBackground()
{
    PicFrame::chooseBackground(*m_frame, this);
}

void FrmView::DefaultBackground()
{
    PicFrame::setBackground(*m_frame, QApplication::palette().color(QPalette::Button));
}

// ---- window events ---------------------------------------------------------------------

bool FrmView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_picDraw && event->type() == QEvent::Paint)
        onPicDrawPainted();
    else if (watched == m_hiddenPage && event->type() == QEvent::Resize)
        layoutHiddenPage();
    return QMainWindow::eventFilter(watched, event);
}

void FrmView::contextMenuEvent(QContextMenuEvent *event)
{
    if (isFaceDown())
        return;
    for (QWidget *w = childAt(event->pos()); w; w = w->parentWidget()) {
        if (w == m_toolbar || w == menuBar())
            return;
    }
    refreshCommands();
    m_popup->popup(event->globalPos());
}

void FrmView::closeEvent(QCloseEvent *event)
{
    m_timer1.stop();
    setFlashing(false);
    m_popup->hide();
    disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
    // The received file goes with its window; only a file in the receive work folder is
    // ever removed, whatever name the sender gave it.
    const ModZorvin &ctx = m_services.context();
    if (!m_image.path.isEmpty() && ReceivedFiles::IsInFolder(ctx.RecvTempDir, m_image.path))
        QFile::remove(m_image.path);
    QMainWindow::closeEvent(event);
}
