#include "core/TrayIcon.h"

#include "core/ModZorvin.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {

QIcon drawIcon(const QColor &background)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(background);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
        // A lens: the program captures the screen.
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(size * 0.22, size * 0.22, size * 0.56, size * 0.56));
        p.setBrush(background.darker(150));
        p.drawEllipse(QRectF(size * 0.36, size * 0.36, size * 0.28, size * 0.28));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

TrayIcon::TrayIcon(QObject *parent) : QObject(parent)
{
    m_menu = new QMenu();
    m_mnuEnd = m_menu->addAction(QStringLiteral("終了(&X)"));
    m_mnuEnd->setObjectName(QStringLiteral("mnuEnd"));
    connect(m_mnuEnd, &QAction::triggered, this, &TrayIcon::quitRequested);
    connect(m_menu, &QMenu::aboutToShow, this, &TrayIcon::aboutToShowMenu);

    m_timerModIcon.setInterval(500);
    connect(&m_timerModIcon, &QTimer::timeout, this, &TrayIcon::onTimerModIcon);
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

QIcon TrayIcon::normalIcon()
{
    static const QIcon icon = drawIcon(QColor(0x1f, 0x5f, 0xbf));
    return icon;
}

static QIcon blinkIcon()
{
    static const QIcon icon = drawIcon(QColor(0xe0, 0x70, 0x10));
    return icon;
}

void TrayIcon::TrayAdd()
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(normalIcon(), this);
        m_tray->setToolTip(tip());
        m_tray->setContextMenu(m_menu);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick)
                emit doubleClicked();
        });
        m_tray->show();
        return;
    }
    // No notification area: a small window carries the icon, the tip and the menu.
    m_standIn = new QWidget(nullptr, Qt::Window);
    m_standIn->setObjectName(QStringLiteral("TrayStandIn"));
    m_standIn->setWindowTitle(tip());
    m_standIn->setWindowIcon(normalIcon());
    auto *layout = new QHBoxLayout(m_standIn);
    auto *label = new QLabel(tip(), m_standIn);
    auto *button = new QPushButton(QStringLiteral("ﾒﾆｭｰ(&M)"), m_standIn);
    button->setMenu(m_menu);
    layout->addWidget(label);
    layout->addWidget(button);
    m_standIn->show();
}

void TrayIcon::TrayRemove()
{
    m_timerModIcon.stop();
    // The quit may come from the icon's own activation signal: hide it now, delete it
    // once that signal has returned.
    if (m_tray) {
        m_tray->hide();
        m_tray->deleteLater();
    }
    m_tray = nullptr;
    delete m_standIn;
    m_standIn = nullptr;
}

void TrayIcon::ModTaskTrayIcon(int mode)
{
    QIcon icon = normalIcon();
    if (mode == 0) {
        m_timerModIcon.stop();
        m_newItem = false;
        m_blinkPhase = false;
    } else if (mode == 1) {
        m_newItem = true;
        icon = m_blinkPhase ? normalIcon() : blinkIcon();
        m_blinkPhase = !m_blinkPhase;
        if (!m_timerModIcon.isActive())
            m_timerModIcon.start();
    }
    if (m_tray) {
        m_tray->setIcon(icon);
        m_tray->setToolTip(tip());
    }
    if (m_standIn)
        m_standIn->setWindowIcon(icon);
}

void TrayIcon::onTimerModIcon()
{
    if (m_newItem)
        ModTaskTrayIcon(1);
}
