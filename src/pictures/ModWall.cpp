#include "pictures/ModWall.h"

#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"

#include <QImage>

namespace ModWall {

QString WallFile(const ModZorvin &ctx)
{
    return ctx.ProgramDir + QLatin1String(kWallFileName);
}

WallpaperSetter::Result SetWallpaper(const ModZorvin &ctx, const QImage &picture, const QString &style)
{
    const QString file = WallFile(ctx);
    WallpaperSetter::Result result;
    if (picture.isNull() || !picture.save(file, "BMP")) {
        result.error = QStringLiteral("cannot write ") + file;
    } else {
        result = WallpaperSetter::Set(file, style == QLatin1String("1") ? WallpaperSetter::Style::Tiled
                                                                        : WallpaperSetter::Style::Centred);
    }
    if (!result.ok)
        TellTerminal(QStringLiteral("wallpaper (%1): %2").arg(result.backEnd, result.error));
    return result;
}

} // namespace ModWall
