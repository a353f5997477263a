// The address book file zorvin.dat: CP932 text, one CR LF line per row with six quoted,
// comma-separated fields (name, address, type, group, favourite, an always empty sixth);
// an older form holds only name and address and loads as manual entries.
//
// The format has no escaping, so text from the wire is cleaned on writing: a double quote
// becomes a single quote (') and every control character, line breaks included, becomes
// a blank. A cleaned name therefore reads back as written and can never split or shift
// another row. A character that code page 932 cannot hold is stored as "?".
#pragma once

#include "net/AddressEntry.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <vector>

class AddressStore;

namespace AddressBookFile {

// What is read of a file. A row the program writes takes at most about 440 bytes; a
// longer line is read, but the file was not written so. Rows beyond the limit are not
// read, nor bytes beyond the size.
inline constexpr qsizetype kMaxLineBytes = 1024;
inline constexpr int kMaxRows = 16384;
inline constexpr qint64 kMaxFileBytes = qint64(kMaxRows) * 512;

// The rows a file's bytes hold, every one "unavail" with an empty version. The first
// line decides the form: when it ends with two double quotes the six-field form is read,
// otherwise the two-field form. Each line is one record; missing fields are empty and
// extra ones are dropped, so one damaged line never shifts the rows after it.
// `whole` (when given) becomes false when a line is longer than kMaxLineBytes or rows
// were left out.
QList<AddressEntry> parse(QByteArrayView bytes, bool *whole = nullptr);

// The file's bytes for these rows (six-field form; state and version are not kept).
QByteArray serialize(const std::vector<AddressEntry> &rows);

// A field's text as the file holds it (see the cleaning above).
QString cleanField(const QString &text);

// Appends the file's rows to the store; a missing, empty or unreadable file adds nothing.
// False when the file could not be read as it was (too long, a line cut, too many rows):
// then it must be kept beside before it is replaced.
bool LoadAddressBook(const QString &path, AddressStore &store);

// Writes the store to a temporary file beside `path` and renames it over the old one,
// so a failed or interrupted save keeps the previous book.
[[nodiscard]] bool SaveAddressBook(const QString &path, const AddressStore &store, QString *error = nullptr);

} // namespace AddressBookFile
