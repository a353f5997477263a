// Seals the datagrams that carry or act on a message ("captMS", "captMR", "captOP",
// "captGB", "captSP") to every peer whose key is pinned, opens the "captSE" datagrams such
// peers send, and refuses from them the plain forms (only a forger still sends those) and
// anything sealed that does not open or was seen before. Peers without a key are not
// touched: with them this copy speaks 2.66.
#pragma once

#include "net/SealKeys.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>
#include <functional>
#include <optional>

class Identity;
class NetDiagnostics;
class PeerKeys;

class DatagramSeal
{
  public:
    // A sealed datagram whose sender starts afresh (its first since it started, or since
    // this copy did) is taken when its time is this close to ours: clocks of office PCs
    // differ by minutes, rarely by hours. Later ones are ordered by their counter alone.
    static constexpr qint64 kFreshMs = 24LL * 60 * 60 * 1000;
    // How far behind the newest one a datagram may come and still be taken once.
    static constexpr int kCounterWindow = 64;

    DatagramSeal(const Identity &identity, const PeerKeys &peers, NetDiagnostics &diagnostics);
    ~DatagramSeal();

    // One of the kinds that go sealed to a keyed peer.
    static bool isSealedKind(QStringView datagram);
    static bool isSealedKind(QByteArrayView bytes);
    // Whether traffic with the peer at `ip` is sealed: this copy has its key pair and a key
    // is pinned for the peer (also while another key it showed waits for the user).
    bool isKeyed(const QString &ip) const;

    // The text to send for `datagram` (complete, as it would go plain) to the address
    // `destination`: sealed to a keyed peer, as it is otherwise. Empty when it should be
    // sealed and cannot be (a pinned key that is not usable): it is then not sent at all.
    QString outgoing(const QString &datagram, const QString &destination);

    enum class Verdict {
        // Not this class's business: dispatched as 2.66 would.
        Plain,
        // A sealed datagram that opened: `opened` holds the datagram inside.
        Opened,
        // Dropped, and counted in the diagnostics.
        Refused,
    };
    Verdict incoming(const QString &ip, QByteArrayView bytes, QString *opened);

    // The nonce and the sealed bytes of a well-formed "captSE" datagram; nothing for any
    // other bytes. Nothing is opened here.
    static std::optional<QByteArray> parse(QByteArrayView bytes);

    // Milliseconds since the epoch; tests put the clock of one side off.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

  private:
    struct Session
    {
        QByteArray id;
        quint64 newest = 0;
        // Bit n: counter newest - n was taken.
        quint64 seen = 0;
        qint64 lastUsed = 0;
    };
    const SealKeys *keysFor(const QByteArray &peerKey);
    bool takeOnce(const QByteArray &peerKey, const QByteArray &session, quint64 counter, qint64 sentAt);
    Verdict refuse(const QString &ip, QByteArrayView bytes, const char *why);

    const Identity &m_identity;
    const PeerKeys &m_peers;
    NetDiagnostics &m_diagnostics;
    std::function<qint64()> m_clock;
    // Random per run, so that a counter starting again at 1 is not a replay.
    QByteArray m_session;
    QHash<QByteArray, quint64> m_sentCounters;
    QHash<QByteArray, QList<Session>> m_received;
    // Agreed keys per peer key, for the own key they were agreed with.
    QByteArray m_keysOwnKey;
    QHash<QByteArray, SealKeys> m_keys;
};
