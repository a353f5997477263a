// How far one running send or reception has got, as the engine reports it to the windows
// a few times a second; the windows only draw it.
#pragma once

#include <QElapsedTimer>
#include <QMetaType>
#include <QString>

struct TransferProgress
{
    enum class State { Packing, Moving, Ended };

    bool sending = true;
    // The send-job slot or the receive slot: unique among running sends (receptions) and
    // kept until Ended has been reported.
    int id = -1;
    State state = State::Moving;
    QString name; // recipient (send) or sender (reception)
    QString kind; // "F" file, "I" picture
    QString item;
    qint64 done = 0;
    qint64 total = 0;
    qint64 bytesPerSecond = 0; // 0 while unknown
    // Which outcomes of a send the user asked to hear of (0 none .. 3 failures only).
    int notice = 2;

    // One transfer among all sends and receptions.
    qint64 key() const { return (qint64(sending) << 32) | quint32(id); }
    // Seconds to go at the present pace; -1 while unknown.
    qint64 secondsLeft() const { return bytesPerSecond > 0 ? (total - done) / bytesPerSecond : -1; }
};
Q_DECLARE_METATYPE(TransferProgress)

// The pace of one transfer's reports: due() at most every kProgressIntervalMs, checked
// on the data path, so no timer runs for it; the speed is the average since start().
class ProgressPace
{
  public:
    static constexpr qint64 kProgressIntervalMs = 250;

    void start(qint64 done)
    {
        m_clock.start();
        m_lastMs = 0;
        m_startDone = done;
    }
    bool started() const { return m_clock.isValid(); }
    // True, and counted as reported, when the last report is old enough.
    bool due()
    {
        if (!m_clock.isValid())
            return false;
        const qint64 now = m_clock.elapsed();
        if (now - m_lastMs < kProgressIntervalMs)
            return false;
        m_lastMs = now;
        return true;
    }
    qint64 bytesPerSecond(qint64 done) const
    {
        const qint64 ms = m_clock.isValid() ? m_clock.elapsed() : 0;
        return ms >= kProgressIntervalMs ? (done - m_startDone) * 1000 / ms : 0;
    }

  private:
    QElapsedTimer m_clock;
    qint64 m_lastMs = 0;
    qint64 m_startDone = 0;
};
