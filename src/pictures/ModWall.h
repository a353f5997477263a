// The wallpaper commands: the picture is written as "ZorvinWall.BMP" in the data folder
// (each command overwrites it) and set as the desktop wallpaper, centred or tiled.
#pragma once

#include "platform/WallpaperSetter.h"

#include <QString>

#include <functional>

class ModZorvin;
class QImage;
class QObject;

namespace ModWall {

inline constexpr char kWallFileName[] = "ZorvinWall.BMP";

QString WallFile(const ModZorvin &ctx);

// style "0" centred, "1" tiled. Writes the file and returns; the desktop's tools run from
// the event loop, and `done` (when given) gets the outcome from there, as long as `owner`
// lives. Failures go no further than `done` and stderr: the user keeps working whatever
// the desktop did with the picture.
void SetWallpaper(const ModZorvin &ctx, const QImage &picture, const QString &style, QObject *owner,
                  std::function<void(const WallpaperSetter::Result &)> done = {});

} // namespace ModWall
