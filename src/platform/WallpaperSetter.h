// Sets a bitmap file as the desktop wallpaper the way the running desktop expects it:
// GNOME and its relatives through their background settings, KDE Plasma through its
// scripting interface, Xfce through its settings channel, and on a plain window manager by
// painting the root window and publishing the pixmap as X wallpaper setters do.
#pragma once

#include <QString>

class WallpaperSetter
{
  public:
    enum class Style { Centred, Tiled };
    struct Result
    {
        bool ok = false;
        QString backEnd; // "gnome", "mate", "cinnamon", "plasma", "xfce", "x11-root"
        QString error;
    };

    // The desktop from XDG_CURRENT_DESKTOP (and the session's own variables); an unknown
    // one or none goes to the root window.
    static Result Set(const QString &bmpFile, Style style);

    // The root-window back-end alone (a plain window manager).
    static Result SetRootPixmap(const QString &bmpFile, Style style);
};
