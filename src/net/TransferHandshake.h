// The handshake that opens a sealed transfer. The sender offers an ephemeral key signed with
// its long-term key (and naming the key it expects the receiver to hold); the receiver checks
// it against the key it pinned for the sender's address and answers with its own ephemeral key,
// signed over the offer. Both derive the session keys from the two ephemeral keys only.
//
// offer  (sender -> receiver, 168 bytes): magic "\x1bZVSEAL1" (8), sender's key (32),
//        receiver's key as pinned by the sender (32), ephemeral key (32), signature (64)
//        over "zorvin transfer offer" + the first 104 bytes of the offer
// answer (receiver -> sender, 104 bytes): magic (8), ephemeral key (32), signature (64)
//        over "zorvin transfer answer" + the whole offer + the first 40 bytes of the answer
//
// No 2.66 header starts with the magic: its fifth character, "E", is where every header
// has the "0" of "0001" or "0002".
#pragma once

#include "net/ConnectionKeys.h"

#include <QByteArray>
#include <QByteArrayView>
#include <memory>

class Identity;

class TransferHandshake
{
  public:
    static constexpr int kOfferBytes = 168;
    static constexpr int kAnswerBytes = 104;
    static QByteArrayView magic() { return QByteArrayView("\x1bZVSEAL1", 8); }

    enum class Opening { NeedMore, Sealed, Plain };
    // What the first bytes of a connection are: a sealed offer, or (anything else) plain.
    static Opening openingOf(QByteArrayView waiting);

    enum class Step { NeedMore, Done, Failed };

    // The sender's side: `peerKey` is the receiver's pinned key. Both keys must outlive it.
    TransferHandshake(const Identity &own, const QByteArray &peerKey);
    ~TransferHandshake();
    TransferHandshake(const TransferHandshake &) = delete;
    TransferHandshake &operator=(const TransferHandshake &) = delete;

    // The sender's offer (empty when this copy has no key pair).
    QByteArray offer();
    // The receiver's side: checks an offer from a sender whose pinned key is `peerKey`;
    // Done puts the answer in `answer`. `used` is how many bytes of `waiting` it took.
    Step takeOffer(QByteArrayView waiting, qsizetype &used, QByteArray &answer);
    // The sender's side: checks the receiver's answer to offer().
    Step takeAnswer(QByteArrayView waiting, qsizetype &used);

    // After Done: the keys of both directions.
    const ConnectionKeys::SessionKeys &keys() const { return m_keys; }

  private:
    const Identity &m_own;
    QByteArray m_peerKey;
    ConnectionKeys::Ephemeral m_ephemeral;
    QByteArray m_offer;
    ConnectionKeys::SessionKeys m_keys;
    bool m_done = false;
    bool m_failed = false;
};
