// The 256-character header that opens every picture or file transfer over TCP:
// building it on the sending side, and locating and checking it on the receiving side.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

inline constexpr int kHeaderChars = 256;
// Twelve decimal digits are the most the size field can carry.
inline constexpr qint64 kMaxTransferSize = 999'999'999'999LL;

struct ParsedTransferHeader;

struct TransferHeader
{
    QString dataKind = QStringLiteral("0001"); // "0001" picture, "0002" file
    qint64 size = 0;
    QString archiveName; // blank when the item travels unpacked
    QString itemName;
    QChar faceDown = QLatin1Char('N');
    QChar reserved = QLatin1Char(' ');
    QChar kind = QLatin1Char('I'); // "F" file, "I" picture
    QChar openReceipt = QLatin1Char('N');
    QChar passwordLock = QLatin1Char('N');
    QString hostName;

    bool isFile() const { return kind == QLatin1Char('F'); }

    // The header as text, exactly 256 characters; the socket sends it in the code page.
    QString build() const;

    // Reads the header from the start of the waiting bytes. A header with double-byte
    // names is longer than 256 bytes; the body starts after the encoded length of the
    // 256 characters, so Incomplete can come back with more than 256 bytes waiting.
    static ParsedTransferHeader parse(QByteArrayView waiting);

    // Bytes that the first `chars` characters of CP932 text take, or -1 when `bytes`
    // holds fewer characters.
    static qsizetype encodedLength(QByteArrayView bytes, int chars);

    // A name from the network is used as a bare file name inside the receive folders
    // only: no separators, no "..", no drive letter, no control characters, not empty.
    static bool isSafeName(const QString &name);
};

// Parsing outcome: the errors are the receiver's error replies (1 version mismatch,
// 2 format error).
struct ParsedTransferHeader
{
    enum class Status { Incomplete, Ok, VersionMismatch, FormatError };
    Status status = Status::Incomplete;
    TransferHeader header;
    // Bytes the header takes on the wire; the body starts right after them.
    qsizetype byteLength = 0;
};
