// The wallpaper commands: the picture is written as "ZorvinWall.BMP" in the data folder
// (each command overwrites it) and set as the desktop wallpaper, centred or tiled.
#pragma once

#include "platform/WallpaperSetter.h"

#include <QString>

class ModZorvin;
class QImage;

namespace ModWall {

inline constexpr char kWallFileName[] = "ZorvinWall.BMP";

QString WallFile(const ModZorvin &ctx);

// style "0" centred, "1" tiled. Failures go no further than the result and stderr: the
// user keeps working whatever the desktop did with the picture.
WallpaperSetter::Result SetWallpaper(const ModZorvin &ctx, const QImage &picture, const QString &style);

} // namespace ModWall
