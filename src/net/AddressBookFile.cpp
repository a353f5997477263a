#include "net/AddressBookFile.h"

#include "net/AddressStore.h"
#include "base/AnsiCodec.h"

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

QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines.append(text.mid(start, i - start));
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QString quoted(const QString &text)
{
    return kQuote + AddressBookFile::cleanField(text) + kQuote;
}

} // namespace

namespace AddressBookFile {

QList<AddressEntry> parse(QByteArrayView bytes)
{
    QList<AddressEntry> rows;
    const QStringList lines = splitLines(AnsiCodec::decode(bytes));
    if (lines.isEmpty())
        return rows;
    const bool sixFields = lines.first().endsWith(QStringLiteral("\"\""));
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const QStringList f = splitRecord(line);
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

void LoadAddressBook(const QString &path, AddressStore &store)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    for (const AddressEntry &entry : parse(bytes))
        store.append(entry);
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
