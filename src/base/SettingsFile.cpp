#include "base/SettingsFile.h"

#include "base/AnsiCodec.h"
#include "base/CoreLog.h"
#include "base/DataFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <vector>

namespace {

// One line of the file with its own terminator ("\r\n", "\n", "\r", or "" for a last line
// without one), so that lines the program does not touch are written back byte for byte.
struct Line
{
    QByteArray text;
    QByteArray end;
};

enum class LineKind { Other, Section, Key };

// Views into the line it was parsed from.
struct ParsedLine
{
    LineKind kind = LineKind::Other;
    QByteArrayView name;  // section or key name, blanks removed
    QByteArrayView value; // key value, blanks removed
};

bool isLeadByte(uchar c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Blanks are single-byte and never the second half of a double-byte character (those are
// 0x40 and above), so trimming bytes is safe.
QByteArrayView trimmedView(QByteArrayView bytes)
{
    qsizetype from = 0, to = bytes.size();
    while (from < to && isBlank(bytes[from]))
        ++from;
    while (to > from && isBlank(bytes[to - 1]))
        --to;
    return bytes.sliced(from, to - from);
}

QByteArray trimBlanks(QByteArrayView bytes)
{
    return trimmedView(bytes).toByteArray();
}

// ASCII letters compare without case; the bytes of a double-byte character compare exactly,
// since their second byte may fall in the ASCII letter range.
bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const uchar ca = uchar(a[i]), cb = uchar(b[i]);
        if (isLeadByte(ca)) {
            if (ca != cb || i + 1 >= a.size() || a[i + 1] != b[i + 1])
                return false;
            ++i;
            continue;
        }
        const auto lower = [](uchar c) { return (c >= 'A' && c <= 'Z') ? uchar(c + 32) : c; };
        if (lower(ca) != lower(cb))
            return false;
    }
    return true;
}

std::vector<Line> splitLines(const QByteArray &data)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c != '\r' && c != '\n')
            continue;
        const qsizetype endLength = (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ? 2 : 1;
        lines.push_back({data.sliced(start, i - start), data.sliced(i, endLength)});
        i += endLength - 1;
        start = i + 1;
    }
    if (start < data.size())
        lines.push_back({data.sliced(start), QByteArray()});
    return lines;
}

// Calls `f` with each line of `data` (without its terminator), as splitLines cuts them,
// without copying any.
template <typename F> void forEachLine(QByteArrayView data, F f)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c != '\r' && c != '\n')
            continue;
        f(data.sliced(start, i - start));
        if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < data.size())
        f(data.sliced(start));
}

ParsedLine parseLine(QByteArrayView text)
{
    ParsedLine parsed;
    const QByteArrayView line = trimmedView(text);
    if (line.startsWith('[')) {
        // "]" may be the second byte of a double-byte character, so find it character-wise.
        // A header without "]" still starts a section, so that its keys never count as keys
        // of the section above it.
        qsizetype close = 1;
        while (close < line.size() && line[close] != ']')
            close += isLeadByte(uchar(line[close])) ? 2 : 1;
        parsed.kind = LineKind::Section;
        parsed.name = trimmedView(line.sliced(1, qMin(close, line.size()) - 1));
        return parsed;
    }
    if (line.startsWith(';'))
        return parsed;
    // "=" is below 0x40, so it is never part of a double-byte character.
    const qsizetype equals = line.indexOf('=');
    if (equals < 0)
        return parsed;
    parsed.kind = LineKind::Key;
    parsed.name = trimmedView(line.first(equals));
    parsed.value = trimmedView(line.sliced(equals + 1));
    return parsed;
}

QByteArray cutValue(QByteArray value)
{
    const qsizetype nul = value.indexOf('\0');
    if (nul >= 0)
        value.truncate(nul);
    if (value.size() <= SettingsFile::kMaxValueBytes)
        return value;
    qsizetype end = 0;
    while (end < SettingsFile::kMaxValueBytes) {
        const qsizetype step = isLeadByte(uchar(value[end])) ? 2 : 1;
        if (end + step > SettingsFile::kMaxValueBytes)
            break;
        end += step;
    }
    value.truncate(end);
    return value;
}

// A name that the reader would see differently from how it was given (empty, spanning
// lines, or taken for a comment, a section header or a key/value split) is refused.
bool encodeName(const QString &name, bool isSection, QByteArray *out)
{
    const QByteArray bytes = trimBlanks(AnsiCodec::encode(name));
    if (bytes.isEmpty() || bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0'))
        return false;
    if (isSection) {
        for (qsizetype i = 0; i < bytes.size(); i += isLeadByte(uchar(bytes[i])) ? 2 : 1) {
            if (bytes[i] == ']')
                return false;
        }
    } else if (bytes.contains('=') || bytes.startsWith('[') || bytes.startsWith(';')) {
        return false;
    }
    *out = bytes;
    return true;
}

} // namespace

QString SettingsFile::ReadSetting(const QString &section, const QString &key) const
{
    return valueIn(DataFile::readLimited(m_path, kMaxFileBytes).bytes, section, key);
}

QString SettingsFile::KeepUnreadOriginal() const
{
    const DataFile::Read read = DataFile::readLimited(m_path, kMaxFileBytes);
    if (!read.opened || read.whole)
        return QString();
    const QString line = DataFile::keepBesideLine(m_path);
    QSaveFile file(m_path);
    if (QFileInfo::exists(m_path) || !file.open(QIODevice::WriteOnly))
        return line;
    if (file.write(read.bytes) == read.bytes.size())
        file.commit();
    else
        file.cancelWriting();
    return line;
}

QString SettingsFile::valueIn(const QByteArray &data, const QString &section, const QString &key)
{
    QByteArray sectionName, keyName;
    if (!encodeName(section, true, &sectionName) || !encodeName(key, false, &keyName))
        return QString();
    bool inSection = false;
    QString found;
    bool done = false;
    forEachLine(data, [&](QByteArrayView text) {
        if (done)
            return;
        const ParsedLine parsed = parseLine(text);
        if (parsed.kind == LineKind::Section) {
            inSection = sameName(parsed.name, sectionName);
        } else if (inSection && parsed.kind == LineKind::Key && sameName(parsed.name, keyName)) {
            found = AnsiCodec::decode(cutValue(parsed.value.toByteArray()));
            done = true;
        }
    });
    return found;
}

bool SettingsFile::WriteSetting(const QString &section, const QString &key, const QString &value,
                                QString *error) const
{
    const auto fail = [this, &key, error](const QString &why) {
        qCDebug(lcSettings) << "not written:" << m_path << key << why;
        if (error)
            *error = why;
        return false;
    };
    // QSaveFile would happily rename over a read-only file, and replacing a file that could
    // not be read would lose it; both are left alone. A file without any write permission
    // counts as read-only even for a user (root) whom the system would let write it.
    const QFileInfo info(m_path);
    QByteArray data;
    if (info.exists()) {
        // WriteUser would ask the system, which says yes to root; the mode bits do not.
        constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        if (!info.isFile())
            return fail(QStringLiteral("not a file"));
        if (!info.isWritable() || !(info.permissions() & anyWrite))
            return fail(QStringLiteral("the file is read-only"));
        DataFile::Read read = DataFile::readLimited(m_path, kMaxFileBytes);
        if (!read.opened)
            return fail(QStringLiteral("the file cannot be read"));
        // What was not read is not lost: the file is kept beside first.
        if (!read.whole && DataFile::keepBeside(m_path).isEmpty())
            return fail(QStringLiteral("the file is longer than is read and cannot be kept beside"));
        data = std::move(read.bytes);
    }
    const std::optional<QByteArray> out = withValue(data, section, key, value);
    if (!out)
        return fail(QStringLiteral("the section or key name cannot be stored"));

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(*out) != out->size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

std::optional<QByteArray> SettingsFile::withValue(const QByteArray &data, const QString &section,
                                                  const QString &key, const QString &value)
{
    QByteArray sectionName, keyName;
    if (!encodeName(section, true, &sectionName) || !encodeName(key, false, &keyName))
        return std::nullopt;
    QByteArray valueBytes = AnsiCodec::encode(value);
    valueBytes.replace('\r', ' ').replace('\n', ' ').replace('\0', ' ');

    std::vector<Line> lines = splitLines(data);
    static const QByteArray crlf("\r\n");
    // The key is looked for in every section of that name; a new key goes after the last key
    // of the first such section (before any blank lines or comments that lead to the next one).
    enum { BeforeSection, InFirstSection, AfterFirstSection } where = BeforeSection;
    bool inSection = false;
    qsizetype sectionInsertAt = -1;
    qsizetype keyAt = -1;
    for (qsizetype i = 0; i < qsizetype(lines.size()) && keyAt < 0; ++i) {
        const ParsedLine parsed = parseLine(lines[size_t(i)].text);
        if (parsed.kind == LineKind::Section) {
            inSection = sameName(parsed.name, sectionName);
            if (where == InFirstSection)
                where = AfterFirstSection;
            if (where == BeforeSection && inSection) {
                where = InFirstSection;
                sectionInsertAt = i + 1;
            }
        } else if (inSection && parsed.kind == LineKind::Key) {
            if (sameName(parsed.name, keyName))
                keyAt = i;
            else if (where == InFirstSection)
                sectionInsertAt = i + 1;
        }
    }

    if (keyAt >= 0) {
        // The file's own spelling of the key is kept.
        lines[size_t(keyAt)].text =
            parseLine(lines[size_t(keyAt)].text).name.toByteArray() + '=' + valueBytes;
    } else {
        std::vector<Line> added;
        if (sectionInsertAt < 0) {
            sectionInsertAt = qsizetype(lines.size());
            added.push_back({'[' + sectionName + ']', crlf});
        }
        added.push_back({keyName + '=' + valueBytes, crlf});
        if (sectionInsertAt > 0 && lines[size_t(sectionInsertAt - 1)].end.isEmpty())
            lines[size_t(sectionInsertAt - 1)].end = crlf;
        lines.insert(lines.begin() + sectionInsertAt, added.begin(), added.end());
    }

    QByteArray out;
    out.reserve(data.size() + valueBytes.size() + sectionName.size() + keyName.size() + 8);
    for (const Line &line : lines)
        out += line.text + line.end;
    return out;
}
