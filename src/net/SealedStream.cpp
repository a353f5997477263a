#include "net/SealedStream.h"

#include <QtEndian>
#include <sodium.h>

namespace SealedRecords {

static_assert(kTagBytes == crypto_aead_chacha20poly1305_ietf_ABYTES);
static_assert(ConnectionKeys::kSessionKeyBytes == crypto_aead_chacha20poly1305_ietf_KEYBYTES);

namespace {

// The record's number, big-endian, in the first eight bytes of the nonce. Every connection
// and direction has a key of its own, so a number is never used twice under one key.
std::array<unsigned char, crypto_aead_chacha20poly1305_ietf_NPUBBYTES> nonceOf(quint64 number)
{
    std::array<unsigned char, crypto_aead_chacha20poly1305_ietf_NPUBBYTES> nonce{};
    qToBigEndian<quint64>(number, nonce.data());
    return nonce;
}

auto *bytes(QByteArray &b)
{
    return reinterpret_cast<unsigned char *>(b.data());
}

} // namespace

qsizetype recordBytes(QByteArrayView lengthWord, bool &final)
{
    final = false;
    if (lengthWord.size() < kLengthBytes)
        return 0;
    const quint32 word = qFromBigEndian<quint32>(lengthWord.data());
    final = (word & kFinalBit) != 0;
    const quint32 sealed = word & ~kFinalBit;
    if (sealed < quint32(kTagBytes) || sealed > quint32(kMaxPlain + kTagBytes))
        return 0;
    return kLengthBytes + qsizetype(sealed);
}

QByteArray layOut(QByteArrayView plain)
{
    QByteArray record(plain.size() + kOverhead, Qt::Uninitialized);
    if (!plain.isEmpty())
        memcpy(record.data() + kLengthBytes, plain.data(), size_t(plain.size()));
    return record;
}

RecordKey::~RecordKey()
{
    sodium_memzero(m_key.data(), m_key.size());
}

void RecordKey::seal(quint64 number, bool final, QByteArray &record) const
{
    const qsizetype plain = record.size() - kOverhead;
    qToBigEndian<quint32>(quint32(plain + kTagBytes) | (final ? kFinalBit : 0u), record.data());
    const auto nonce = nonceOf(number);
    unsigned char *at = bytes(record);
    crypto_aead_chacha20poly1305_ietf_encrypt_detached(at + kLengthBytes, at + kLengthBytes + plain, nullptr,
                                                       at + kLengthBytes, quint64(plain), at, kLengthBytes,
                                                       nullptr, nonce.data(), m_key.data());
}

bool RecordKey::open(quint64 number, QByteArray &record) const
{
    const qsizetype plain = record.size() - kOverhead;
    if (plain < 0)
        return false;
    const auto nonce = nonceOf(number);
    unsigned char *at = bytes(record);
    return crypto_aead_chacha20poly1305_ietf_decrypt_detached(at + kLengthBytes, nullptr, at + kLengthBytes,
                                                              quint64(plain), at + kLengthBytes + plain, at,
                                                              kLengthBytes, nonce.data(), m_key.data()) == 0;
}

} // namespace SealedRecords

QByteArray SealedWriter::seal(QByteArrayView plain, bool final)
{
    // Sealing after the end would give the reader a stream it refuses; the caller's mistake
    // shows as a refused transfer, never as plaintext.
    if (m_closed || plain.size() > SealedRecords::kMaxPlain)
        return {};
    QByteArray record = SealedRecords::layOut(plain);
    m_key.seal(m_next++, final, record);
    m_closed = final;
    return record;
}

void SealedReader::feed(QByteArrayView bytes)
{
    if (m_broken)
        return;
    // Read bytes are dropped once they are a good part of the buffer, not at every record.
    if (m_at > 0 && m_at >= m_waiting.size() / 2) {
        m_waiting.remove(0, m_at);
        m_at = 0;
    }
    m_waiting.append(bytes.data(), bytes.size());
}

SealedReader::Status SealedReader::fail()
{
    m_broken = true;
    m_waiting.clear();
    m_at = 0;
    return Status::Broken;
}

SealedReader::Status SealedReader::next(QByteArray &plain)
{
    plain.clear();
    if (m_broken)
        return Status::Broken;
    const qsizetype left = m_waiting.size() - m_at;
    // Bytes after the end are not part of what the sender sealed.
    if (m_finished)
        return left > 0 ? fail() : Status::NeedMore;
    if (left < SealedRecords::kLengthBytes)
        return Status::NeedMore;
    bool final = false;
    const QByteArrayView waiting = QByteArrayView(m_waiting).sliced(m_at);
    const qsizetype size = SealedRecords::recordBytes(waiting, final);
    if (size == 0)
        return fail();
    if (left < size)
        return Status::NeedMore;
    QByteArray record = waiting.first(size).toByteArray();
    if (!m_key.open(m_next, record))
        return fail();
    ++m_next;
    m_at += size;
    plain = record.sliced(SealedRecords::kLengthBytes, size - SealedRecords::kOverhead);
    if (!final)
        return Status::Record;
    m_finished = true;
    if (m_at < m_waiting.size()) {
        plain.clear();
        return fail();
    }
    return Status::Final;
}
