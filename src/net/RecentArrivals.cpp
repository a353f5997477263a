#include "net/RecentArrivals.h"

RecentArrivals::RecentArrivals()
{
    m_clock.start();
}

bool RecentArrivals::isRepeat(const QString &ip, const QString &messageId, const QString &text)
{
    if (messageId.trimmed().isEmpty())
        return false;
    const qint64 now = m_clock.elapsed();
    forgetOld(now);
    const QString key = ip + QLatin1Char('/') + messageId;
    const size_t textHash = qHash(text);
    const auto it = m_byKey.constFind(key);
    const bool repeat = it != m_byKey.cend() && it->textHash == textHash;
    // A new message, or the id came round again with another text, counts from now; so
    // does a repeat, as the sender may retry again and again.
    m_byKey.insert(key, Seen{textHash, now});
    m_order.emplace_back(key, now);
    return repeat;
}

void RecentArrivals::forgetOld(qint64 now)
{
    // Pairs of keys seen again later are stale; under a steady flood of one key they would
    // otherwise pile up for the whole window.
    while (!m_order.empty() &&
           (now - m_order.front().second > m_windowMs || int(m_byKey.size()) >= kMaxRemembered ||
            m_order.size() > 2 * size_t(kMaxRemembered))) {
        const auto [key, at] = m_order.front();
        m_order.pop_front();
        const auto it = m_byKey.find(key);
        // Only the pair of its latest arrival removes a key.
        if (it != m_byKey.end() && it->at == at)
            m_byKey.erase(it);
    }
}
