#include "capture/CaptureMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace CaptureMath {

double LeadingNumber(const QString &text)
{
    // Blanks are skipped anywhere before the number ends, then digits with at most one
    // decimal point; anything else ends the number.
    QString digits;
    bool seenPoint = false;
    bool seenDigit = false;
    bool signAllowed = true;
    for (QChar c : text) {
        if (c == u' ' || c == u'\t')
            continue;
        if (signAllowed && (c == u'-' || c == u'+')) {
            digits += c;
            signAllowed = false;
            continue;
        }
        signAllowed = false;
        if (c.isDigit() && c.unicode() < 128) {
            digits += c;
            seenDigit = true;
        } else if (c == u'.' && !seenPoint) {
            digits += c;
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit)
        return 0.0;
    bool ok = false;
    const double value = digits.toDouble(&ok);
    return ok ? value : 0.0;
}

int16_t WaitTicksFor(const QString &intTimer)
{
    const double doubled = std::nearbyint(LeadingNumber(intTimer) * 2.0);
    // A delay too long for 16 bits waits as long as 16 bits allow instead of failing.
    const double clamped = std::clamp(doubled, double(std::numeric_limits<int16_t>::min()),
                                      double(std::numeric_limits<int16_t>::max()));
    return int16_t(clamped);
}

bool TakeDelayTick(int16_t &waitTicks)
{
    const int16_t taken = waitTicks;
    if (waitTicks > std::numeric_limits<int16_t>::min())
        --waitTicks;
    return taken < 2;
}

QRect SelectionRect(int16_t x1, int16_t y1, int16_t x2, int16_t y2)
{
    const int left = std::min(x1, x2);
    const int right = std::max(x1, x2);
    const int top = std::min(y1, y2);
    const int bottom = std::max(y1, y2);
    return QRect(left, top, right - left, bottom - top);
}

QString CaptureStatus(int width, int height)
{
    return QStringLiteral("%1*%2 ｷｬﾌﾟﾁｬ").arg(width).arg(height);
}

QString PictureFileStatus(int width, int height)
{
    return QStringLiteral("%1*%2 ﾋﾟｸﾁｬｰﾌｧｲﾙ").arg(width).arg(height);
}

} // namespace CaptureMath

QStringList CaptureMath::CaptureModeCaptions()
{
    return {
        QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟ全体(&A)"),
        QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟ全体･ﾀｽｸﾊﾞｰ領域除く(&W)"),
        QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟ領域指定(&S)"),
        QStringLiteral("ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･全領域(&W)"),
        QStringLiteral("ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･ｸﾗｲｱﾝﾄ領域(&L)"),
    };
}
