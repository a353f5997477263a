#include "address/IpAddressText.h"

#include <QStringView>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isByteNumber(QStringView digits)
{
    if (digits.isEmpty())
        return false;
    int value = 0;
    for (QChar c : digits) {
        if (!isAsciiDigit(c))
            return false;
        // Leading zeros may make the text long; the value stays small or fails at once.
        value = value * 10 + (c.unicode() - '0');
        if (value > 255)
            return false;
    }
    return true;
}

} // namespace

bool IsValidIpAddress(const QString &text)
{
    QStringView rest(text);
    for (int i = 0; i < 3; ++i) {
        const qsizetype stop = rest.indexOf(QLatin1Char('.'));
        if (stop < 1 || stop > 3 || !isByteNumber(rest.left(stop)))
            return false;
        rest = rest.mid(stop + 1);
    }
    return isByteNumber(rest);
}

bool IsAddressFieldChar(QChar c)
{
    return isAsciiDigit(c) || c == QLatin1Char('.') || c == QLatin1Char('\b');
}
