// Reading the program's data files within bounds, and keeping a file that could not be
// read as it was beside it before anything replaces it: a damaged or huge file costs
// neither minutes nor memory at start-up, and is never lost.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace DataFile {

struct Read
{
    QByteArray bytes;
    bool opened = false; // false: missing, or reading failed (`bytes` is then empty)
    bool whole = true;   // false: the file holds more than was read
};

// At most `maxBytes` of the file. When it holds more, what was read ends after its last
// line break, so that no line is taken cut.
Read readLimited(const QString &path, qint64 maxBytes);

// Renames the file to the first free name beside it (name + ".bak", ".bak2" ... ".bak9");
// the new path, or "" when it could not be kept.
QString keepBeside(const QString &path);

// Keeps the file beside (keepBeside) and gives the line that tells the user so
// ("zorvin.ini → zorvin.ini.bak", CR), or the line saying it could not be kept.
QString keepBesideLine(const QString &path);

// The one message listing the lines of keepBesideLine.
QString keptFilesMessage(const QString &lines);

} // namespace DataFile
