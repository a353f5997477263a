#include "net/SealedStream.h"

#include <QtEndian>
#include <sodium.h>

namespace {

constexpr int kHeaderBytes = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
constexpr int kTagBytes = crypto_secretstream_xchacha20poly1305_ABYTES;
static_assert(SealedWriter::kOverhead == 4 + kTagBytes);

} // namespace

struct SealedWriter::State
{
    crypto_secretstream_xchacha20poly1305_state s;
    unsigned char key[crypto_secretstream_xchacha20poly1305_KEYBYTES];
    ~State() { sodium_memzero(this, sizeof(*this)); }
};

struct SealedReader::State
{
    crypto_secretstream_xchacha20poly1305_state s;
    unsigned char key[crypto_secretstream_xchacha20poly1305_KEYBYTES];
    ~State() { sodium_memzero(this, sizeof(*this)); }
};

SealedWriter::SealedWriter(const ConnectionKeys::SessionKeys &keys) : m_state(std::make_unique<State>())
{
    memcpy(m_state->key, keys.transmit.data(), sizeof(m_state->key));
}

SealedWriter::~SealedWriter() = default;

QByteArray SealedWriter::start()
{
    QByteArray header(kHeaderBytes, Qt::Uninitialized);
    crypto_secretstream_xchacha20poly1305_init_push(&m_state->s, reinterpret_cast<unsigned char *>(header.data()),
                                                    m_state->key);
    sodium_memzero(m_state->key, sizeof(m_state->key));
    m_started = true;
    return header;
}

QByteArray SealedWriter::seal(QByteArrayView plain, bool final)
{
    // Sealing before the header or after the end would give the reader a stream it refuses;
    // the caller's mistake shows as a refused transfer, never as plaintext.
    if (!m_started || m_closed || plain.size() > kMaxRecord)
        return {};
    const qsizetype sealed = plain.size() + kTagBytes;
    QByteArray out(4 + sealed, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(sealed), out.data());
    crypto_secretstream_xchacha20poly1305_push(
        &m_state->s, reinterpret_cast<unsigned char *>(out.data() + 4), nullptr,
        reinterpret_cast<const unsigned char *>(plain.data()), quint64(plain.size()), nullptr, 0,
        final ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
    m_closed = final;
    return out;
}

SealedReader::SealedReader(const ConnectionKeys::SessionKeys &keys) : m_state(std::make_unique<State>())
{
    memcpy(m_state->key, keys.receive.data(), sizeof(m_state->key));
}

SealedReader::~SealedReader() = default;

qsizetype SealedReader::wanted() const
{
    const qsizetype left = m_waiting.size() - m_at;
    if (m_broken)
        return 0;
    // After the end any byte at all is one too many, and is to be seen.
    if (m_finished)
        return 1;
    if (!m_started)
        return qMax<qsizetype>(0, kHeaderBytes - left);
    if (left < 4)
        return 4 - left;
    const quint32 sealed = qFromBigEndian<quint32>(m_waiting.constData() + m_at);
    // A length out of range is refused by next(); nothing more is wanted for it.
    if (sealed < quint32(kTagBytes) || sealed > quint32(SealedWriter::kMaxRecord + kTagBytes))
        return 0;
    return qMax<qsizetype>(0, 4 + qsizetype(sealed) - left);
}

void SealedReader::feed(QByteArrayView bytes)
{
    if (m_broken)
        return;
    if (m_at == m_waiting.size()) {
        m_waiting.clear();
        m_at = 0;
    }
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
    if (m_finished)
        return left > 0 ? fail() : Status::NeedMore;
    const auto *at = reinterpret_cast<const unsigned char *>(m_waiting.constData() + m_at);
    if (!m_started) {
        if (left < kHeaderBytes)
            return Status::NeedMore;
        if (crypto_secretstream_xchacha20poly1305_init_pull(&m_state->s, at, m_state->key) != 0)
            return fail();
        sodium_memzero(m_state->key, sizeof(m_state->key));
        m_started = true;
        m_at += kHeaderBytes;
        return next(plain);
    }
    if (left < 4)
        return Status::NeedMore;
    const quint32 sealed = qFromBigEndian<quint32>(at);
    if (sealed < quint32(kTagBytes) || sealed > quint32(SealedWriter::kMaxRecord + kTagBytes))
        return fail();
    if (left < 4 + qsizetype(sealed))
        return Status::NeedMore;
    plain.resize(qsizetype(sealed) - kTagBytes);
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&m_state->s, reinterpret_cast<unsigned char *>(plain.data()),
                                                   nullptr, &tag, at + 4, sealed, nullptr, 0) != 0) {
        plain.clear();
        return fail();
    }
    m_at += 4 + qsizetype(sealed);
    if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) {
        m_finished = true;
        // Bytes after the end are not part of what the sender sealed.
        if (m_waiting.size() > m_at) {
            plain.clear();
            return fail();
        }
        return Status::Final;
    }
    // The writer sets no other tag; one would be a stream this version does not know.
    if (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE) {
        plain.clear();
        return fail();
    }
    return Status::Record;
}
