#include "net/TransferSealing.h"

#include "base/Settings.h"
#include "net/Identity.h"
#include "net/PeerKeys.h"
#include "net/WorkerThreads.h"

TransferSealing::TransferSealing(const Identity &identity, const PeerKeys &peerKeys, const Settings &settings)
    : m_identity(identity), m_peerKeys(peerKeys), m_settings(settings), m_workers(std::make_shared<WorkerThreads>())
{
}

TransferSealing::~TransferSealing() = default;

TransferSealing::Peer TransferSealing::peerAt(const QString &ip) const
{
    switch (m_peerKeys.trustOf(ip)) {
    case PeerKeys::Trust::Pinned:
        // A copy without its key pair (a damaged key file left alone) speaks as 2.66 does.
        return m_identity.isReady() ? Peer::Sealed : Peer::Unsealed;
    case PeerKeys::Trust::Changed:
        return Peer::Changed;
    case PeerKeys::Trust::None:
        break;
    }
    return Peer::Unsealed;
}

bool TransferSealing::sendsSealedOnly() const
{
    return m_settings.SndSealedOnly == 1;
}

TransferSealing::Way TransferSealing::wayTo(const QString &ip) const
{
    if (m_identity.isReady()) {
        switch (peerAt(ip)) {
        case Peer::Sealed:
            return Way::Sealed;
        case Peer::Changed:
            // Plain would hand the file to whoever now answers at the address, which may
            // be the very host the changed key warns of.
            return Way::Refused;
        case Peer::Unsealed:
            break;
        }
    }
    return sendsSealedOnly() ? Way::Refused : Way::Plain;
}

QString TransferSealing::transferRefusal(const QString &ip) const
{
    if (wayTo(ip) != Way::Refused)
        return QString();
    return peerAt(ip) == Peer::Changed && m_identity.isReady() ? changedKeyText() : unsealedText();
}

QString TransferSealing::messageRefusal(const QString &ip) const
{
    if (!sendsSealedOnly())
        return QString();
    switch (peerAt(ip)) {
    case Peer::Sealed:
        return QString();
    case Peer::Changed:
        if (m_identity.isReady())
            return changedKeyText();
        break;
    case Peer::Unsealed:
        break;
    }
    return unsealedText();
}

QByteArray TransferSealing::trustedKey(const QString &ip) const
{
    if (!m_identity.isReady() || m_peerKeys.trustOf(ip) != PeerKeys::Trust::Pinned)
        return {};
    return m_peerKeys.pinnedKey(ip);
}

QString TransferSealing::changedKeyText()
{
    return QStringLiteral("相手の鍵が変わりました。鍵を承認するまで送信できません。");
}

QString TransferSealing::unsealedText()
{
    return QStringLiteral("暗号化できない相手には送信しない設定のため、送信できません。");
}
