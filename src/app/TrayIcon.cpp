#include "app/TrayIcon.h"

#include "base/ModZorvin.h"
#include "ui/ProgramIcon.h"
#include "platform/TrayWatcher.h"

#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QIcon drawIcon(const QColor &background)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48})
        icon.addPixmap(QPixmap::fromImage(ProgramIcon::draw(background, size)));
    return icon;
}

// The stand-in's × is the quit command: with no tray, closing the only window would
// otherwise leave a program nobody can reach. The quit (and its question) runs once the
// close event has returned, as it unloads this window.
class StandInWindow : public QWidget
{
  public:
    explicit StandInWindow(TrayIcon &tray) : QWidget(nullptr, Qt::Window), m_tray(tray) {}

  protected:
    void closeEvent(QCloseEvent *event) override
    {
        event->ignore();
        QTimer::singleShot(0, &m_tray, [tray = &m_tray] { emit tray->quitRequested(); });
    }

  private:
    TrayIcon &m_tray;
};

} // namespace

TrayIcon::TrayIcon(QObject *parent) : QObject(parent)
{
    m_menu = new QMenu();
    m_menu->setObjectName(QStringLiteral("mnuFrmTray"));
    m_mnuEnd = m_menu->addAction(QStringLiteral("終了(&X)"));
    m_mnuEnd->setObjectName(QStringLiteral("mnuEnd"));
    connect(m_mnuEnd, &QAction::triggered, this, &TrayIcon::quitRequested);

    m_timerModIcon.setInterval(500);
    connect(&m_timerModIcon, &QTimer::timeout, this, &TrayIcon::onTimerModIcon);
    m_noticeTimer.setSingleShot(true);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        m_notice.clear();
        if (m_standInStatus)
            m_standInStatus->hide();
    });
}

TrayIcon::~TrayIcon()
{
    TrayRemove();
    delete m_menu;
}

QString TrayIcon::tip()
{
    return QString::fromUtf8(kProductName) + QStringLiteral(" 2.66");
}

QString TrayIcon::currentTip() const
{
    return m_tipDetail.isEmpty() ? tip() : tip() + QLatin1Char('\n') + m_tipDetail;
}

void TrayIcon::setTipDetail(const QString &detail)
{
    if (detail == m_tipDetail)
        return;
    m_tipDetail = detail;
    if (m_tray)
        m_tray->setToolTip(currentTip());
    if (m_standIn)
        m_standIn->setToolTip(currentTip());
}

QIcon TrayIcon::normalIcon()
{
    static const QIcon icon = drawIcon(ProgramIcon::kNormalColor);
    return icon;
}

static QIcon blinkIcon()
{
    static const QIcon icon = drawIcon(ProgramIcon::kBlinkColor);
    return icon;
}

QIcon TrayIcon::currentIcon() const
{
    return m_newItem && m_blinkPhase ? blinkIcon() : normalIcon();
}

void TrayIcon::TrayAdd()
{
    if (!m_watcher) {
        m_watcher = TrayWatcher::create();
        connect(m_watcher.get(), &TrayWatcher::trayChanged, this, &TrayIcon::onTrayChanged);
    }
    if (m_watcher->isTrayPresent())
        showIcon();
    else
        showStandIn();
}

void TrayIcon::TrayRemove()
{
    m_timerModIcon.stop();
    m_noticeTimer.stop();
    m_notice.clear();
    m_watcher.reset();
    removeIcon();
    removeStandIn();
}

void TrayIcon::onTrayChanged(bool present)
{
    // A tray that replaced another gets a new icon: the old one docked in a window that is gone.
    removeIcon();
    if (present) {
        removeStandIn();
        showIcon();
    } else {
        showStandIn();
    }
    emit placeChanged();
}

void TrayIcon::showIcon()
{
    m_tray = new QSystemTrayIcon(currentIcon(), this);
    m_tray->setToolTip(currentTip());
    // No context menu of the icon's own: the right click goes through TrayPopupMenu, which
    // may refuse it.
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            emit doubleClicked();
        else if (reason == QSystemTrayIcon::Context)
            TrayPopupMenu();
    });
    m_tray->show();
}

void TrayIcon::showStandIn()
{
    if (m_standIn)
        return;
    // No notification area: a small window carries the icon, the tip, the menu and the
    // notices.
    m_standIn = new StandInWindow(*this);
    m_standIn->setObjectName(QStringLiteral("TrayStandIn"));
    m_standIn->setWindowTitle(tip());
    m_standIn->setToolTip(currentTip());
    m_standIn->setWindowIcon(currentIcon());
    auto *column = new QVBoxLayout(m_standIn);
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(tip(), m_standIn);
    auto *button = new QPushButton(QStringLiteral("ﾒﾆｭｰ(&M)"), m_standIn);
    button->setObjectName(QStringLiteral("TrayStandInMenu"));
    connect(button, &QPushButton::clicked, this, &TrayIcon::TrayPopupMenu);
    row->addWidget(label);
    row->addWidget(button);
    column->addLayout(row);
    m_standInStatus = new QLabel(m_notice, m_standIn);
    m_standInStatus->setObjectName(QStringLiteral("TrayStandInStatus"));
    m_standInStatus->setWordWrap(true);
    m_standInStatus->setVisible(!m_notice.isEmpty());
    column->addWidget(m_standInStatus);
    column->setSizeConstraint(QLayout::SetFixedSize);
    // Wide enough that the window manager shows the whole title beside its buttons.
    column->addStrut(m_standIn->fontMetrics().horizontalAdvance(tip()) * 2 + 120);
    m_standIn->show();
}

void TrayIcon::TrayPopupMenu()
{
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (m_menu->isVisible() || (m_prepareMenu && !m_prepareMenu()))
        return;
    emit aboutToShowMenu();
    // popup, not exec: the menu's choices run from the event loop, never inside a loop of
    // the caller's.
    m_menu->popup(QCursor::pos());
}

void TrayIcon::removeIcon()
{
    // The quit may come from the icon's own activation signal: hide it now, delete it
    // once that signal has returned.
    if (m_tray) {
        m_tray->hide();
        m_tray->deleteLater();
    }
    m_tray = nullptr;
}

void TrayIcon::removeStandIn()
{
    // The quit may come from the stand-in's own menu button: it goes once that has returned.
    if (m_standIn) {
        m_standIn->hide();
        m_standIn->deleteLater();
    }
    m_standIn = nullptr;
    m_standInStatus = nullptr;
}

QRect TrayIcon::iconGeometry() const
{
    return m_tray ? m_tray->geometry() : QRect();
}

void TrayIcon::ShowNotice(const QString &text)
{
    m_notice = text;
    if (m_tray) {
        // The title is the program's; the first line of the text says what happened.
        m_tray->showMessage(QString::fromUtf8(kProductName), text, QSystemTrayIcon::Information, m_noticeMs);
    } else if (m_standInStatus) {
        m_standInStatus->setText(text);
        m_standInStatus->show();
    }
    m_noticeTimer.start(m_noticeMs);
    emit noticeShown(text);
}

void TrayIcon::ModTaskTrayIcon(int mode)
{
    if (mode == 0) {
        m_timerModIcon.stop();
        m_newItem = false;
        m_blinkPhase = false;
    } else if (mode == 1) {
        m_newItem = true;
        m_blinkPhase = !m_blinkPhase;
        if (!m_timerModIcon.isActive())
            m_timerModIcon.start();
    }
    const QIcon icon = currentIcon();
    if (m_tray) {
        m_tray->setIcon(icon);
        m_tray->setToolTip(currentTip());
    }
    if (m_standIn)
        m_standIn->setWindowIcon(icon);
}

void TrayIcon::onTimerModIcon()
{
    if (m_newItem)
        ModTaskTrayIcon(1);
}
