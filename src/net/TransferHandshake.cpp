#include "net/TransferHandshake.h"

#include "net/Identity.h"

namespace {

constexpr int kKey = ConnectionKeys::kPublicBytes;
constexpr int kSigned = 8 + 3 * kKey; // the offer's bytes before its signature
constexpr int kAnswerSigned = 8 + kKey;
static_assert(TransferHandshake::kOfferBytes == kSigned + Identity::kSignatureBytes);
static_assert(TransferHandshake::kAnswerBytes == kAnswerSigned + Identity::kSignatureBytes);

QByteArray offerContext(QByteArrayView signedPart)
{
    return QByteArrayLiteral("zorvin transfer offer") + signedPart.toByteArray();
}

QByteArray answerContext(const QByteArray &offer, QByteArrayView signedPart)
{
    return QByteArrayLiteral("zorvin transfer answer") + offer + signedPart.toByteArray();
}

} // namespace

TransferHandshake::Opening TransferHandshake::openingOf(QByteArrayView waiting)
{
    const qsizetype n = qMin(waiting.size(), magic().size());
    if (waiting.first(n) != magic().first(n))
        return Opening::Plain;
    return n < magic().size() ? Opening::NeedMore : Opening::Sealed;
}

TransferHandshake::TransferHandshake(const Identity &own, const QByteArray &peerKey) : m_own(own), m_peerKey(peerKey)
{
}

TransferHandshake::~TransferHandshake() = default;

QByteArray TransferHandshake::offer()
{
    const QByteArray ownKey = m_own.publicKey();
    if (ownKey.size() != kKey || m_peerKey.size() != kKey)
        return {};
    QByteArray o = magic().toByteArray() + ownKey + m_peerKey + m_ephemeral.publicKey();
    o += m_own.sign(offerContext(o));
    m_offer = o;
    return o;
}

TransferHandshake::Step TransferHandshake::takeOffer(QByteArrayView waiting, qsizetype &used, QByteArray &answer)
{
    used = 0;
    if (m_done || m_failed)
        return Step::Failed;
    if (waiting.size() < kOfferBytes)
        return openingOf(waiting) == Opening::Plain ? (m_failed = true, Step::Failed) : Step::NeedMore;
    const QByteArrayView o = waiting.first(kOfferBytes);
    const QByteArray ownKey = m_own.publicKey();
    // From the sender pinned at this address, meant for this copy's key, signed by the
    // sender: anything else (another key, a key not yet accepted, an offer for another
    // host) is refused.
    const bool ok = o.first(8) == magic() && ownKey.size() == kKey && m_peerKey.size() == kKey &&
                    o.sliced(8, kKey) == m_peerKey && o.sliced(8 + kKey, kKey) == ownKey &&
                    Identity::verify(o.sliced(kSigned), offerContext(o.first(kSigned)), m_peerKey) &&
                    m_ephemeral.acceptorKeys(o.sliced(8 + 2 * kKey, kKey), m_keys);
    if (!ok) {
        m_failed = true;
        return Step::Failed;
    }
    m_offer = o.toByteArray();
    QByteArray a = magic().toByteArray() + m_ephemeral.publicKey();
    a += m_own.sign(answerContext(m_offer, a));
    answer = a;
    used = kOfferBytes;
    m_done = true;
    return Step::Done;
}

TransferHandshake::Step TransferHandshake::takeAnswer(QByteArrayView waiting, qsizetype &used)
{
    used = 0;
    if (m_done || m_failed || m_offer.isEmpty())
        return Step::Failed;
    if (waiting.size() < kAnswerBytes)
        return openingOf(waiting) == Opening::Plain ? (m_failed = true, Step::Failed) : Step::NeedMore;
    const QByteArrayView a = waiting.first(kAnswerBytes);
    const bool ok = a.first(8) == magic() &&
                    Identity::verify(a.sliced(kAnswerSigned), answerContext(m_offer, a.first(kAnswerSigned)),
                                     m_peerKey) &&
                    m_ephemeral.openerKeys(a.sliced(8, kKey), m_keys);
    if (!ok) {
        m_failed = true;
        return Step::Failed;
    }
    used = kAnswerBytes;
    m_done = true;
    return Step::Done;
}
