// The user's home trash as the desktop's trash convention lays it out ($XDG_DATA_HOME/Trash
// with files/ and info/), so that the file manager lists a deleted file and can put it
// back. Plain file calls only: safe on a worker thread.
#pragma once

#include <QString>

namespace HomeTrash {

// $XDG_DATA_HOME/Trash when that variable holds an absolute path, else
// $HOME/.local/share/Trash; "" when HOME is not an absolute path either.
QString location();

// Moves the file `path` into the home trash, creating the trash (owner-only) when it is
// missing. The file is renamed when the trash is on its file system, else copied into the
// trash and then removed. False with *error when that could not be done: the file is then
// where it was, and nothing is left in the trash nor written anywhere else.
bool moveToTrash(const QString &path, QString *error = nullptr);

} // namespace HomeTrash
