// Where received files may be touched: a name from the network or from the received list
// is only ever used inside its own folder.
#pragma once

#include <QString>

namespace ReceivedFiles {

// folder + name when `name` is a plain file name (not empty, not "." or "..", no "/" and
// no NUL) and an existing file by that name does not resolve (through links) to a place
// outside `folder`; otherwise "".
QString PathInFolder(const QString &folder, const QString &name);

// True when `path` names a file directly inside `folder` (links resolved).
bool IsInFolder(const QString &folder, const QString &path);

} // namespace ReceivedFiles
