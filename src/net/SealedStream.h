// One direction of a sealed connection: records of a four-byte length word (big-endian, the
// sealed bytes that follow, the top bit marking the stream's last record) and the sealed bytes.
// Each record is sealed on its own with libsodium's ChaCha20-Poly1305 (IETF), its number in the
// stream as the nonce and its length word as associated data, so records can be sealed and
// opened on several cores at once while one reordered, replayed, dropped, altered or cut off
// still never reads as part of the stream.
#pragma once

#include "net/ConnectionKeys.h"

#include <QByteArray>
#include <QByteArrayView>
#include <array>

namespace SealedRecords {

inline constexpr int kLengthBytes = 4;
inline constexpr int kTagBytes = 16;
// Bytes a record adds to what it carries.
inline constexpr int kOverhead = kLengthBytes + kTagBytes;
inline constexpr int kMaxPlain = 1024 * 1024;
inline constexpr quint32 kFinalBit = 0x80000000u;

// The bytes a record occupies on the wire, length word included, from its first four bytes;
// 0 when the length is out of range. `final` says whether it claims to end the stream.
qsizetype recordBytes(QByteArrayView lengthWord, bool &final);

// A buffer laid out for sealing `plain` in place: room for the length word, the plain bytes,
// room for the tag.
QByteArray layOut(QByteArrayView plain);

// One direction's key. Sealing and opening touch nothing but the buffer they are given, so
// one key serves several threads at once.
class RecordKey
{
  public:
    RecordKey() = default;
    explicit RecordKey(const std::array<unsigned char, ConnectionKeys::kSessionKeyBytes> &key) : m_key(key) {}
    ~RecordKey();
    RecordKey(const RecordKey &) = default;
    RecordKey &operator=(const RecordKey &) = default;

    // Completes a buffer from layOut() into record number `number` of the stream.
    void seal(quint64 number, bool final, QByteArray &record) const;
    // Opens record number `number` (length word included) in place; false when it does not
    // verify. The plain bytes are then at kLengthBytes, size() - kOverhead of them.
    bool open(quint64 number, QByteArray &record) const;

  private:
    std::array<unsigned char, ConnectionKeys::kSessionKeyBytes> m_key{};
};

} // namespace SealedRecords

// The sending direction, record after record on the caller's thread.
class SealedWriter
{
  public:
    explicit SealedWriter(const ConnectionKeys::SessionKeys &keys) : m_key(keys.transmit) {}

    // `plain` as the next record (at most kMaxPlain bytes); `final` closes the stream. Empty
    // after the end or for too much.
    QByteArray seal(QByteArrayView plain, bool final = false);

  private:
    SealedRecords::RecordKey m_key;
    quint64 m_next = 0;
    bool m_closed = false;
};

// The receiving direction from bytes as they come, record after record on the caller's thread.
class SealedReader
{
  public:
    enum class Status {
        NeedMore,
        // A record was opened into `plain`.
        Record,
        // The stream's last record was opened into `plain`; anything after it is Broken.
        Final,
        // The stream does not verify (or runs on past its end); nothing more is read.
        Broken,
    };

    explicit SealedReader(const ConnectionKeys::SessionKeys &keys) : m_key(keys.receive) {}

    void feed(QByteArrayView bytes);
    // The next record from what was fed; call again until NeedMore.
    Status next(QByteArray &plain);
    bool isFinished() const { return m_finished; }
    bool isBroken() const { return m_broken; }

  private:
    Status fail();

    SealedRecords::RecordKey m_key;
    QByteArray m_waiting;
    qsizetype m_at = 0;
    quint64 m_next = 0;
    bool m_finished = false;
    bool m_broken = false;
};
