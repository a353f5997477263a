#include "capture/CaptureEngine.h"

#include "capture/CaptureMath.h"
#include "capture/FrmMain.h"
#include "core/ModZorvin.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace {

void processPending()
{
    QCoreApplication::processEvents();
}

// The foreground window's title is read into a 256-character buffer.
constexpr int kTitleChars = 256;
// Bounds of the waits for the window manager (frame removed, window activated).
constexpr int kWindowManagerWaitMs = 2000;
constexpr int kRepaintSettleMs = 50;
constexpr int kPollMs = 10;

} // namespace

CaptureEngine::CaptureEngine(FrmMain &window, ModZorvin &ctx, ScreenPlatform &platform)
    : m_window(window), m_ctx(ctx), m_platform(platform), m_delayTickMs(CaptureMath::kDelayTickMs)
{
    m_delayTimer.setSingleShot(false);
    m_overlayStartTimer.setSingleShot(false);
    connect(&m_delayTimer, &QTimer::timeout, this, &CaptureEngine::onDelayTick);
    connect(&m_overlayStartTimer, &QTimer::timeout, this, &CaptureEngine::onOverlayStart);
}

CaptureEngine::~CaptureEngine()
{
    Abandon();
}

void CaptureEngine::Abandon()
{
    m_delayTimer.stop();
    m_overlayStartTimer.stop();
    releaseArmedClick();
}

bool CaptureEngine::armClick()
{
    // The pointer grab needs a mapped window, and the capture window may be hidden (a
    // command from the tray): a one-pixel window outside the screen takes the click.
    if (!m_clickCatcher) {
        m_clickCatcher = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint |
                                                                Qt::X11BypassWindowManagerHint);
        m_clickCatcher->setAttribute(Qt::WA_ShowWithoutActivating);
        m_clickCatcher->setGeometry(-10, -10, 1, 1);
        m_clickCatcher->installEventFilter(this);
    }
    m_clickCatcher->show();
    processPending();
    QWindow *handle = m_clickCatcher->windowHandle();
    // The X server maps the new window in its own time; the grab needs it viewable.
    const bool grabbed =
        handle && waitFor([&] { return m_platform.grabPointer(handle); }, kWindowManagerWaitMs);
    if (!grabbed) {
        m_clickCatcher->hide();
        return false;
    }
    return true;
}

void CaptureEngine::releaseArmedClick()
{
    if (m_platform.pointerGrabbed())
        m_platform.releasePointer();
    m_armedClickMode = 0;
    if (m_clickCatcher)
        m_clickCatcher->hide();
}

bool CaptureEngine::eventFilter(QObject *watched, QEvent *event)
{
    if (m_clickCatcher && watched == m_clickCatcher.get() && event->type() == QEvent::MouseButtonPress) {
        auto *press = static_cast<QMouseEvent *>(event);
        if (press->button() == Qt::LeftButton)
            HandleMousePress(Qt::LeftButton, press->globalPosition().toPoint());
        else
            releaseArmedClick(); // any other button gives the armed click up
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool CaptureEngine::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(kPollMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void CaptureEngine::hideMainForCapture()
{
    const QPoint centre = m_window.frameGeometry().center();
    const WindowId self = m_window.winId();
    m_window.hide();
    processPending();
    m_mainHiddenForCapture = true;
    // The window manager takes the frame away after the window itself is gone; the
    // capture waits for that (and for the windows below to repaint), or the picture
    // would still show the capture window.
    if (m_platform.isSupported() &&
        waitFor([&] { return m_platform.topWindowFromPoint(centre) != self; }, kWindowManagerWaitMs)) {
        waitFor([] { return false; }, kRepaintSettleMs);
    }
}

void CaptureEngine::GetCaptureItem(int mode)
{
    const FrmMain::BusyScope busy(m_window);
    m_delayTimer.stop();
    m_overlayStartTimer.stop();

    m_captureMode = int16_t(mode);
    m_hadPictureBefore = m_window.HasPicture();
    m_window.setHasPicture(false);

    const Settings &settings = m_ctx.settings;
    switch (mode) {
    case CaptDeskTop:
    case CaptDeskTop1:
        if (m_window.isVisible() && settings.CaptExeHide1 == 1)
            hideMainForCapture();
        CaptureToPicture(mode);
        break;
    case CaptRect:
        if (m_window.isVisible() && settings.CaptExeHide2 == 1)
            hideMainForCapture();
        processPending();
        m_overlayStartTimer.start(CaptureMath::kOverlayStartMs);
        processPending();
        break;
    case CaptAct:
    case CaptAct1:
        releaseArmedClick();
        if (settings.ActCaptMode == 0) {
            m_waitTicks = CaptureMath::WaitTicksFor(settings.IntTimer);
            m_delayTimer.start(m_delayTickMs);
        } else if (settings.ActCaptMode == 1) {
            if (armClick())
                m_armedClickMode = int16_t(mode);
            else
                m_window.setHasPicture(m_hadPictureBefore); // no click can come: nothing changes
        }
        break;
    default:
        break;
    }
}

void CaptureEngine::CaptHotKey(int index)
{
    if (index >= CaptDeskTop && index <= CaptRect) {
        GetCaptureItem(index);
    } else if (index == CaptAct || index == CaptAct1) {
        m_captureMode = int16_t(index);
        CaptureToPicture(index);
    }
}

void CaptureEngine::onDelayTick()
{
    if (!CaptureMath::TakeDelayTick(m_waitTicks))
        return;
    m_delayTimer.stop();
    CaptureToPicture(m_captureMode);
}

void CaptureEngine::onOverlayStart()
{
    m_overlayStartTimer.stop();
    processPending();
    if (m_window.doors().StartOverlay)
        m_window.doors().StartOverlay();
    else
        CancelAreaCapture();
}

void CaptureEngine::CancelAreaCapture()
{
    m_window.setHasPicture(m_hadPictureBefore);
    if (m_mainHiddenForCapture) {
        m_mainHiddenForCapture = false;
        m_window.show();
        m_window.activateWindow();
    }
    m_window.SetToolbar();
}

void CaptureEngine::setSelection(int16_t x1, int16_t y1, int16_t x2, int16_t y2)
{
    m_selX1 = x1;
    m_selY1 = y1;
    m_selX2 = x2;
    m_selY2 = y2;
}

bool CaptureEngine::HandleMousePress(Qt::MouseButton button, const QPoint &globalPos)
{
    const FrmMain::BusyScope busy(m_window);
    if (button != Qt::LeftButton || m_armedClickMode == 0)
        return false;
    if (m_armedClickMode != CaptAct && m_armedClickMode != CaptAct1) {
        m_armedClickMode = 0;
        return false;
    }
    const int mode = m_armedClickMode;
    // The grab ends with this click: holding it longer would keep every later click of
    // the user away from the other programs.
    releaseArmedClick();
    m_delayTimer.stop();

    const QPoint pos = m_platform.isSupported() ? m_platform.cursorPos() : globalPos;
    for (int i = 0; i < 20; ++i)
        processPending();

    const WindowId underCursor = m_platform.windowFromPoint(pos);
    const WindowId top = TopWindowFromPoint(pos);
    if (top != 0 && top != m_platform.foregroundWindow()) {
        m_platform.setForegroundWindow(top);
        processPending();
        // Activation goes through the window manager; the capture looks at the
        // foreground window, so it waits until the clicked one has become it.
        waitFor([&] { return m_platform.foregroundWindow() == top; }, kWindowManagerWaitMs);
    }
    m_captureMode = int16_t(mode);
    CaptureToPicture(mode, top, underCursor);
    return true;
}

CaptureEngine::WindowId CaptureEngine::TopWindowFromPoint(const QPoint &screenPos) const
{
    return m_platform.topWindowFromPoint(screenPos);
}

QImage CaptureEngine::RectToBitmap(const QRect &rect)
{
    if (rect.isEmpty())
        return {};
    return m_platform.grabRect(rect);
}

QImage CaptureEngine::WindowToBitmap(WindowId window, int kind)
{
    if (window == 0)
        return {};
    if (kind == 1)
        return RectToBitmap(m_platform.windowFrameRect(window));
    if (kind == 2)
        return RectToBitmap(m_platform.windowClientRect(window));
    return {};
}

void CaptureEngine::CaptureToPicture(int mode, WindowId first, WindowId second)
{
    const FrmMain::BusyScope busy(m_window);
    const QSize screen = m_platform.screenSize();
    QImage bitmap;
    switch (mode) {
    case CaptDeskTop:
        bitmap = RectToBitmap(QRect(QPoint(0, 0), screen));
        break;
    case CaptDeskTop1: {
        const std::optional<QRect> work = m_platform.workArea();
        bitmap = RectToBitmap(work ? *work : QRect(QPoint(0, 0), screen));
        break;
    }
    case CaptRect:
        bitmap = RectToBitmap(CaptureMath::SelectionRect(m_selX1, m_selY1, m_selX2, m_selY2));
        if (m_window.doors().CloseOverlay)
            m_window.doors().CloseOverlay();
        break;
    case CaptAct:
    case CaptAct1: {
        const int kind = mode == CaptAct ? 1 : 2;
        const WindowId foreground = m_platform.foregroundWindow();
        if (m_ctx.settings.ActCaptMode == 0) {
            bitmap = WindowToBitmap(foreground, kind);
        } else {
            const QString title = m_platform.windowTitle(foreground).left(kTitleChars);
            if (!title.isEmpty())
                bitmap = WindowToBitmap(foreground, kind);
            if (bitmap.isNull())
                bitmap = WindowToBitmap(first, kind);
            if (bitmap.isNull())
                bitmap = WindowToBitmap(second, kind);
        }
        break;
    }
    default:
        break;
    }

    processPending();
    m_window.ClearPicDraw(false);
    m_window.setHasPicture(false);
    processPending();

    m_window.setPicture(bitmap, QString());
    m_window.setHasPicture(true);
    m_window.SetToolbar();

    const Settings &settings = m_ctx.settings;
    if ((settings.CaptExeHide1 == 1 || settings.CaptExeHide2 == 1) && m_mainHiddenForCapture) {
        m_window.show();
        m_mainHiddenForCapture = false;
        m_window.activateWindow();
    }

    processPending();
    m_window.setStatusText(1, CaptureMath::CaptureStatus(bitmap.width(), bitmap.height()));
    if (m_window.isVisible())
        m_window.activateWindow();

    if (settings.CaptAutoClip == 1)
        m_window.Copy();
    processPending();
    m_window.AutoSaveCapture();
    processPending();
    m_window.AutoTranCapture();

    emit captured(mode, bitmap.size());
}
