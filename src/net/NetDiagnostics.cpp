#include "net/NetDiagnostics.h"

#include "base/Protocol.h"

#include <iterator>

namespace {

// Numbers 1-9 are the six-letter kinds, 10-11 the three-letter ones.
const QLatin1StringView kKindNames[] = {
    QLatin1StringView("?"), Protocol::kAnnounce,    Protocol::kLegacyAnswer, Protocol::kMessage,
    Protocol::kReceipt,     Protocol::kOpenReceipt, Protocol::kGoodbye,      Protocol::kStop,
    Protocol::kKeyAnnounce, Protocol::kSealed,      Protocol::kShortAnswer,  Protocol::kGroupAnswer};
constexpr int kFirstShortKind = 10;

} // namespace

QString NetDiagnostics::kindName(int kind)
{
    return kind > 0 && kind < int(std::size(kKindNames)) ? QString(kKindNames[kind]) : QStringLiteral("?");
}

int NetDiagnostics::kindNumber(QByteArrayView bytes)
{
    // Kinds are ASCII, so the leading bytes compare directly whatever the encoding of the rest.
    const QByteArrayView head6 = bytes.first(qMin<qsizetype>(bytes.size(), Protocol::kKindChars));
    const QByteArrayView head3 = bytes.first(qMin<qsizetype>(bytes.size(), Protocol::kShortKindChars));
    for (int kind = 1; kind < int(std::size(kKindNames)); ++kind) {
        const QLatin1StringView name = kKindNames[kind];
        if ((kind < kFirstShortKind ? head6 : head3) == QByteArrayView(name.data(), name.size()))
            return kind;
    }
    return 0;
}

QString NetDiagnostics::kindOf(QByteArrayView bytes)
{
    return kindName(kindNumber(bytes));
}

void NetDiagnostics::record(Direction direction, const QString &address, QByteArrayView bytes)
{
    static_assert(std::size(kKindNames) == kKinds);
    if (!m_enabled)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int kind = kindNumber(bytes);
    Counts &counts = m_counts[size_t(kind)];
    if (direction == Sent)
        ++counts.sent;
    else {
        ++counts.received;
        m_lastHeard.insert(address, now);
    }
    Record &slot = m_ring[m_next];
    slot.msecs = now;
    slot.direction = direction;
    slot.address = address;
    slot.kindNumber = uint8_t(kind);
    slot.size = int(bytes.size());
    m_next = (m_next + 1) % kHistorySize;
    m_filled = qMin(m_filled + 1, kHistorySize);
}

void NetDiagnostics::recordRefused(QByteArrayView bytes)
{
    if (m_enabled)
        ++m_counts[size_t(kindNumber(bytes))].refused;
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

QHash<QString, NetDiagnostics::Counts> NetDiagnostics::counts() const
{
    QHash<QString, Counts> out;
    for (int kind = 0; kind < kKinds; ++kind) {
        if (m_counts[size_t(kind)].sent || m_counts[size_t(kind)].received || m_counts[size_t(kind)].refused)
            out.insert(kindName(kind), m_counts[size_t(kind)]);
    }
    return out;
}

QHash<QString, QDateTime> NetDiagnostics::lastHeard() const
{
    QHash<QString, QDateTime> out;
    for (auto it = m_lastHeard.cbegin(); it != m_lastHeard.cend(); ++it)
        out.insert(it.key(), QDateTime::fromMSecsSinceEpoch(it.value()));
    return out;
}
