// The keys one sealed connection uses: an ephemeral key-exchange pair made per connection
// and thrown away with it (so a stolen long-term key opens no recorded traffic), and the two
// session keys, one per direction, that libsodium derives from both ephemeral halves.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <array>

namespace ConnectionKeys {

inline constexpr int kPublicBytes = 32;
inline constexpr int kSessionKeyBytes = 32;

// One direction's key each; wiped when dropped.
struct SessionKeys
{
    std::array<unsigned char, kSessionKeyBytes> receive{};
    std::array<unsigned char, kSessionKeyBytes> transmit{};
    SessionKeys() = default;
    SessionKeys(const SessionKeys &) = default;
    SessionKeys &operator=(const SessionKeys &) = default;
    ~SessionKeys();
};

class Ephemeral
{
  public:
    // A fresh pair from the system's random source.
    Ephemeral();
    ~Ephemeral();
    Ephemeral(const Ephemeral &) = delete;
    Ephemeral &operator=(const Ephemeral &) = delete;

    QByteArray publicKey() const;
    // The side that opened the connection, and the side that accepted it; false when the
    // peer's half is not a usable key.
    bool openerKeys(QByteArrayView peerPublic, SessionKeys &out) const;
    bool acceptorKeys(QByteArrayView peerPublic, SessionKeys &out) const;

  private:
    std::array<unsigned char, kPublicBytes> m_public{};
    std::array<unsigned char, 32> m_secret{};
};

} // namespace ConnectionKeys
