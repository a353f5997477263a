// The message log: one block of CP932 lines per message sent or shown, appended to a
// file whose name may carry the year, month or day; and the command that opens it.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class ModZorvin;
class EngineEvents;
class QDate;
class QLocale;
struct Settings;

class MsgLog
{
  public:
    enum Direction { Received = 1, Sent = 2 };
    enum Origin { FromSendDialog = 1, DirectSend = 2 };

    // Received records one address may add to the log in a minute. A flood beyond it is
    // shown (every message still gets its window) but not logged; one line in the log says
    // how many records were left out.
    static constexpr int kReceivedRecordsPerMinute = 20;

    MsgLog(ModZorvin &ctx, EngineEvents &events);

    // Appends one record when the log is on. For a sent message `text` is the whole
    // datagram and the record takes it from its 13th character; for a received one it is
    // the text as shown. `sendList` holds the names of the send dialog's list (origin 1);
    // `name` is the sender (received) or the recipient (direct send). The message itself
    // never depends on its log: a failure is reported through msgLogWriteFailed only.
    void WriteMsgLog(int direction, int origin, const QString &name, const QString &text,
                     const QString &displayMode, const QStringList &sendList = {}) const;
    // The record of a message received from `address`, within the address's share of the
    // minute. The line about the records left out is written when the minute is over: before
    // the next record from that address, or by a check that runs while minutes are open.
    void WriteReceivedMsgLog(const QString &address, const QString &name, const QString &text,
                             const QString &displayMode);
    // How often that check runs (a minute; tests shorten it).
    void setRateCheckInterval(int ms) { m_rateCheck.setInterval(ms); }

    // The clock that dates records and names files; tests set a fixed one.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    QDateTime now() const { return m_clock(); }

    // Opens today's log file in the configured viewer through the engine's events.
    void ShowMsgLog() const;

    // The log file for a day: folder, "/" unless the folder ends with one, base name,
    // the date part of the naming type, ".log".
    static QString LogFilePath(const Settings &settings, const QString &programDir, const QDate &day);
    QString CurrentLogPath() const;

    // One record as written to the file. Weekday and month names come from `locale`.
    static QByteArray FormatRecord(int direction, int origin, const QString &name, const QString &text,
                                   const QString &displayMode, const QStringList &sendList,
                                   const QDateTime &now, const QLocale &locale);

    // The viewer command for a path: the program and its arguments, the path last. An
    // empty program means "the desktop's default viewer" (the default "NOTEPAD" is not a
    // program a Linux desktop has).
    struct ViewerCommand
    {
        QString program;
        QStringList arguments;
    };
    static ViewerCommand ViewerCommandFor(const QString &showApp, const QString &path);

    // The line that tells how many records from a sender were left out.
    static QByteArray FormatDroppedLine(const QString &name, const QString &address, int dropped);

  private:
    // One address's current minute.
    struct RateWindow
    {
        QDateTime start;
        int written = 0;
        int dropped = 0;
        QString name; // of the last message left out
    };
    bool windowEnded(const RateWindow &window, const QDateTime &now) const;
    void closeEndedWindows();
    void append(const QDateTime &now, const QByteArray &bytes) const;

    ModZorvin &m_ctx;
    EngineEvents &m_events;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };
    QHash<QString, RateWindow> m_windows; // by sender address
    // The last write failed; the next failure is not reported again.
    mutable bool m_failing = false;
    QTimer m_rateCheck;
};
