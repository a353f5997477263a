// The lock password's file: the password's code-page-932 bytes, each combined by exclusive
// or with a fixed key, nothing else. Other copies and older installs read the same bytes,
// so it stays scrambled rather than encrypted.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class ModZorvin;

namespace PasswordFile {

// The entry boxes' limit.
inline constexpr int kMaxChars = 12;

// Scrambles or restores (the same operation): byte i goes with key byte i mod 10.
QByteArray scramble(QByteArrayView bytes);

// The most of the file that is read: kMaxChars double-byte characters and then some.
inline constexpr qint64 kMaxFileBytes = 64;

// The password stored in the file; "" when it is missing, empty or unreadable. A file
// longer than any password gives its first kMaxChars characters, and `whole` (when given)
// becomes false.
QString load(const QString &path, bool *whole = nullptr);

// Replaces the file with the scrambled password (an empty password gives an empty file),
// atomically and readable by its owner only.
bool save(const QString &path, const QString &password);

// True when the code page holds every character, so the password reads back unchanged.
bool storable(const QString &password);

// Sets the record's Password from the program's password file. A file that could not be
// read as it was is kept beside and replaced by the password read; the line for the
// user's notice (DataFile::keepBesideLine), "" when it was read whole.
QString LoadPassword(ModZorvin &ctx);

} // namespace PasswordFile
