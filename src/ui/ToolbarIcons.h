// The toolbar's pictures: the desktop's icon theme for the commands that have a standard
// icon, and otherwise (and for the capture modes) one simple symbol per key drawn in code,
// so that the program ships no icon set. Every icon has its own disabled look.
#pragma once

#include <QIcon>
#include <QString>

namespace ToolbarIcons {

// How much of a symbol's opacity its disabled look keeps.
inline constexpr int kDisabledOpacityPercent = 35;

// The icon for a toolbar key ("FileOpen", "CaptDeskTop", ...), with Normal and Disabled
// pixmaps at 16, 24, 32 and 48 pixels; a null icon for an unknown key.
QIcon forKey(const QString &key);

// The program's own picture (a monitor with a capture frame), for windows that have
// no icon from the application.
QIcon programIcon();

} // namespace ToolbarIcons
