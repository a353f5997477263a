#include "net/Identity.h"

#include "base/AnsiCodec.h"
#include "base/StrictBase64.h"
#include "base/DataFile.h"
#include "net/NetLog.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <sodium.h>

namespace {

// Line 1 names the format, line 2 holds the seed the pair is made from, line 3 the public
// half, which tells a changed seed byte from a sound file.
constexpr QLatin1StringView kFileHeader("ZorvinIdentity 1");
// A sound file is three short lines; anything much longer is not one.
constexpr qint64 kMaxFileBytes = 1024;
constexpr int kFingerprintChars = 16;
constexpr int kFingerprintGroup = 4;
constexpr char kFingerprintAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

QByteArray base64(const unsigned char *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).toBase64();
}

// Strict: only the canonical encoding of exactly `size` bytes is taken.
bool fromBase64(QByteArrayView text, unsigned char *out, size_t size)
{
    const std::optional<QByteArray> decoded = decodeStrictBase64(text);
    if (!decoded || decoded->size() != qsizetype(size))
        return false;
    std::copy(decoded->begin(), decoded->end(), out);
    return true;
}

} // namespace

Identity::Identity()
{
    // Idempotent and safe from any thread; the library picks its implementations here.
    if (sodium_init() < 0)
        qCWarning(lcNet) << "the key library could not start";
}

Identity::~Identity()
{
    forget();
}

void Identity::forget()
{
    sodium_memzero(m_seed.data(), m_seed.size());
    sodium_memzero(m_secret.data(), m_secret.size());
    m_public.fill(0);
}

Identity::State Identity::load(const QString &path, bool createWhenMissing)
{
    forget();
    m_path = path;
    m_problem.clear();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        if (!createWhenMissing)
            return m_state = State::Missing;
        return m_state = writeNew() ? State::Ready : State::Unwritable;
    }
    const DataFile::Read read = DataFile::readLimited(path, kMaxFileBytes);
    if (!read.opened) {
        m_problem = QStringLiteral("鍵ファイルを読めません。");
        return m_state = State::Damaged;
    }
    if (!read.whole || !readFile(read.bytes)) {
        forget();
        m_problem = QStringLiteral("鍵ファイルが壊れています。");
        return m_state = State::Damaged;
    }
    return m_state = State::Ready;
}

bool Identity::readFile(const QByteArray &bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    // Three lines, each ended by a line break (so the last part after the split is empty).
    if (lines.size() != 4 || !lines[3].isEmpty())
        return false;
    if (AnsiCodec::decode(lines[0]) != kFileHeader)
        return false;
    std::array<unsigned char, 32> storedPublic{};
    if (!fromBase64(lines[1], m_seed.data(), m_seed.size()) ||
        !fromBase64(lines[2], storedPublic.data(), storedPublic.size()))
        return false;
    crypto_sign_seed_keypair(m_public.data(), m_secret.data(), m_seed.data());
    return sodium_memcmp(storedPublic.data(), m_public.data(), m_public.size()) == 0;
}

bool Identity::writeNew()
{
    randombytes_buf(m_seed.data(), m_seed.size());
    crypto_sign_seed_keypair(m_public.data(), m_secret.data(), m_seed.data());
    QByteArray text = AnsiCodec::encode(QString(kFileHeader)) + '\n' + base64(m_seed.data(), m_seed.size()) +
                      '\n' + base64(m_public.data(), m_public.size()) + '\n';
    // Written whole under a temporary name created owner-only, then moved into place: a
    // crash leaves no half file, and the rename never replaces a file that appeared meanwhile.
    const QString temporary = m_path + QStringLiteral(".new");
    QFile::remove(temporary);
    QFile file(temporary);
    bool written =
        file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner) &&
        file.write(text) == text.size() && file.flush();
    sodium_memzero(text.data(), size_t(text.size()));
    if (written)
        written = file.error() == QFile::NoError;
    file.close();
    if (written && !QFile::rename(temporary, m_path))
        written = false;
    if (!written) {
        m_problem = QStringLiteral("鍵ファイルを作れません。") + file.errorString();
        QFile::remove(temporary);
        forget();
        return false;
    }
    return true;
}

Identity::State Identity::startAfresh()
{
    if (m_state != State::Damaged)
        return m_state;
    if (DataFile::keepBeside(m_path).isEmpty()) {
        m_problem = QStringLiteral("壊れた鍵ファイルを残せないため、新しい鍵を作りませんでした。");
        return m_state;
    }
    return load(m_path, true);
}

QString Identity::fingerprintLine() const
{
    switch (m_state) {
    case State::Ready:
        return QStringLiteral("鍵の指紋: ") + fingerprint();
    case State::Missing:
        return QStringLiteral("鍵の指紋: (鍵なし・暗号化しません)");
    default:
        return QStringLiteral("鍵の指紋: (鍵なし・暗号化しません) ") + m_problem;
    }
}

QByteArray Identity::publicKey() const
{
    if (!isReady())
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(m_public.data()), qsizetype(m_public.size()));
}

QByteArray Identity::sign(QByteArrayView message) const
{
    if (!isReady())
        return QByteArray();
    QByteArray signature(kSignatureBytes, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(message.data()),
                         static_cast<unsigned long long>(message.size()), m_secret.data());
    return signature;
}

bool Identity::verify(QByteArrayView signature, QByteArrayView message, QByteArrayView publicKey)
{
    if (signature.size() != kSignatureBytes || publicKey.size() != kPublicKeyBytes)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.data()),
                                       reinterpret_cast<const unsigned char *>(message.data()),
                                       static_cast<unsigned long long>(message.size()),
                                       reinterpret_cast<const unsigned char *>(publicKey.data())) == 0;
}

QString Identity::fingerprintOf(QByteArrayView publicKey)
{
    // 80 bits of the hash: enough that nobody can make a key to match a given one.
    std::array<unsigned char, kFingerprintChars * 5 / 8> hash{};
    crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const unsigned char *>(publicKey.data()),
                       static_cast<unsigned long long>(publicKey.size()), nullptr, 0);
    QString out;
    unsigned buffer = 0;
    int bits = 0;
    for (unsigned char byte : hash) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            if (!out.isEmpty() && out.size() % (kFingerprintGroup + 1) == kFingerprintGroup)
                out += QLatin1Char('-');
            out += QLatin1Char(kFingerprintAlphabet[(buffer >> bits) & 31]);
        }
    }
    return out;
}
