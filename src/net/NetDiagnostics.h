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

    // Kinds by number, so that recording a datagram builds no text: 0 is "?".
    static QString kindName(int kind);
    static int kindNumber(QByteArrayView bytes);

    struct Record
    {
        qint64 msecs = 0; // since the epoch; the clock is read cheaply, converted when shown
        Direction direction = Sent;
        uint8_t kindNumber = 0;
        int size = 0;
        QString address;
        QDateTime time() const { return QDateTime::fromMSecsSinceEpoch(msecs); }
        QString kind() const { return kindName(kindNumber); }
    };
    struct Counts
    {
        quint64 sent = 0;
        quint64 received = 0;
        // Received and dropped as forged, replayed or not opening: the plain form of a
        // message datagram from a keyed peer, or a sealed one that failed.
        quint64 refused = 0;
    };

    // The leading command of a datagram ("captMS", "cBX", ...) or "?" for anything else;
    // the rest of the text is never looked at.
    static QString kindOf(QByteArrayView bytes);

    void record(Direction direction, const QString &address, QByteArrayView bytes);
    // A datagram already recorded as received was refused; counted under its kind.
    void recordRefused(QByteArrayView bytes);
    // Counting off leaves every figure as it is; only the presence benchmark switches it.
    void setEnabled(bool on) { m_enabled = on; }

    // By kind name, only the kinds seen.
    QHash<QString, Counts> counts() const;
    // Oldest first.
    QList<Record> history() const;
    QHash<QString, QDateTime> lastHeard() const;

  private:
    bool m_enabled = true;
    static constexpr int kKinds = 12;
    std::array<Counts, kKinds> m_counts{};
    std::array<Record, kHistorySize> m_ring;
    int m_next = 0;
    int m_filled = 0;
    QHash<QString, qint64> m_lastHeard;
};
