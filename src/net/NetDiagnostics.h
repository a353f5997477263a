// What the datagram sockets saw, for the diagnostics window and --diagnose: counts per
// kind and direction, the last datagrams, and when each peer was last heard. Only the
// kind, address, size and time are kept, never a datagram's text.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <array>

class NetDiagnostics
{
  public:
    enum Direction : uint8_t { Sent = 0, Received = 1 };
    static constexpr int kHistorySize = 200;

    struct Record
    {
        QDateTime time;
        Direction direction = Sent;
        QString address;
        QString kind;
        int size = 0;
    };
    struct Counts
    {
        quint64 sent = 0;
        quint64 received = 0;
    };

    // The leading command of a datagram ("captMS", "cBX", ...) or "?" for anything else;
    // the rest of the text is never looked at.
    static QString kindOf(QByteArrayView bytes);

    void record(Direction direction, const QString &address, QByteArrayView bytes);
    // Counting off leaves every figure as it is; only the presence benchmark switches it.
    void setEnabled(bool on) { m_enabled = on; }

    const QHash<QString, Counts> &counts() const { return m_counts; }
    // Oldest first.
    QList<Record> history() const;
    const QHash<QString, QDateTime> &lastHeard() const { return m_lastHeard; }

  private:
    bool m_enabled = true;
    QHash<QString, Counts> m_counts;
    std::array<Record, kHistorySize> m_ring;
    int m_next = 0;
    int m_filled = 0;
    QHash<QString, QDateTime> m_lastHeard;
};
