#include "pictures/ModWall.h"

#include "pictures/CaptureLog.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"

#include <QImage>

namespace ModWall {

QString WallFile(const ModZorvin &ctx)
{
    return ctx.ProgramDir + QLatin1String(kWallFileName);
}

void SetWallpaper(const ModZorvin &ctx, const QImage &picture, const QString &style, QObject *owner,
                  std::function<void(const WallpaperSetter::Result &)> done)
{
    const auto report = [done](const WallpaperSetter::Result &result) {
        qCDebug(lcCapture) << "wallpaper through" << result.backEnd << (result.ok ? "set" : "failed:")
                           << result.error;
        if (!result.ok)
            TellTerminal(QStringLiteral("wallpaper (%1): %2").arg(result.backEnd, result.error));
        if (done)
            done(result);
    };
    const QString file = WallFile(ctx);
    if (picture.isNull() || !picture.save(file, "BMP")) {
        WallpaperSetter::Result result;
        result.error = QStringLiteral("cannot write ") + file;
        // Like the desktops' answers, this one comes from the event loop.
        QMetaObject::invokeMethod(
            owner, [report, result] { report(result); }, Qt::QueuedConnection);
        return;
    }
    WallpaperSetter *setter = WallpaperSetter::start(
        file, style == QLatin1String("1") ? WallpaperSetter::Style::Tiled : WallpaperSetter::Style::Centred,
        owner);
    QObject::connect(setter, &WallpaperSetter::finished, owner, report);
}

} // namespace ModWall
