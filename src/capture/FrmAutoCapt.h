// The interval capture: while AutoCapt is 1, a quiet capture of the whole screen every
// AutoCaptTim seconds, with the capture's usual follow-ups (clipboard, automatic save,
// automatic transfer). It counts seconds towards the next capture; the count survives
// switching the capture off and on.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>

class Commands;
class ModZorvin;

class FrmAutoCapt : public QObject
{
    Q_OBJECT
  public:
    FrmAutoCapt(ModZorvin &ctx, Commands &commands, QObject *parent = nullptr);

    // Start-up: counting starts when AutoCapt is 1 and the interval is above 0.
    void Load();
    // Counting goes on (or starts) from the counter's value.
    void ArmAutoCaptTimer();
    // After the options were saved: counting goes on when AutoCapt is 1 and AutoCaptTim is
    // not 0 (a new interval counts from now on), and stops otherwise. The counter stays.
    void ApplyAutoCaptSettings();

    bool isRunning() const { return m_timer1.isActive(); }
    // The seconds counted towards the next capture.
    int16_t counter() const;

    // The interval in seconds as the capture compares it: 16 bits, so 32768 and more count
    // as not above 0 and never capture.
    static int16_t IntervalSeconds(int32_t autoCaptTim) { return int16_t(autoCaptTim); }
    // The length of one second; 1000 ms unless a test shortens it.
    void setTickInterval(int ms) { m_tickMs = ms; }

  signals:
    // The interval ran out and the capture was started.
    void captureStarted();
    // The interval ran out while a capture was still running: this one is left out, and
    // the next comes a whole interval later.
    void captureSkipped();

  private:
    void onTimer1Timeout();
    // Starts the count from m_counter towards the interval. Rather than waking every
    // second, the timer runs out when the count would reach the interval (or at the next
    // second when it is not above 0, where the count stops).
    void startCounting();
    void captureNow();

    ModZorvin &m_ctx;
    Commands &m_commands;
    QTimer m_timer1;
    QElapsedTimer m_since;
    int16_t m_counter = 0;
    // The seconds the running timer stands for.
    int m_armedTicks = 0;
    int m_tickMs = 1000;
};
