// Single-key access to the profile (INI) file zorvin.ini, in code page 932, with the
// behaviour of the platform's profile calls that the stored files were written with.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// The three sections the program uses.
inline constexpr char kSectionVersion[] = "Zorvin";
inline constexpr char kSectionSettings[] = "ZorvinSetting";
inline constexpr char kSectionAdrEdit[] = "AdrEdit";

class SettingsFile
{
  public:
    // A value is read as at most this many bytes; longer values are cut, and the cut never
    // leaves the first half of a double-byte character at the end (it is then one byte shorter).
    static constexpr int kMaxValueBytes = 1023;
    // The most of the file that is read: every key of the program at its longest value
    // takes about a third of it. A longer file is read up to its last line within this.
    static constexpr qint64 kMaxFileBytes = 256 * 1024;

    explicit SettingsFile(const QString &path) : m_path(path) {}

    const QString &path() const { return m_path; }

    // The value of a key, "" when the file, the section or the key is missing or unreadable.
    // Section and key names match without regard to ASCII case; blanks around names and
    // values do not count. Values come back verbatim otherwise (quotes are not removed), up
    // to the first NUL. With repeated sections or keys the first occurrence in the file wins.
    QString ReadSetting(const QString &section, const QString &key) const;

    // Sets one key, creating the file, the section (appended at the end of the file) or the
    // key (after the last key of its section) as needed; every other byte of the file stays
    // as it was. The new file replaces the old one only once it is written completely. A
    // file that cannot be read or is not writable is left untouched: false, with the reason
    // in `error` when given. A file longer than is read is first kept beside
    // (DataFile::keepBeside), and left alone when it cannot be. Line breaks and NULs in the
    // value become blanks, so a value can never add lines; a section or key name that could
    // not be read back as written is not written at all (false too).
    bool WriteSetting(const QString &section, const QString &key, const QString &value,
                      QString *error = nullptr) const;

    // The same rules on the bytes of a file: the value a read would give, and the whole
    // file after a write (nullopt when the names are refused and nothing would be written).
    static QString valueIn(const QByteArray &data, const QString &section, const QString &key);

    // A file longer than is read is kept beside and replaced by the part that is read, so
    // that every later read and write is quick; the line for the user's notice
    // (DataFile::keepBesideLine), or "" when the file was read whole.
    QString KeepUnreadOriginal() const;
    static std::optional<QByteArray> withValue(const QByteArray &data, const QString &section,
                                               const QString &key, const QString &value);

  private:
    QString m_path;
};
