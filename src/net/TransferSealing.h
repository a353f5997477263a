// Whether a transfer to or from an address is sealed: only with a peer whose announced key
// is pinned and trusted, and only while this copy has a key pair. A peer that never
// announced a key gets the plain 2.66 transfer; one whose key changed gets nothing until
// the user accepts the new key, neither sealed to the new key nor in plain.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class Identity;
class PeerKeys;
class QThreadPool;

class TransferSealing
{
  public:
    TransferSealing(const Identity &identity, const PeerKeys &peerKeys);
    ~TransferSealing();

    enum class Way { Plain, Sealed, Refused };
    Way wayTo(const QString &ip) const;
    // The key to check a sealed sender at `ip` against; empty when none is trusted there.
    QByteArray trustedKey(const QString &ip) const;
    const Identity &identity() const { return m_identity; }
    // The threads that seal and open the records of every sealed transfer, one per core;
    // shared with the connections, which may outlive the engine by a moment.
    std::shared_ptr<QThreadPool> workers() const { return m_workers; }

    // The result line of a send refused because the peer's key changed.
    static QString changedKeyText();

  private:
    const Identity &m_identity;
    const PeerKeys &m_peerKeys;
    std::shared_ptr<QThreadPool> m_workers;
};
