// The two keys that seal traffic between this copy and one peer, one per direction, agreed
// from this copy's key pair and the peer's pinned public key; nothing sealed by one side
// opens as if the other side had sent it.
#pragma once

#include <QByteArrayView>
#include <array>
#include <optional>

class Identity;

class SealKeys
{
  public:
    static constexpr int kKeyBytes = 32;
    using Key = std::array<unsigned char, kKeyBytes>;

    // Nothing when this copy has no key pair, the peer's key is not a usable public key,
    // or it is this copy's own (a datagram reflected back is never taken for the peer's).
    static std::optional<SealKeys> agree(const Identity &own, QByteArrayView peerPublicKey);

    SealKeys(const SealKeys &other) = default;
    SealKeys &operator=(const SealKeys &other) = default;
    ~SealKeys();

    // Seals what goes to the peer, and opens what comes from it.
    const Key &toPeer() const { return m_toPeer; }
    const Key &fromPeer() const { return m_fromPeer; }

  private:
    SealKeys() = default;
    Key m_toPeer{};
    Key m_fromPeer{};
};
