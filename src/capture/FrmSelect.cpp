#include "capture/FrmSelect.h"

#include "capture/CaptureEngine.h"
#include "capture/CaptureMath.h"
#include "capture/FrmMain.h"
#include "ui/ModZorvinUi.h"
#include "ui/WindowRegistry.h"
#include "platform/ScreenPlatform.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

const QString FrmSelect::kKind = QStringLiteral("FrmSelect");

namespace {

// 16-bit signed screen coordinates, as the selection corners are kept.
int16_t toCorner(int value)
{
    return int16_t(qBound(-32768, value, 32767));
}

} // namespace

FrmSelect::FrmSelect(CaptureEngine &engine, const QImage &frozen)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_engine(engine),
      m_frozen(frozen)
{
    setObjectName(kKind);
    setWindowTitle(QStringLiteral("FrmSelect"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    setProperty(kGivesWayToNotices, true);
    setFocusPolicy(Qt::StrongFocus);
    // Client coordinates are screen pixels: the frozen picture is drawn 1:1 in device pixels
    // whatever the screen's scale.
    const qreal ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    m_frozen.setDevicePixelRatio(ratio);
    setGeometry(QRect(QPoint(0, 0), (QSizeF(m_frozen.size()) / ratio).toSize()));

    m_popup = new QMenu(this);
    m_popup->menuAction()->setObjectName(QStringLiteral("mnuPopUp"));
    QAction *cancel = m_popup->addAction(QStringLiteral("ｷｬﾝｾﾙ(&C)"));
    cancel->setObjectName(QStringLiteral("mnuCaptCan"));
    connect(cancel, &QAction::triggered, this, &FrmSelect::Cancel);
}

FrmSelect::~FrmSelect() = default;

void FrmSelect::attach(FrmMain &window, WindowRegistry &windows, std::function<void()> overlayClosed)
{
    window.selectionHooks().StartOverlay = [&window, &windows, overlayClosed] {
        ScreenPlatform &platform = window.platform();
        const QImage frozen = platform.grabRect(QRect(QPoint(0, 0), platform.screenSize()));
        if (frozen.isNull()) {
            window.capture().CancelAreaCapture();
            return;
        }
        auto *overlay = new FrmSelect(window.capture(), frozen);
        overlay->m_onClosed = overlayClosed;
        windows.add(kKind, QString(), overlay);
        // A desktop that places windows itself ignores the position: it covers the screen
        // only as a full-screen window.
        if (platform.placesWindowsItself())
            overlay->showFullScreen();
        else
            overlay->show();
        overlay->raise();
        overlay->activateWindow();
        // Esc must reach the overlay even when the window manager gives it no focus.
        QTimer::singleShot(0, overlay, [overlay] {
            if (overlay->isVisible())
                overlay->grabKeyboard();
        });
    };
    window.selectionHooks().CloseOverlay = [&windows] {
        if (QWidget *overlay = windows.find(kKind))
            overlay->close();
    };
}

QRect FrmSelect::band() const
{
    // The corners as the capture takes them: right and bottom edges exclusive.
    return CaptureMath::SelectionRect(int16_t(m_start.x()), int16_t(m_start.y()), int16_t(m_current.x()),
                                      int16_t(m_current.y()));
}

QString FrmSelect::sizeLabel() const
{
    const QRect rect = band();
    return QStringLiteral("%1 x %2").arg(rect.width()).arg(rect.height());
}

QPoint FrmSelect::screenPos(const QMouseEvent *event) const
{
    return (event->globalPosition() * devicePixelRatioF()).toPoint();
}

void FrmSelect::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_frozen);
    if (!m_dragging)
        return;
    // The band and the size beside the pointer are drawn in device pixels, the unit of the
    // corners; both are gone before the area is captured.
    const qreal ratio = devicePixelRatioF();
    painter.scale(1 / ratio, 1 / ratio);
    painter.setPen(QPen(Qt::red, 1, Qt::DashLine));
    painter.drawLine(m_start.x(), m_start.y(), m_current.x(), m_start.y());     // LineH1
    painter.drawLine(m_start.x(), m_current.y(), m_current.x(), m_current.y()); // LineH2
    painter.drawLine(m_start.x(), m_start.y(), m_start.x(), m_current.y());     // LineV1
    painter.drawLine(m_current.x(), m_start.y(), m_current.x(), m_current.y()); // LineV2
    const QString size = sizeLabel();
    const QRect text = painter.fontMetrics().boundingRect(size).adjusted(-3, -2, 3, 2);
    const QRect box = text.translated(m_current + QPoint(12, 20) - text.topLeft());
    painter.fillRect(box, QColor(255, 255, 225));
    painter.setPen(Qt::black);
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.drawText(box, Qt::AlignCenter, size);
}

void FrmSelect::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_released)
        return;
    m_start = m_current = screenPos(event);
    m_dragging = true;
    update();
}

void FrmSelect::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_current = screenPos(event);
    update();
}

void FrmSelect::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton && !m_dragging) {
        m_popup->popup(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    m_released = true;
    const QPoint end = screenPos(event);
    // The band goes off the screen now; the engine captures on its next delay tick.
    repaint();
    m_engine.setSelection(toCorner(m_start.x()), toCorner(m_start.y()), toCorner(end.x()), toCorner(end.y()));
    m_engine.AreaSelectionReleased();
}

void FrmSelect::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && !m_released) {
        Cancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FrmSelect::Cancel()
{
    m_popup->hide();
    close();
}

void FrmSelect::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        releaseKeyboard();
        // A close that is not the engine's own (the cancel, the quit) gives the capture up;
        // after the capture or an abandon the engine has left its overlay step already.
        m_engine.CancelAreaCapture();
        if (m_onClosed)
            m_onClosed();
    }
    QWidget::closeEvent(event);
}
