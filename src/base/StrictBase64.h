// Decoding of base64 texts that have one spelling only: keys and sealed datagrams are taken
// only in the text the same bytes encode to, so no two texts on the wire or in a file mean the
// same thing.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// The bytes `text` encodes with `options`, when it is valid and exactly the canonical encoding
// of them (no stray padding, no unused bits set); nothing otherwise.
inline std::optional<QByteArray> decodeStrictBase64(QByteArrayView text,
                                                    QByteArray::Base64Options options = QByteArray::Base64Encoding)
{
    const QByteArray copy = text.toByteArray();
    auto decoded = QByteArray::fromBase64Encoding(copy, options | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.toBase64(options) != copy)
        return std::nullopt;
    return std::move(decoded.decoded);
}
