// The program's icon as plain images: the tray, the windows and the icon files installed for
// the desktop's menus are all drawn by this one routine, so they cannot drift apart.
#pragma once

#include <QColor>
#include <QImage>

namespace ProgramIcon {

inline const QColor kNormalColor(0x1f, 0x5f, 0xbf);
inline const QColor kBlinkColor(0xe0, 0x70, 0x10);

// A square picture of size × size pixels on a transparent background. Needs no
// application object, so a build step can draw the installed icon files with it.
QImage draw(const QColor &background, int size);

} // namespace ProgramIcon
