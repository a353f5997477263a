#include "capture/FrmAutoCapt.h"

#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "ui/Commands.h"
#include "base/ModZorvin.h"

#include <algorithm>

FrmAutoCapt::FrmAutoCapt(ModZorvin &ctx, Commands &commands, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_commands(commands)
{
    setObjectName(QStringLiteral("FrmAutoCapt"));
    m_timer1.setSingleShot(true);
    connect(&m_timer1, &QTimer::timeout, this, &FrmAutoCapt::onTimer1Timeout);
}

void FrmAutoCapt::Load()
{
    if (m_ctx.settings.AutoCapt == 1 && IntervalSeconds(m_ctx.settings.AutoCaptTim) > 0)
        ArmAutoCaptTimer();
}

void FrmAutoCapt::ArmAutoCaptTimer()
{
    m_counter = counter();
    startCounting();
}

void FrmAutoCapt::ApplyAutoCaptSettings()
{
    if (m_ctx.settings.AutoCapt == 1 && m_ctx.settings.AutoCaptTim != 0) {
        // A running count goes on, measured against the interval as it is now.
        ArmAutoCaptTimer();
    } else {
        m_counter = counter();
        m_timer1.stop();
    }
}

int16_t FrmAutoCapt::counter() const
{
    if (!m_timer1.isActive())
        return m_counter;
    const qint64 ticks = m_since.elapsed() / std::max(1, m_tickMs);
    return int16_t(std::min<qint64>(m_counter + std::min<qint64>(ticks, m_armedTicks - 1), INT16_MAX));
}

void FrmAutoCapt::startCounting()
{
    const int16_t interval = IntervalSeconds(m_ctx.settings.AutoCaptTim);
    m_armedTicks = std::max(1, int(interval) - int(m_counter));
    m_since.start();
    m_timer1.start(m_armedTicks * m_tickMs);
}

void FrmAutoCapt::onTimer1Timeout()
{
    m_counter = int16_t(std::min(int(m_counter) + m_armedTicks, int(INT16_MAX)));
    const int16_t interval = IntervalSeconds(m_ctx.settings.AutoCaptTim);
    // The interval may have grown since the count started.
    if (m_counter < interval) {
        startCounting();
        return;
    }
    m_counter = 0;
    if (m_ctx.settings.AutoCapt != 1 || interval <= 0)
        return; // switched off meanwhile: the count stays stopped
    captureNow();
    startCounting();
}

void FrmAutoCapt::captureNow()
{
    // Null once the quit has begun.
    FrmMain *window = loadCaptureWindow(m_commands);
    if (!window)
        return;
    CaptureEngine &capture = window->capture();
    // Never a second capture on top of one still running (an area being dragged, a click
    // being waited for, an archive being written for the last one).
    if (capture.isCapturing()) {
        emit captureSkipped();
        return;
    }
    capture.GetCaptureItem(CaptDeskTop, CaptureEngine::Feedback::Quiet);
    emit captureStarted();
}
