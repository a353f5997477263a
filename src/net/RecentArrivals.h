// Remembers the messages received lately, so that a sender's retry after a lost receipt
// (same address, same id, same text, a little later) is told apart from a new message.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <deque>

class RecentArrivals
{
  public:
    // How long a message is remembered: longer than a sender's retry question stays open.
    static constexpr int kDefaultWindowMs = 5 * 60 * 1000;
    // At most this many are remembered; the oldest go first. Ids run 00-99 per sender, so
    // this covers a hundred senders at full rate.
    static constexpr int kMaxRemembered = 10000;

    RecentArrivals();

    // True when the same message from `ip` arrived within the window; otherwise remembers
    // it and gives false. A message without an id (older peers send blanks) is never a
    // repeat.
    bool isRepeat(const QString &ip, const QString &messageId, const QString &text);

    void setWindowMs(int ms) { m_windowMs = ms; }
    int size() const { return int(m_byKey.size()); }

  private:
    struct Seen
    {
        size_t textHash;
        qint64 at;
    };
    void forgetOld(qint64 now);

    QElapsedTimer m_clock;
    int m_windowMs = kDefaultWindowMs;
    QHash<QString, Seen> m_byKey;
    // Keys in the order they were last seen, with that time; stale pairs are skipped.
    std::deque<std::pair<QString, qint64>> m_order;
};
