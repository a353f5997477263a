// The wallpaper of a plain X session: the picture painted into a pixmap that becomes the
// root window's background and is published as _XROOTPMAP_ID / ESETROOT_PMAP_ID, so that
// pseudo-transparent programs find it and the next setter can free it.
#pragma once

#include <QString>

namespace X11RootPixmap {

// Centred on black, or tiled from the top-left corner. False with the reason when there is
// no X display or the picture cannot be read.
bool Paint(const QString &pictureFile, bool tiled, QString *error);

} // namespace X11RootPixmap
