// The long-term key pair of this copy, kept in the data folder: made at first start,
// read at every later one, and never replaced behind the user's back when it is damaged.
// Peers pin its public half; the fingerprint is what two people read to each other.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>

class Identity
{
  public:
    enum class State {
        // Not loaded yet, or --diagnose found no file and made none.
        Missing,
        Ready,
        // A file is there that does not hold a key pair; it is left as it is.
        Damaged,
        // No file, and a new one could not be written.
        Unwritable,
    };

    static constexpr int kPublicKeyBytes = 32;
    static constexpr int kSignatureBytes = 64;

    Identity();
    ~Identity();
    Identity(const Identity &) = delete;
    Identity &operator=(const Identity &) = delete;

    // Reads the key file at `path`; with `createWhenMissing`, a missing file is replaced by
    // a new key pair written owner-only. A damaged file is reported, never overwritten.
    State load(const QString &path, bool createWhenMissing);
    // The user's answer to a damaged file: it is kept beside (".bak") and a new pair made.
    // Peers that pinned the old key will see a changed key.
    State startAfresh();

    State state() const { return m_state; }
    bool isReady() const { return m_state == State::Ready; }
    QString path() const { return m_path; }
    // Why the file is damaged or could not be written; "" otherwise.
    QString problem() const { return m_problem; }

    // The public half (kPublicKeyBytes), empty unless ready.
    QByteArray publicKey() const;
    QString fingerprint() const { return isReady() ? fingerprintOf(publicKey()) : QString(); }
    // The line the about box and the diagnostics show: the fingerprint, or why there is none.
    QString fingerprintLine() const;

    // A detached signature of `message` by this copy's key; empty unless ready. Sealed
    // traffic binds its handshakes to the pinned keys with it.
    QByteArray sign(QByteArrayView message) const;
    static bool verify(QByteArrayView signature, QByteArrayView message, QByteArrayView publicKey);

    // Four groups of four characters from a hash of the key, in an alphabet without
    // letters that sound or look alike (no I, L, O, U): "7KQ2-M9XD-0RTB-W4HE".
    static QString fingerprintOf(QByteArrayView publicKey);

  private:
    // Agrees the sealing keys from the secret half, which leaves this class nowhere else.
    friend class SealKeys;

    bool readFile(const QByteArray &bytes);
    bool writeNew();
    void forget();

    State m_state = State::Missing;
    QString m_path;
    QString m_problem;
    std::array<unsigned char, 32> m_seed{};
    std::array<unsigned char, 32> m_public{};
    std::array<unsigned char, 64> m_secret{};
};
