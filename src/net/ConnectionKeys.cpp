#include "net/ConnectionKeys.h"

#include <sodium.h>

namespace ConnectionKeys {

static_assert(kSessionKeyBytes == crypto_kx_SESSIONKEYBYTES);
static_assert(kSessionKeyBytes == crypto_secretstream_xchacha20poly1305_KEYBYTES);
static_assert(kPublicBytes == crypto_kx_PUBLICKEYBYTES);

SessionKeys::~SessionKeys()
{
    sodium_memzero(receive.data(), receive.size());
    sodium_memzero(transmit.data(), transmit.size());
}

Ephemeral::Ephemeral()
{
    // Idempotent; the engine may not have loaded an identity in this process yet.
    if (sodium_init() < 0)
        return;
    crypto_kx_keypair(m_public.data(), m_secret.data());
}

Ephemeral::~Ephemeral()
{
    sodium_memzero(m_secret.data(), m_secret.size());
}

QByteArray Ephemeral::publicKey() const
{
    return QByteArray(reinterpret_cast<const char *>(m_public.data()), kPublicBytes);
}

bool Ephemeral::openerKeys(QByteArrayView peerPublic, SessionKeys &out) const
{
    if (peerPublic.size() != kPublicBytes)
        return false;
    return crypto_kx_client_session_keys(out.receive.data(), out.transmit.data(), m_public.data(), m_secret.data(),
                                         reinterpret_cast<const unsigned char *>(peerPublic.data())) == 0;
}

bool Ephemeral::acceptorKeys(QByteArrayView peerPublic, SessionKeys &out) const
{
    if (peerPublic.size() != kPublicBytes)
        return false;
    return crypto_kx_server_session_keys(out.receive.data(), out.transmit.data(), m_public.data(), m_secret.data(),
                                         reinterpret_cast<const unsigned char *>(peerPublic.data())) == 0;
}

} // namespace ConnectionKeys
