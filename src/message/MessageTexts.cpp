#include "message/MessageTexts.h"

#include "base/AnsiCodec.h"

#include <QStringDecoder>

namespace MessageTexts {

QString limited(const QString &text)
{
    if (text.size() <= kMaxTextChars)
        return text;
    int cut = kMaxTextChars;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    // A CR without its LF would come back as a line break of its own.
    else if (text.at(cut - 1) == u'\r' && text.at(cut) == u'\n')
        --cut;
    return text.left(cut);
}

QString toEditor(const QString &wire)
{
    QString text = wire;
    text.replace(kCrLf, QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

QString toWire(const QString &editor)
{
    QString text = editor;
    text.replace(u'\n', kCrLf);
    return text;
}

QString replyText(const QString &received, const QString &date, const QString &time, const QString &from)
{
    QString quoted = QLatin1Char('>') + received;
    while (quoted.endsWith(kCrLf))
        quoted.chop(2);
    quoted.replace(kCrLf, kCrLf + QLatin1Char('>'));
    quoted += kCrLf;
    return QStringLiteral("AT [ ") + date + QLatin1Char(' ') + time + QStringLiteral(" ]") + kCrLf + from +
           QStringLiteral(" wrote:") + kCrLf + quoted;
}

QString forwardText(const QString &ownName, const QString &from, const QString &date, const QString &time,
                    const QString &received)
{
    return QStringLiteral("Forwarded Message by ") + ownName + kCrLf +
           QStringLiteral("--- Original Message ---") + kCrLf + QStringLiteral("From: ") + from + kCrLf +
           QStringLiteral("Date: ") + date + QStringLiteral(" Time: ") + time + kCrLf +
           QStringLiteral("---") + kCrLf + received;
}

QString replyPrintHead(const QString &toLine)
{
    return toLine + kCrLf + QString(37, u'-') + kCrLf;
}

QString receivedPrintHead(const QString &dateLine, const QString &fromLine)
{
    const QString line = dateLine + QStringLiteral("  ") + fromLine + kCrLf;
    return line + QString(line.size(), u'-') + kCrLf;
}

QString fromTextFile(QByteArrayView bytes)
{
    // Stateful, so a character cut by the end of what was read is not an error; a leading
    // byte order mark is dropped.
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString content = utf8.decode(bytes);
    if (utf8.hasError())
        content = AnsiCodec::decode(bytes);

    QString text;
    qsizetype at = 0;
    while (at < content.size() && text.size() <= kFileStopChars) {
        qsizetype end = at;
        while (end < content.size() && content.at(end) != u'\r' && content.at(end) != u'\n')
            ++end;
        text += QStringView(content).sliced(at, end - at);
        text += kCrLf;
        if (end < content.size() && content.at(end) == u'\r' && end + 1 < content.size() &&
            content.at(end + 1) == u'\n')
            ++end;
        at = end + 1;
    }
    return text;
}

QByteArray toTextFile(const QString &text)
{
    return (text + kCrLf).toUtf8();
}

} // namespace MessageTexts
