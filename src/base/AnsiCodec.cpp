#include "base/AnsiCodec.h"

#include <cerrno>
#include <iconv.h>

namespace {

// One conversion with iconv; `substitute` is appended for every input unit that the
// target cannot hold or that is invalid, and the input moves past it.
QByteArray convert(const char *to, const char *from, const char *in, size_t inLeft, size_t unit,
                   QByteArrayView substitute)
{
    QByteArray out;
    if (inLeft == 0)
        return out;
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return out;
    out.resize(qsizetype(inLeft * 2 + 16));
    char *src = const_cast<char *>(in);
    char *dst = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        size_t r = iconv(cd, &src, &inLeft, &dst, &outLeft);
        if (r != size_t(-1))
            break;
        if (errno == E2BIG || outLeft < size_t(substitute.size())) {
            const qsizetype used = dst - out.data();
            out.resize(out.size() * 2 + 16);
            dst = out.data() + used;
            outLeft = size_t(out.size() - used);
            continue;
        }
        // EILSEQ or EINVAL (a sequence cut at the end): replace one unit and go on.
        const size_t skip = qMin(unit, inLeft);
        src += skip;
        inLeft -= skip;
        for (char c : substitute)
            *dst++ = c;
        outLeft -= size_t(substitute.size());
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(dst - out.data());
    iconv_close(cd);
    return out;
}

} // namespace

namespace AnsiCodec {

QByteArray encode(QStringView text)
{
    // Work per UTF-16 unit so that a lone surrogate or an unmappable character
    // becomes exactly one "?".
    return convert("CP932", "UTF-16LE", reinterpret_cast<const char *>(text.utf16()),
                   size_t(text.size()) * 2, 2, "?");
}

QString decode(QByteArrayView bytes)
{
    static const char replacement[] = {char(0xFD), char(0xFF)}; // U+FFFD in UTF-16LE
    const QByteArray utf16 = convert("UTF-16LE", "CP932", bytes.data(), size_t(bytes.size()), 1,
                                     QByteArrayView(replacement, 2));
    return QString(reinterpret_cast<const QChar *>(utf16.constData()), utf16.size() / 2);
}

QString fixedWidth(const QString &text, int width)
{
    if (text.size() >= width)
        return text.left(width);
    return text + QString(width - text.size(), QLatin1Char(' '));
}

QString field(const QString &text, int from, int count)
{
    if (from < 1 || from > text.size())
        return QString();
    return text.mid(from - 1, count);
}

} // namespace AnsiCodec
