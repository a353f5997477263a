// The toolbar's pictures, drawn in code so that the program ships no icon set: one
// simple, clear symbol per button key, sharp at any device pixel ratio.
#pragma once

#include <QIcon>
#include <QString>

namespace ToolbarIcons {

// The icon for a toolbar key ("FileOpen", "CaptDeskTop", ...); a null icon for an
// unknown key.
QIcon forKey(const QString &key);

// The program's own picture (a monitor with a capture frame), for windows that have
// no icon from the application.
QIcon programIcon();

} // namespace ToolbarIcons
