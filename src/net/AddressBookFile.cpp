#include "net/AddressBookFile.h"

#include "net/AddressStore.h"
#include "base/AnsiCodec.h"
#include "base/DataFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace {

constexpr QChar kQuote = QLatin1Char('"');
constexpr QChar kComma = QLatin1Char(',');

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Fields of one line by the usual comma-separated rules: a quoted field ends at its
// closing quote (commas inside belong to it, anything between the closing quote and the
// next comma is dropped); an unquoted field ends at a comma and loses surrounding blanks.
QStringList splitRecord(const QString &line)
{
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = line.size();
    for (;;) {
        while (i < n && isBlank(line[i]))
            ++i;
        QString field;
        if (i < n && line[i] == kQuote) {
            const qsizetype close = line.indexOf(kQuote, i + 1);
            const qsizetype end = close < 0 ? n : close;
            field = line.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            while (i < n && line[i] != kComma)
                ++i;
        } else {
            qsizetype comma = line.indexOf(kComma, i);
            if (comma < 0)
                comma = n;
            field = line.mid(i, comma - i).trimmed();
            i = comma;
        }
        fields.append(field);
        if (i >= n)
            break;
        ++i; // the comma
    }
    return fields;
}

// The lines of the file's bytes that are not blank (line breaks are single bytes in the
// code page, never part of a double-byte character), at most kMaxRows of them. A line
// longer than the program writes is taken (its name and group are cut to their limits)
// but marks the file as not read as it was.
QList<QByteArrayView> splitLines(QByteArrayView bytes, bool *whole)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    int rows = 0;
    const auto take = [&](QByteArrayView line) {
        if (line.size() > AddressBookFile::kMaxLineBytes)
            *whole = false;
        if (line.trimmed().isEmpty())
            return true;
        if (rows == AddressBookFile::kMaxRows) {
            *whole = false;
            return false;
        }
        ++rows;
        lines.append(line);
        return true;
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        if (!take(bytes.sliced(start, i - start)))
            return lines;
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        take(bytes.sliced(start));
    return lines;
}

QString quoted(const QString &text)
{
    return kQuote + AddressBookFile::cleanField(text) + kQuote;
}

} // namespace

namespace AddressBookFile {

QList<AddressEntry> parse(QByteArrayView bytes, bool *whole)
{
    bool wholeHere = true;
    QList<AddressEntry> rows;
    const QList<QByteArrayView> lines = splitLines(bytes, whole ? whole : &wholeHere);
    if (lines.isEmpty())
        return rows;
    // The first line of the file, whole, even when it is blank. A double quote is never
    // the second byte of a double-byte character.
    qsizetype firstEnd = 0;
    while (firstEnd < bytes.size() && bytes[firstEnd] != '\r' && bytes[firstEnd] != '\n')
        ++firstEnd;
    const bool sixFields = bytes.first(firstEnd).endsWith("\"\"");
    for (const QByteArrayView bytesOfLine : lines) {
        const QStringList f = splitRecord(AnsiCodec::decode(bytesOfLine));
        AddressEntry entry;
        entry.EntryName = f.value(0).left(kEntryNameChars);
        entry.EntryAddress = f.value(1);
        entry.EntryState = kStateUnavail;
        if (sixFields) {
            entry.EntryType = f.value(2);
            entry.EntryGroup = f.value(3).left(kEntryGroupChars);
            entry.EntryFavourite = f.value(4);
        } else {
            entry.EntryType = QStringLiteral("M");
        }
        rows.append(entry);
    }
    return rows;
}

QString cleanField(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c == kQuote)
            c = QLatin1Char('\'');
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Separator_Line ||
                 c.category() == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return out;
}

QByteArray serialize(const std::vector<AddressEntry> &rows)
{
    QString text;
    for (const AddressEntry &e : rows) {
        text += quoted(e.EntryName) + kComma + quoted(e.EntryAddress) + kComma + quoted(e.EntryType) +
                kComma + quoted(e.EntryGroup) + kComma + quoted(e.EntryFavourite) + kComma +
                QStringLiteral("\"\"\r\n");
    }
    return AnsiCodec::encode(text);
}

bool LoadAddressBook(const QString &path, AddressStore &store)
{
    const DataFile::Read read = DataFile::readLimited(path, kMaxFileBytes);
    bool whole = read.whole;
    for (const AddressEntry &entry : parse(read.bytes, &whole))
        store.append(entry);
    return whole;
}

bool SaveAddressBook(const QString &path, const AddressStore &store, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.write(serialize(store.rows()));
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace AddressBookFile
