// Whether a send to an address is sealed, and which sends do not go at all. Only a peer whose
// announced key is pinned and trusted is sealed to, and only while this copy has its key
// pair. A peer that never announced a key gets the plain 2.66 transfer, unless the user
// chose to send only sealed ("SndSealedOnly"); one whose key changed gets no transfer until
// the user accepts the new key, neither sealed to the new key nor in plain. The receiving
// side asks here which key a sealed sender must show.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class Identity;
class PeerKeys;
class WorkerThreads;
struct Settings;

class TransferSealing
{
  public:
    TransferSealing(const Identity &identity, const PeerKeys &peerKeys, const Settings &settings);
    ~TransferSealing();

    enum class Way { Plain, Sealed, Refused };
    Way wayTo(const QString &ip) const;

    // How traffic with the peer at `ip` stands, for the senders and the windows' rows.
    enum class Peer {
        // Sealed to its pinned key.
        Sealed,
        // It showed another key that waits for the user.
        Changed,
        // Plain: it never announced a key, or this copy has no key pair.
        Unsealed,
    };
    Peer peerAt(const QString &ip) const;
    // The user's choice: nothing goes to a peer that is not sealed to.
    bool sendsSealedOnly() const;

    // Why a picture or file to `ip` does not go, as the send-result line says it; empty
    // when it goes.
    QString transferRefusal(const QString &ip) const;
    // The same for a message: without the choice above, a message to a changed key still
    // goes, sealed to the key pinned before (only the real peer can open it).
    QString messageRefusal(const QString &ip) const;

    // The key to check a sealed sender at `ip` against; empty when none is trusted there.
    QByteArray trustedKey(const QString &ip) const;
    const Identity &identity() const { return m_identity; }
    // The threads that seal and open the records of every sealed transfer, one per core;
    // shared with the connections, which may outlive the engine by a moment.
    std::shared_ptr<WorkerThreads> workers() const { return m_workers; }

    // The result line of a send refused because the peer's key changed.
    static QString changedKeyText();
    // The result line of a send refused because it would go plain and the user sends only
    // sealed.
    static QString unsealedText();

  private:
    const Identity &m_identity;
    const PeerKeys &m_peerKeys;
    const Settings &m_settings;
    std::shared_ptr<WorkerThreads> m_workers;
};
