#include "net/TransferHeader.h"

#include "base/AnsiCodec.h"

namespace {

bool isLeadByte(uchar b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

QChar flagAt(const QString &text, int pos)
{
    const QString f = AnsiCodec::field(text, pos, 1);
    return f.isEmpty() ? QLatin1Char(' ') : f.at(0);
}

} // namespace

QString TransferHeader::build() const
{
    using AnsiCodec::fixedWidth;
    QString h;
    h.reserve(kHeaderChars);
    h += QStringLiteral("0001");
    h += fixedWidth(dataKind, 4);
    h += QStringLiteral("%1").arg(qBound<qint64>(0, size, kMaxTransferSize), 12, 10, QLatin1Char('0'));
    h += fixedWidth(archiveName, 22);
    h += fixedWidth(itemName, 60);
    h += faceDown;
    h += reserved;
    h += kind;
    h += openReceipt;
    h += passwordLock;
    h += QString(5, QLatin1Char(' '));
    h += fixedWidth(hostName, 20);
    h += QString(124, QLatin1Char(' '));
    return h;
}

qsizetype TransferHeader::encodedLength(QByteArrayView bytes, int chars)
{
    qsizetype pos = 0;
    for (int n = 0; n < chars; ++n) {
        if (pos >= bytes.size())
            return -1;
        // A lead byte without its trail byte yet: the character is not complete.
        pos += isLeadByte(uchar(bytes[pos])) ? 2 : 1;
    }
    return pos <= bytes.size() ? pos : -1;
}

bool TransferHeader::isSafeName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name.contains(QLatin1String("..")))
        return false;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':'))
        return false;
    for (QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    // A character that the code page could not carry arrives as U+FFFD; the sender
    // could never have meant that file.
    return !name.contains(QChar(0xFFFD));
}

ParsedTransferHeader TransferHeader::parse(QByteArrayView waiting)
{
    ParsedTransferHeader out;
    const qsizetype len = encodedLength(waiting, kHeaderChars);
    if (len < 0)
        return out;
    out.byteLength = len;
    const QString text = AnsiCodec::decode(waiting.first(len));
    using AnsiCodec::field;

    if (field(text, 1, 4) == QLatin1String("0000")) {
        out.status = ParsedTransferHeader::Status::FormatError;
        return out;
    }
    TransferHeader &h = out.header;
    h.dataKind = field(text, 5, 4);
    if (h.dataKind != QLatin1String("0001") && h.dataKind != QLatin1String("0002")) {
        out.status = ParsedTransferHeader::Status::VersionMismatch;
        return out;
    }
    const QString sizeText = field(text, 9, 12);
    bool ok = sizeText.size() == 12;
    for (QChar c : sizeText)
        ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    h.size = ok ? sizeText.toLongLong(&ok) : 0;
    h.archiveName = field(text, 21, 22).trimmed();
    h.itemName = field(text, 43, 60).trimmed();
    h.faceDown = flagAt(text, 103);
    h.reserved = flagAt(text, 104);
    h.kind = flagAt(text, 105);
    h.openReceipt = flagAt(text, 106);
    h.passwordLock = flagAt(text, 107);
    h.hostName = field(text, 113, 20).trimmed();

    if (!ok || !isSafeName(h.itemName) || (!h.archiveName.isEmpty() && !isSafeName(h.archiveName))) {
        out.status = ParsedTransferHeader::Status::FormatError;
        return out;
    }
    out.status = ParsedTransferHeader::Status::Ok;
    return out;
}
