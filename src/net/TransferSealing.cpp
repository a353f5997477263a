#include "net/TransferSealing.h"

#include "net/Identity.h"
#include "net/PeerKeys.h"

#include <QThread>
#include <QThreadPool>

TransferSealing::TransferSealing(const Identity &identity, const PeerKeys &peerKeys)
    : m_identity(identity), m_peerKeys(peerKeys), m_workers(std::make_shared<QThreadPool>())
{
    m_workers->setMaxThreadCount(QThread::idealThreadCount());
}

TransferSealing::~TransferSealing() = default;

TransferSealing::Way TransferSealing::wayTo(const QString &ip) const
{
    // A copy without its key pair (a damaged key file left alone) speaks as 2.66 does.
    if (!m_identity.isReady())
        return Way::Plain;
    switch (m_peerKeys.trustOf(ip)) {
    case PeerKeys::Trust::Pinned:
        return Way::Sealed;
    case PeerKeys::Trust::Changed:
        // Plain would hand the file to whoever now answers at the address, which may be
        // the very host the changed key warns of.
        return Way::Refused;
    case PeerKeys::Trust::None:
        break;
    }
    return Way::Plain;
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
