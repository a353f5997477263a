#include "capture/CaptureEngine.h"

#include "base/ModZorvin.h"
#include "capture/CaptureGrab.h"
#include "capture/CaptureMath.h"

#include <QPointer>

namespace {

// Bounds of the waits for the window manager (frame removed, click catcher viewable,
// window activated) and the interval of their polls.
constexpr int kWindowManagerWaitMs = 2000;
constexpr int kRepaintSettleMs = 50;
constexpr int kPollMs = 10;
// A Wayland compositor tells no program when another's window has left the screen: the
// capture gives it this long to repaint after our window went.
constexpr int kCompositorSettleMs = 150;
// After the armed click, its release, the end of the grab and the focus changes run out
// over this many turns of the event loop before the windows under the pointer are read.
constexpr int kClickSettleTurns = 20;

// The capture window's status bar while a click capture is armed.
const QString kArmedNotice = QStringLiteral("ｷｬﾌﾟﾁｬするｳｨﾝﾄﾞｳをｸﾘｯｸしてください (Escで中止)");
// Modes 3 and 4 on a desktop that hands out only the whole screen.
const QString kNoSingleWindowNotice =
    QStringLiteral("このデスクトップでは、ほかのプログラムのウィンドウを 1 つだけ取り込むことはできません。");

bool isActiveWindowMode(int mode)
{
    return mode == CaptAct || mode == CaptAct1;
}

} // namespace

CaptureEngine::CaptureEngine(ModZorvin &ctx, ScreenPlatform &platform,
                             std::function<CaptureWindowFacts()> windowFacts)
    : m_ctx(ctx), m_platform(platform), m_windowFacts(std::move(windowFacts)), m_clickCatcher(platform),
      m_delayTickMs(CaptureMath::kDelayTickMs)
{
    m_delayTimer.setSingleShot(false);
    m_overlayStartTimer.setSingleShot(false);
    m_stepTimer.setSingleShot(true);
    connect(&m_delayTimer, &QTimer::timeout, this, &CaptureEngine::onDelayTick);
    connect(&m_overlayStartTimer, &QTimer::timeout, this, &CaptureEngine::onOverlayStart);
    connect(&m_stepTimer, &QTimer::timeout, this, &CaptureEngine::onStepTimer);
    connect(&m_clickCatcher, &ClickCatcher::pressed, this, &CaptureEngine::onCatcherPressed);
    connect(&m_clickCatcher, &ClickCatcher::escapePressed, this, &CaptureEngine::CancelArmedClick);
}

CaptureEngine::~CaptureEngine()
{
    // The window is partly destroyed by now (it abandoned the capture before): only what
    // this object holds is ended here.
    stopWaits();
}

void CaptureEngine::stopWaits()
{
    m_delayTimer.stop();
    m_overlayStartTimer.stop();
    m_stepTimer.stop();
    releaseArmedClick();
}

void CaptureEngine::waitStep(Step step, int ms)
{
    m_step = step;
    m_stepTimer.start(ms);
}

void CaptureEngine::giveUp()
{
    stopWaits();
    m_step = Step::Idle;
    emit pictureStateChanged(m_hadPictureBefore);
}

bool CaptureEngine::makeWayForCommand()
{
    switch (m_step) {
    case Step::Idle:
        return true;
    case Step::Delay:
    case Step::OverlayStart:
    case Step::Arming:
    case Step::Armed:
        // A new command stops both timers and ends an armed click: the waiting capture
        // gives way to it, with the picture state from before it.
        giveUp();
        return true;
    default:
        // Hiding, the area selection, the clicked window's activation and the capture
        // itself run to their end: a command now would capture in their middle, or our
        // own window.
        return false;
    }
}

void CaptureEngine::CancelArmedClick()
{
    if (m_step != Step::Arming && m_step != Step::Armed)
        return;
    giveUp();
    emit commandsChanged();
}

void CaptureEngine::Abandon()
{
    // Past its picture a capture has only its follow-ups left; a close reaches it only from
    // inside a notice of theirs, and they finish on the closed window.
    if (m_step == Step::Idle || m_step == Step::Capturing) {
        stopWaits();
        return;
    }
    const bool overlayUp = m_step == Step::Overlay;
    m_mainHiddenForCapture = false;
    giveUp();
    if (overlayUp && m_selectionHooks.CloseOverlay)
        m_selectionHooks.CloseOverlay();
}

void CaptureEngine::armClick(int mode)
{
    if (!m_platform.isSupported()) {
        giveUp(); // no click can come: nothing changes
        return;
    }
    m_clickCatcher.show();
    m_armingMode = mode;
    // The X server maps the new window in its own time; the grab needs it viewable.
    m_stepClock.start();
    waitStep(Step::Arming, 0);
}

void CaptureEngine::armed()
{
    m_armedClickMode = int16_t(m_armingMode);
    m_step = Step::Armed;
    m_clickCatcher.takeKeys();
    emit statusNotice(kArmedNotice);
}

void CaptureEngine::releaseArmedClick()
{
    // Only an armed click says anything: this also runs from the destructor, when the
    // window is half gone and nothing is armed any more.
    const bool wasArmed = m_armedClickMode != 0;
    m_clickCatcher.release();
    m_armedClickMode = 0;
    if (wasArmed)
        emit statusNotice(QString());
}

void CaptureEngine::onCatcherPressed(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button == Qt::LeftButton)
        HandleMousePress(Qt::LeftButton, globalPos);
    else if (m_step == Step::Armed)
        CancelArmedClick(); // any other button gives the armed click up
}

void CaptureEngine::hideMainForCapture(const CaptureWindowFacts &facts)
{
    m_hiddenCentre = facts.frameCentre;
    m_hiddenSelf = facts.id;
    emit hideWindow();
    m_mainHiddenForCapture = true;
    m_stepClock.start();
    waitStep(Step::HideWait, 0);
}

void CaptureEngine::windowOutOfTheWay()
{
    if (m_platform.screenOnRequest())
        requestScreen(ScreenPlatform::ScreenRequest::WholeScreen, [this](const QImage &) { screenReady(); });
    else
        screenReady();
}

void CaptureEngine::requestScreen(ScreenPlatform::ScreenRequest kind,
                                  std::function<void(const QImage &)> ready)
{
    m_step = Step::ScreenRequest;
    const quint32 serial = ++m_requestSerial;
    m_platform.requestScreen(
        kind, this, [this, serial, ready = std::move(ready)](const QImage &picture, const QString &failure) {
            // A capture given up meanwhile (closed window, quit) ignores it.
            if (serial != m_requestSerial || m_step != Step::ScreenRequest)
                return;
            if (picture.isNull() && !failure.isEmpty()) {
                screenRequestFailed(failure);
            } else if (picture.isNull()) {
                // The user cancelled the desktop's picker.
                giveUp();
                emit commandsChanged();
            } else {
                ready(picture);
            }
        });
}

void CaptureEngine::screenRequestFailed(const QString &reason)
{
    giveUp();
    if (m_mainHiddenForCapture) {
        m_mainHiddenForCapture = false;
        emit restoreWindow();
    }
    emit commandsChanged();
    setNotice(reason);
    const QPointer<CaptureEngine> alive(this);
    emit captureFailed(reason);
    if (alive && !m_failureTold && !m_quiet) {
        m_failureTold = true;
        emit failureNotice(reason);
    }
}

void CaptureEngine::setNotice(const QString &text)
{
    m_ownNotice = !text.isEmpty();
    emit statusNotice(text);
}

void CaptureEngine::captureWindowOnRequest(int mode)
{
    if (m_platform.offersUserPick()) {
        requestScreen(ScreenPlatform::ScreenRequest::UserPicks,
                      [this, mode](const QImage &picture) { showCapture(mode, picture); });
        return;
    }
    m_step = Step::Capturing;
    showCapture(mode, QImage());
    if (m_step == Step::Idle)
        setNotice(kNoSingleWindowNotice);
}

CaptureWindowFacts CaptureEngine::windowFacts() const
{
    return m_windowFacts ? m_windowFacts() : CaptureWindowFacts{};
}

void CaptureEngine::screenReady()
{
    if (m_captureMode == CaptRect) {
        m_step = Step::OverlayStart;
        m_overlayStartTimer.start(CaptureMath::kOverlayStartMs);
    } else {
        CaptureToPicture(m_captureMode);
    }
}

void CaptureEngine::onStepTimer()
{
    const auto timeUp = [this] { return m_stepClock.elapsed() >= kWindowManagerWaitMs; };
    switch (m_step) {
    case Step::HideWait:
        // The window manager takes the frame away after the window itself is gone; the
        // capture waits for that (and for the windows below to repaint), or the picture
        // would still show the capture window.
        if (!m_platform.isSupported() && m_platform.screenOnRequest())
            waitStep(Step::RepaintSettle, kCompositorSettleMs);
        else if (!m_platform.isSupported() || timeUp())
            windowOutOfTheWay();
        else if (m_platform.topWindowFromPoint(m_hiddenCentre) != m_hiddenSelf)
            waitStep(Step::RepaintSettle, kRepaintSettleMs);
        else
            waitStep(Step::HideWait, kPollMs);
        break;
    case Step::RepaintSettle:
        windowOutOfTheWay();
        break;
    case Step::Arming:
        if (m_clickCatcher.grabPointer())
            armed();
        else if (timeUp())
            giveUp(); // no click can come: nothing changes
        else
            waitStep(Step::Arming, kPollMs);
        break;
    case Step::ClickSettle:
        if (--m_settleTurns > 0)
            waitStep(Step::ClickSettle, 0);
        else
            clickSettled();
        break;
    case Step::Activation:
        if (m_platform.foregroundWindow() == m_clickTop)
            captureClicked(true);
        else if (timeUp())
            captureClicked(false);
        else
            waitStep(Step::Activation, kPollMs);
        break;
    default:
        break;
    }
}

void CaptureEngine::GetCaptureItem(int mode, Feedback feedback)
{
    if (mode < CaptDeskTop || mode > CaptAct1 || !makeWayForCommand())
        return;

    m_captureMode = int16_t(mode);
    m_quiet = feedback == Feedback::Quiet;
    const CaptureWindowFacts facts = windowFacts();
    m_hadPictureBefore = facts.hasPicture;
    emit pictureStateChanged(false);
    if (m_ownNotice)
        setNotice(QString());

    const Settings &settings = m_ctx.settings;
    switch (mode) {
    case CaptDeskTop:
    case CaptDeskTop1:
    case CaptRect:
        if (facts.visible && (mode == CaptRect ? settings.CaptExeHide2 : settings.CaptExeHide1) == 1)
            hideMainForCapture(facts);
        else
            windowOutOfTheWay();
        break;
    default:
        // Where the screen comes only on request, no window can be looked at or clicked:
        // the delay and the armed click have nothing to wait for.
        if (m_platform.screenOnRequest()) {
            captureWindowOnRequest(mode);
        } else if (settings.ActCaptMode == 0) {
            m_waitTicks = CaptureMath::WaitTicksFor(settings.IntTimer);
            m_step = Step::Delay;
            m_delayTimer.start(m_delayTickMs);
        } else if (settings.ActCaptMode == 1) {
            armClick(mode);
        }
        break;
    }
}

void CaptureEngine::CaptHotKey(int index)
{
    if (index >= CaptDeskTop && index <= CaptRect) {
        GetCaptureItem(index);
    } else if (isActiveWindowMode(index)) {
        // At once, with nothing to wait for: inside a running capture it would take its
        // picture in that capture's middle.
        if (!makeWayForCommand())
            return;
        m_captureMode = int16_t(index);
        m_quiet = false;
        if (m_platform.screenOnRequest()) {
            m_hadPictureBefore = windowFacts().hasPicture;
            if (m_ownNotice)
                setNotice(QString());
            captureWindowOnRequest(index);
        } else {
            CaptureToPicture(index);
        }
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
    m_step = Step::Overlay;
    if (m_selectionHooks.StartOverlay)
        m_selectionHooks.StartOverlay();
    else
        CancelAreaCapture();
}

void CaptureEngine::AreaSelectionReleased()
{
    if (m_step != Step::Overlay)
        return;
    m_waitTicks = 1;
    m_delayTimer.start(m_delayTickMs);
}

void CaptureEngine::CancelAreaCapture()
{
    if (m_step != Step::Overlay)
        return;
    m_delayTimer.stop();
    m_step = Step::Idle;
    emit pictureStateChanged(m_hadPictureBefore);
    if (m_mainHiddenForCapture) {
        m_mainHiddenForCapture = false;
        emit restoreWindow();
    }
    emit commandsChanged();
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
    if (button != Qt::LeftButton || m_armedClickMode == 0)
        return false;
    if (!isActiveWindowMode(m_armedClickMode)) {
        m_armedClickMode = 0;
        return false;
    }
    m_captureMode = m_armedClickMode;
    // The grab ends with this click: holding it longer would keep every later click of
    // the user away from the other programs.
    releaseArmedClick();
    m_delayTimer.stop();
    m_clickPos = m_platform.isSupported() ? m_platform.cursorPos() : globalPos;
    m_settleTurns = kClickSettleTurns;
    waitStep(Step::ClickSettle, 0);
    return true;
}

void CaptureEngine::clickSettled()
{
    m_clickUnder = m_platform.windowFromPoint(m_clickPos);
    m_clickTop = m_platform.topWindowFromPoint(m_clickPos);
    if (m_clickTop == 0 || m_clickTop == m_platform.foregroundWindow()) {
        captureClicked(true);
    } else if (m_platform.setForegroundWindow(m_clickTop)) {
        // Activation goes through the window manager; the capture looks at the
        // foreground window, so it waits until the clicked one has become it.
        m_stepClock.start();
        waitStep(Step::Activation, 0);
    } else {
        captureClicked(false); // the desktop: nothing to activate
    }
}

void CaptureEngine::captureClicked(bool activated)
{
    // When the clicked window did not become the foreground window (the window manager
    // refused a window that takes no focus, or the click was on the desktop), the
    // foreground window is still some other one, often ours: the clicked top-level
    // window is taken instead, as the first window.
    m_clickNotActivated = !activated;
    CaptureToPicture(m_captureMode, m_clickTop, m_clickUnder);
}

void CaptureEngine::CaptureToPicture(int mode, WindowId first, WindowId second)
{
    stopWaits();
    m_step = Step::Capturing;
    QImage bitmap;
    switch (mode) {
    case CaptDeskTop:
        bitmap = CaptureGrab::wholeScreen(m_platform);
        break;
    case CaptDeskTop1:
        bitmap = CaptureGrab::workArea(m_platform);
        break;
    case CaptRect:
        bitmap = CaptureGrab::RectToBitmap(m_platform,
                                           CaptureMath::SelectionRect(m_selX1, m_selY1, m_selX2, m_selY2));
        if (m_selectionHooks.CloseOverlay)
            m_selectionHooks.CloseOverlay();
        break;
    case CaptAct:
    case CaptAct1: {
        const WindowId foreground = m_clickNotActivated ? 0 : m_platform.foregroundWindow();
        m_clickNotActivated = false;
        bitmap = CaptureGrab::activeWindow(m_platform, mode == CaptAct ? 1 : 2, foreground,
                                           m_ctx.settings.ActCaptMode != 0, first, second);
        break;
    }
    default:
        break;
    }
    showCapture(mode, bitmap);
}

void CaptureEngine::showCapture(int mode, const QImage &bitmap)
{
    m_step = Step::Capturing;
    // From here on nothing waits: the receiver draws the picture and runs the follow-ups in
    // one go, with no other event between them.
    CapturedPicture shot;
    shot.mode = mode;
    shot.picture = bitmap;
    shot.quiet = m_quiet;
    const Settings &settings = m_ctx.settings;
    shot.showWindow = (settings.CaptExeHide1 == 1 || settings.CaptExeHide2 == 1) && m_mainHiddenForCapture;
    if (shot.showWindow)
        m_mainHiddenForCapture = false;

    // Only a failed save lets events in, through its notice; a quit arriving then closes the
    // window without deleting it, and the follow-ups finish on it.
    const QPointer<CaptureEngine> alive(this);
    emit pictureTaken(shot);
    if (!alive)
        return;
    m_step = Step::Idle;
    emit captured(mode, bitmap.size());
}
