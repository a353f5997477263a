// The one code-page-932 codec for every wire and file text. Fixed-width fields count
// characters (UTF-16 units) before conversion, as the peers and the stored files expect.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace AnsiCodec {

// Text to CP932 bytes; a character the code page cannot hold becomes "?".
QByteArray encode(QStringView text);

// CP932 bytes to text; an invalid byte sequence becomes U+FFFD, never an error.
QString decode(QByteArrayView bytes);

// The text cut to `width` characters, or padded with blanks on the right to `width`.
QString fixedWidth(const QString &text, int width);

// Characters [from, from + count) of a text, 1-based as the wire layouts count them;
// positions beyond the end give what is there, possibly "".
QString field(const QString &text, int from, int count = -1);

} // namespace AnsiCodec
