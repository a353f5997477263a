#include "net/NetDiagnostics.h"

#include "net/Protocol.h"

namespace {

const QLatin1StringView kLongKinds[] = {Protocol::kAnnounce, Protocol::kLegacyAnswer, Protocol::kMessage,
                                        Protocol::kReceipt,  Protocol::kOpenReceipt,  Protocol::kGoodbye,
                                        Protocol::kStop};
const QLatin1StringView kShortKinds[] = {Protocol::kShortAnswer, Protocol::kGroupAnswer};

} // namespace

QString NetDiagnostics::kindOf(QByteArrayView bytes)
{
    // Kinds are ASCII, so the leading bytes compare directly whatever the encoding of the rest.
    const QByteArrayView head6 = bytes.first(qMin<qsizetype>(bytes.size(), Protocol::kKindChars));
    for (const QLatin1StringView kind : kLongKinds) {
        if (head6 == QByteArrayView(kind.data(), kind.size()))
            return QString(kind);
    }
    const QByteArrayView head3 = bytes.first(qMin<qsizetype>(bytes.size(), Protocol::kShortKindChars));
    for (const QLatin1StringView kind : kShortKinds) {
        if (head3 == QByteArrayView(kind.data(), kind.size()))
            return QString(kind);
    }
    return QStringLiteral("?");
}

void NetDiagnostics::record(Direction direction, const QString &address, QByteArrayView bytes)
{
    if (!m_enabled)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QString kind = kindOf(bytes);
    Counts &counts = m_counts[kind];
    if (direction == Sent)
        ++counts.sent;
    else {
        ++counts.received;
        m_lastHeard.insert(address, now);
    }
    Record &slot = m_ring[m_next];
    slot.time = now;
    slot.direction = direction;
    slot.address = address;
    slot.kind = kind;
    slot.size = int(bytes.size());
    m_next = (m_next + 1) % kHistorySize;
    m_filled = qMin(m_filled + 1, kHistorySize);
}

QList<NetDiagnostics::Record> NetDiagnostics::history() const
{
    QList<Record> out;
    out.reserve(m_filled);
    const int first = (m_next - m_filled + kHistorySize) % kHistorySize;
    for (int i = 0; i < m_filled; ++i)
        out.append(m_ring[(first + i) % kHistorySize]);
    return out;
}
