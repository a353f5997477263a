#include "net/KeyAnnouncement.h"

#include "base/AnsiCodec.h"
#include "base/StrictBase64.h"
#include "base/Protocol.h"
#include "net/Identity.h"

#include <sodium.h>

namespace {

constexpr auto kKeyEncoding = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

QString KeyAnnouncement::text() const
{
    const QString versionText =
        QString::number(version).rightJustified(Protocol::kExtensionVersionChars, QLatin1Char('0'));
    return Protocol::kKeyAnnounce + versionText + QString::fromLatin1(publicKey.toBase64(kKeyEncoding)) +
           hostName;
}

std::optional<KeyAnnouncement> KeyAnnouncement::parse(const QString &datagram,
                                                       const std::function<bool(const QByteArray &)> &known)
{
    if (datagram.size() <= Protocol::kKeyHostFrom - 1 ||
        QStringView(datagram).left(Protocol::kKindChars) != Protocol::kKeyAnnounce)
        return std::nullopt;
    KeyAnnouncement out;
    const QString version =
        AnsiCodec::field(datagram, Protocol::kKeyVersionFrom, Protocol::kExtensionVersionChars);
    for (QChar c : version) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        out.version = out.version * 10 + (c.unicode() - '0');
    }
    if (out.version < 1)
        return std::nullopt;

    const QString keyText = AnsiCodec::field(datagram, Protocol::kKeyFrom, Protocol::kKeyChars);
    for (QChar c : keyText) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
    }
    const QByteArray keyAscii = keyText.toLatin1();
    // Only the one canonical spelling: a key has exactly one text on the wire.
    const std::optional<QByteArray> decoded = decodeStrictBase64(keyAscii, kKeyEncoding);
    if (!decoded || decoded->size() != Identity::kPublicKeyBytes)
        return std::nullopt;
    if (!(known && known(*decoded)) &&
        (sodium_init() < 0 ||
         !crypto_core_ed25519_is_valid_point(reinterpret_cast<const unsigned char *>(decoded->constData()))))
        return std::nullopt;
    out.publicKey = *decoded;

    QString host = AnsiCodec::field(datagram, Protocol::kKeyHostFrom);
    const qsizetype tab = host.indexOf(QLatin1Char('\t'));
    if (tab >= 0)
        host.truncate(tab);
    while (host.endsWith(QLatin1Char(' ')))
        host.chop(1);
    if (host.isEmpty() || host.size() > Protocol::kMaxHostChars)
        return std::nullopt;
    for (QChar c : host) {
        // Shown in windows and stored one per line: no control characters.
        if (c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter)
            return std::nullopt;
    }
    out.hostName = host;
    return out;
}
