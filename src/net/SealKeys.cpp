#include "net/SealKeys.h"

#include "net/Identity.h"

#include <cstring>
#include <sodium.h>

std::optional<SealKeys> SealKeys::agree(const Identity &own, QByteArrayView peerPublicKey)
{
    if (!own.isReady() || peerPublicKey.size() != Identity::kPublicKeyBytes)
        return std::nullopt;
    const auto *peerSigning = reinterpret_cast<const unsigned char *>(peerPublicKey.data());
    const int order = std::memcmp(own.m_public.data(), peerSigning, Identity::kPublicKeyBytes);
    if (order == 0)
        return std::nullopt;
    // The signing keys are turned into exchange keys rather than keeping a second pair, so
    // the one fingerprint people compare covers sealing too.
    std::array<unsigned char, crypto_kx_PUBLICKEYBYTES> ownPublic{};
    std::array<unsigned char, crypto_kx_SECRETKEYBYTES> ownSecret{};
    std::array<unsigned char, crypto_kx_PUBLICKEYBYTES> peerPublic{};
    SealKeys keys;
    bool agreed = crypto_sign_ed25519_pk_to_curve25519(ownPublic.data(), own.m_public.data()) == 0 &&
                  crypto_sign_ed25519_sk_to_curve25519(ownSecret.data(), own.m_secret.data()) == 0 &&
                  crypto_sign_ed25519_pk_to_curve25519(peerPublic.data(), peerSigning) == 0;
    // The side with the smaller key takes the client's part: both sides agree on the roles
    // without a word, and each direction gets its own key.
    if (agreed && order < 0)
        agreed = crypto_kx_client_session_keys(keys.m_fromPeer.data(), keys.m_toPeer.data(), ownPublic.data(),
                                               ownSecret.data(), peerPublic.data()) == 0;
    else if (agreed)
        agreed = crypto_kx_server_session_keys(keys.m_fromPeer.data(), keys.m_toPeer.data(), ownPublic.data(),
                                               ownSecret.data(), peerPublic.data()) == 0;
    sodium_memzero(ownSecret.data(), ownSecret.size());
    if (!agreed)
        return std::nullopt;
    return keys;
}

SealKeys::~SealKeys()
{
    sodium_memzero(m_toPeer.data(), m_toPeer.size());
    sodium_memzero(m_fromPeer.data(), m_fromPeer.size());
}
