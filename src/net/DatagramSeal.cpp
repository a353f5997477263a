#include "net/DatagramSeal.h"

#include "base/AnsiCodec.h"
#include "base/StrictBase64.h"
#include "base/Protocol.h"
#include "net/Identity.h"
#include "net/NetDiagnostics.h"
#include "net/NetLog.h"
#include "net/PeerKeys.h"

#include <QDateTime>
#include <QtEndian>
#include <algorithm>
#include <sodium.h>

namespace {

constexpr auto kBase64 = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
constexpr int kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr int kTagBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
// Inside the seal, before the datagram: the sender's session, its counter for this peer and
// its clock, 8 bytes each.
constexpr int kSessionBytes = 8;
constexpr int kInnerHeadBytes = 3 * 8;
// A message of 8192 characters is at most twice as many bytes in CP932.
constexpr int kMaxInnerBytes = 2 * Protocol::kMaxMessageChars + 64;
constexpr int kMaxSealedBytes = kNonceBytes + kTagBytes + kInnerHeadBytes + kMaxInnerBytes;
// Sessions remembered per peer: a peer restarting again and again pushes out its oldest.
constexpr int kSessionsPerPeer = 8;

const QLatin1StringView kSealedKinds[] = {Protocol::kMessage, Protocol::kReceipt, Protocol::kOpenReceipt,
                                          Protocol::kGoodbye, Protocol::kStop};

QByteArray header()
{
    return QByteArray(Protocol::kSealed.data(), Protocol::kSealed.size()) +
           QByteArray::number(Protocol::kExtensionVersion)
               .rightJustified(Protocol::kExtensionVersionChars, '0');
}

// The header and both keys, in the sender's order, are bound to the seal: a datagram cut
// from another exchange, or sent back to its sender, does not open.
QByteArray additionalData(const QByteArray &senderKey, const QByteArray &recipientKey)
{
    return header() + senderKey + recipientKey;
}

const unsigned char *bytesOf(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

} // namespace

DatagramSeal::DatagramSeal(const Identity &identity, const PeerKeys &peers, NetDiagnostics &diagnostics)
    : m_identity(identity), m_peers(peers), m_diagnostics(diagnostics),
      m_clock([] { return QDateTime::currentMSecsSinceEpoch(); }), m_session(kSessionBytes, '\0')
{
    randombytes_buf(m_session.data(), size_t(m_session.size()));
}

DatagramSeal::~DatagramSeal() = default;

bool DatagramSeal::isSealedKind(QStringView datagram)
{
    const QStringView kind = datagram.left(Protocol::kKindChars);
    return std::any_of(std::begin(kSealedKinds), std::end(kSealedKinds),
                       [kind](QLatin1StringView sealed) { return kind == sealed; });
}

bool DatagramSeal::isSealedKind(QByteArrayView bytes)
{
    // Kinds are ASCII: the leading bytes compare directly whatever the rest is.
    const QByteArrayView kind = bytes.first(qMin<qsizetype>(bytes.size(), Protocol::kKindChars));
    return std::any_of(std::begin(kSealedKinds), std::end(kSealedKinds), [kind](QLatin1StringView sealed) {
        return kind == QByteArrayView(sealed.data(), sealed.size());
    });
}

bool DatagramSeal::isKeyed(const QString &ip) const
{
    return m_identity.isReady() && m_peers.trustOf(ip) != PeerKeys::Trust::None;
}

const SealKeys *DatagramSeal::keysFor(const QByteArray &peerKey)
{
    const QByteArray ownKey = m_identity.publicKey();
    if (ownKey != m_keysOwnKey) {
        m_keys.clear();
        m_keysOwnKey = ownKey;
    }
    auto it = m_keys.constFind(peerKey);
    if (it == m_keys.cend()) {
        const std::optional<SealKeys> agreed = SealKeys::agree(m_identity, peerKey);
        if (!agreed)
            return nullptr;
        it = m_keys.insert(peerKey, *agreed);
    }
    return &*it;
}

QString DatagramSeal::outgoing(const QString &datagram, const QString &destination)
{
    if (!isSealedKind(QStringView(datagram)) || !isKeyed(destination))
        return datagram;
    // To a peer whose key changed, still to the pinned key: the new one may be a forger's,
    // and the real peer can open it as before.
    const QByteArray peerKey = m_peers.pinnedKey(destination);
    const SealKeys *keys = keysFor(peerKey);
    if (!keys) {
        qCWarning(lcNet) << "not sent: the pinned key of" << destination << "is not usable";
        return QString();
    }
    const quint64 counter = ++m_sentCounters[peerKey];
    QByteArray inner(kInnerHeadBytes, Qt::Uninitialized);
    std::copy(m_session.cbegin(), m_session.cend(), inner.begin());
    qToBigEndian<quint64>(counter, inner.data() + kSessionBytes);
    qToBigEndian<qint64>(m_clock(), inner.data() + 2 * kSessionBytes);
    inner += AnsiCodec::encode(datagram);

    QByteArray sealed(kNonceBytes + inner.size() + kTagBytes, Qt::Uninitialized);
    auto *nonce = reinterpret_cast<unsigned char *>(sealed.data());
    randombytes_buf(nonce, kNonceBytes);
    const QByteArray ad = additionalData(m_identity.publicKey(), peerKey);
    unsigned long long sealedBytes = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(nonce + kNonceBytes, &sealedBytes, bytesOf(inner),
                                               size_t(inner.size()), bytesOf(ad), size_t(ad.size()), nullptr,
                                               nonce, keys->toPeer().data());
    sodium_memzero(inner.data(), size_t(inner.size()));
    return QString::fromLatin1(header() + sealed.toBase64(kBase64));
}

std::optional<QByteArray> DatagramSeal::parse(QByteArrayView bytes)
{
    if (!bytes.startsWith(header()))
        return std::nullopt;
    const QByteArrayView text = bytes.sliced(Protocol::kSealedFrom - 1);
    if (text.size() > (kMaxSealedBytes * 4 + 2) / 3)
        return std::nullopt;
    // One spelling only: the same bytes written again must give the same text.
    std::optional<QByteArray> decoded = decodeStrictBase64(text, kBase64);
    if (!decoded || decoded->size() < kNonceBytes + kTagBytes + kInnerHeadBytes)
        return std::nullopt;
    return decoded;
}

DatagramSeal::Verdict DatagramSeal::incoming(const QString &ip, QByteArrayView bytes, QString *opened)
{
    if (!m_identity.isReady())
        return Verdict::Plain;
    const QByteArrayView kind = bytes.first(qMin<qsizetype>(bytes.size(), Protocol::kKindChars));
    const bool sealedKind = kind == QByteArrayView(Protocol::kSealed.data(), Protocol::kSealed.size());
    if (!sealedKind) {
        if (isSealedKind(bytes) && m_peers.trustOf(ip) != PeerKeys::Trust::None)
            return refuse(ip, bytes, "plain datagram from a keyed peer");
        return Verdict::Plain;
    }
    const QByteArray peerKey = m_peers.pinnedKey(ip);
    if (peerKey.isEmpty())
        return refuse(ip, bytes, "sealed datagram from a peer without a pinned key");
    const std::optional<QByteArray> sealed = parse(bytes);
    if (!sealed)
        return refuse(ip, bytes, "malformed sealed datagram");
    const SealKeys *keys = keysFor(peerKey);
    if (!keys)
        return refuse(ip, bytes, "pinned key not usable");
    const QByteArray ad = additionalData(peerKey, m_identity.publicKey());
    const auto *nonce = bytesOf(*sealed);
    QByteArray inner(sealed->size() - kNonceBytes - kTagBytes, Qt::Uninitialized);
    unsigned long long innerBytes = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char *>(inner.data()),
                                                   &innerBytes, nullptr, nonce + kNonceBytes,
                                                   size_t(sealed->size() - kNonceBytes), bytesOf(ad),
                                                   size_t(ad.size()), nonce, keys->fromPeer().data()) != 0)
        return refuse(ip, bytes, "sealed datagram does not open with the pinned key");
    const QByteArray session = inner.first(kSessionBytes);
    const auto counter = qFromBigEndian<quint64>(inner.constData() + kSessionBytes);
    const auto sentAt = qFromBigEndian<qint64>(inner.constData() + 2 * kSessionBytes);
    const QByteArray datagram = inner.sliced(kInnerHeadBytes);
    if (!isSealedKind(QByteArrayView(datagram)))
        return refuse(ip, bytes, "sealed datagram of a kind that is never sealed");
    if (!takeOnce(peerKey, session, counter, sentAt))
        return refuse(ip, bytes, "sealed datagram seen before or stale");
    *opened = AnsiCodec::decode(datagram);
    return Verdict::Opened;
}

bool DatagramSeal::takeOnce(const QByteArray &peerKey, const QByteArray &session, quint64 counter,
                            qint64 sentAt)
{
    const qint64 now = m_clock();
    QList<Session> &sessions = m_received[peerKey];
    auto it =
        std::find_if(sessions.begin(), sessions.end(), [&](const Session &s) { return s.id == session; });
    if (it == sessions.end()) {
        // A session not seen yet could be an old one recorded and replayed after this copy
        // started: its own clock must be near ours. Within a known session only the
        // counter counts, so a clock set right meanwhile loses nothing.
        if (counter == 0 || qAbs(now - sentAt) > kFreshMs)
            return false;
        if (sessions.size() >= kSessionsPerPeer)
            sessions.erase(
                std::min_element(sessions.begin(), sessions.end(),
                                 [](const Session &a, const Session &b) { return a.lastUsed < b.lastUsed; }));
        sessions.append(Session{session, counter, 1, now});
        return true;
    }
    if (counter > it->newest) {
        const quint64 ahead = counter - it->newest;
        it->seen = ahead >= quint64(kCounterWindow) ? 0 : it->seen << ahead;
        it->seen |= 1;
        it->newest = counter;
    } else {
        const quint64 behind = it->newest - counter;
        if (behind >= quint64(kCounterWindow) || (it->seen & (quint64(1) << behind)))
            return false;
        it->seen |= quint64(1) << behind;
    }
    it->lastUsed = now;
    return true;
}

DatagramSeal::Verdict DatagramSeal::refuse(const QString &ip, QByteArrayView bytes, const char *why)
{
    m_diagnostics.recordRefused(bytes);
    qCDebug(lcNet) << "refused:" << why << "from" << ip;
    return Verdict::Refused;
}
