#include "pictures/FrmDTopImg.h"

#include "pictures/ImageFiles.h"
#include "pictures/ModPrint.h"
#include "pictures/ModWall.h"
#include "pictures/PaintProgram.h"
#include "ui/Commands.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"

#include <QAction>
#include <QActionGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

const QString FrmDTopImg::kKind = QStringLiteral("FrmDTopImg");

namespace {

// 30 twips around the picture: one pixel on each side.
constexpr int kRim = 1;

const char *const kZoomCaptions[] = {"x0.25", "x0.50", "x0.75", "x1.00", "x1.25", "x1.50",
                                     "x1.75", "x2.00", "x2.50", "x3.00", "x4.00"};

} // namespace

FrmDTopImg::FrmDTopImg(ModZorvin &ctx, NetEngine &engine, Commands &commands, const QImage &picture)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), m_ctx(ctx), m_engine(engine),
      m_commands(commands), m_files(std::make_unique<ImageFiles>(ctx, engine.host(), &engine)),
      m_picture(picture)
{
    setObjectName(kKind);
    setWindowTitle(QString::fromUtf8(kProductName));
    setAttribute(Qt::WA_OpaquePaintEvent);
    buildPopup();
    setFixedSize(WindowSizeFor(m_picture.size(), m_step));
}

FrmDTopImg::~FrmDTopImg() = default;

FrmDTopImg *FrmDTopImg::Pin(ModZorvin &ctx, NetEngine &engine, Commands &commands, const QImage &picture)
{
    if (picture.isNull())
        return nullptr;
    auto *window = new FrmDTopImg(ctx, engine, commands, picture);
    commands.windows().setClosedInBulk(kKind);
    commands.windows().add(kKind, QString::number(quintptr(window), 16), window);
    window->show();
    return window;
}

double FrmDTopImg::ZoomFactor(int step)
{
    step = qBound(kFirstStep, step, kLastStep);
    if (step <= 8)
        return step * 0.25;
    if (step == 9)
        return 2.5;
    return step - 7;
}

QSize FrmDTopImg::WindowSizeFor(const QSize &real, int step)
{
    const double factor = ZoomFactor(step);
    return QSize(int(std::lround(real.width() * factor)) + 2 * kRim,
                 int(std::lround(real.height() * factor)) + 2 * kRim);
}

void FrmDTopImg::Restack(WindowRegistry &windows)
{
    const QList<QWidget *> pinned = windows.windows(kKind);
    for (QWidget *window : pinned)
        SetTopMost(window, false);
    for (QWidget *window : pinned) {
        if (static_cast<FrmDTopImg *>(window)->m_tag == QLatin1String("top"))
            SetTopMost(window, true);
    }
}

QAction *FrmDTopImg::addItem(QMenu *menu, const char *name, const QString &caption)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

void FrmDTopImg::buildPopup()
{
    m_popup = new QMenu(this);
    QMenu *file = m_popup->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    file->menuAction()->setObjectName(QStringLiteral("mnuPFile"));
    connect(addItem(file, "mnuPSave", QStringLiteral("保存(&S)")), &QAction::triggered, this,
            &FrmDTopImg::Save);
    connect(addItem(file, "mnuPPrint", QStringLiteral("印刷(&P)")), &QAction::triggered, this,
            &FrmDTopImg::Print);
    QMenu *edit = m_popup->addMenu(QStringLiteral("編集(&E)"));
    edit->menuAction()->setObjectName(QStringLiteral("mnuPEdit"));
    connect(addItem(edit, "mnuPCopy", QStringLiteral("ｺﾋﾟｰ(&C)")), &QAction::triggered, this,
            &FrmDTopImg::Copy);
    QMenu *view = m_popup->addMenu(QStringLiteral("表示(&V)"));
    view->menuAction()->setObjectName(QStringLiteral("mnuPView"));
    connect(addItem(view, "mnuPRealSize", QStringLiteral("実ｻｲｽﾞ表示(&R)")), &QAction::triggered, this,
            [this] { SetZoom(kRealSizeStep); });
    connect(addItem(view, "mnuPZoomIn", QStringLiteral("ｽﾞｰﾑｲﾝ(&I)")), &QAction::triggered, this,
            [this] { SetZoom(m_step + 1); });
    connect(addItem(view, "mnuPZoomOut", QStringLiteral("ｽﾞｰﾑｱｳﾄ(&O)")), &QAction::triggered, this,
            [this] { SetZoom(m_step - 1); });
    QMenu *zoom = view->addMenu(QStringLiteral("ｽﾞｰﾑ設定(&Z)"));
    zoom->menuAction()->setObjectName(QStringLiteral("mnuPZoomSet"));
    int step = kFirstStep;
    for (const char *caption : kZoomCaptions) {
        QAction *item = zoom->addAction(QLatin1String(caption));
        item->setObjectName(QStringLiteral("mnuPZoom%1").arg(step));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, step] { SetZoom(step); });
        m_zoomItems << item;
        ++step;
    }
    QAction *top = addItem(m_popup, "mnuPTopMost", QStringLiteral("常に手前に表示(&M)"));
    top->setCheckable(true);
    connect(top, &QAction::triggered, this, &FrmDTopImg::ToggleTopMost);
    connect(addItem(m_popup, "mnuPSend", QStringLiteral("画像転送(&T)")), &QAction::triggered, this,
            &FrmDTopImg::Send);
    QMenu *wall = m_popup->addMenu(QStringLiteral("壁紙として保存(&W)"));
    wall->menuAction()->setObjectName(QStringLiteral("mnuPWall"));
    connect(addItem(wall, "mnuPWallCenter", QStringLiteral("中央に表示(&C)")), &QAction::triggered, this,
            [this] { Wallpaper(QStringLiteral("0")); });
    connect(addItem(wall, "mnuPWallTile", QStringLiteral("並べて表示(&T)")), &QAction::triggered, this,
            [this] { Wallpaper(QStringLiteral("1")); });
    connect(addItem(m_popup, "mnuPPaint", QStringLiteral("画像編集ﾂｰﾙを開く(&L)")), &QAction::triggered, this,
            &FrmDTopImg::OpenPaintProgram);
    connect(addItem(m_popup, "mnuPPeel", QStringLiteral("はがす(&C)")), &QAction::triggered, this,
            &QWidget::close);
}

QAction *FrmDTopImg::menuAction(const QString &name) const
{
    for (QAction *action : m_popup->findChildren<QAction *>()) {
        if (action->objectName() == name)
            return action;
    }
    for (QMenu *menu : m_popup->findChildren<QMenu *>()) {
        if (menu->menuAction()->objectName() == name)
            return menu->menuAction();
    }
    return nullptr;
}

void FrmDTopImg::preparePopup()
{
    menuAction(QStringLiteral("mnuPPaint"))->setEnabled(!m_ctx.settings.PicEditApp.isEmpty());
    menuAction(QStringLiteral("mnuPZoomIn"))->setEnabled(m_step < kLastStep);
    menuAction(QStringLiteral("mnuPZoomOut"))->setEnabled(m_step > kFirstStep);
    for (int i = 0; i < m_zoomItems.size(); ++i)
        m_zoomItems[i]->setChecked(i + 1 == m_step);
    menuAction(QStringLiteral("mnuPTopMost"))->setChecked(m_tag == QLatin1String("top"));
    menuAction(QStringLiteral("mnuPSend"))->setEnabled(m_commands.canSend());
}

void FrmDTopImg::SetZoom(int step)
{
    if (step < kFirstStep || step > kLastStep)
        return;
    m_step = step;
    setFixedSize(WindowSizeFor(m_picture.size(), m_step));
    update();
}

void FrmDTopImg::ToggleTopMost()
{
    m_tag = m_tag == QLatin1String("top") ? QString() : QStringLiteral("top");
    Restack(m_commands.windows());
}

void FrmDTopImg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, ZoomFactor(m_step) < 1);
    painter.drawImage(rect().adjusted(kRim, kRim, -kRim, -kRim), m_picture);
}

void FrmDTopImg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        // The picture is the window's title bar: the window follows the pointer.
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        m_dragging = true;
    } else if (event->button() == Qt::RightButton) {
        preparePopup();
        m_popup->popup(event->globalPosition().toPoint());
    }
}

void FrmDTopImg::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - m_dragOffset);
}

void FrmDTopImg::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

void FrmDTopImg::closeEvent(QCloseEvent *event)
{
    m_popup->hide();
    m_picture = QImage();
    QWidget::closeEvent(event);
}

void FrmDTopImg::Save()
{
    m_files->SavePictureAs(this, m_picture, QStringLiteral("BMPﾌｧｲﾙ (*.bmp)|*.bmp|"), QString());
}

void FrmDTopImg::Print()
{
    ModPrint::TellResult(ModPrint::PrintPicture(m_commands.printTarget(), m_picture), this);
}

void FrmDTopImg::Copy()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(m_picture);
}

void FrmDTopImg::Send()
{
    m_commands.LoadSendAddr(SendHandOver{0, m_picture, QString()});
}

void FrmDTopImg::Wallpaper(const QString &style)
{
    ModWall::SetWallpaper(m_ctx, m_picture, style, this);
}

void FrmDTopImg::OpenPaintProgram()
{
    if (!m_ctx.settings.PicEditApp.isEmpty())
        StartPaintProgram(m_ctx, m_engine.host(), m_picture, [this] { Copy(); });
}
