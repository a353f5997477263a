#include "pictures/PaintProgram.h"

#include "pictures/ImageFiles.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"

#include <QDir>
#include <QImage>

void StartPaintProgram(ModZorvin &ctx, EngineHost &host, const QImage &picture,
                       const std::function<void()> &copy)
{
    const QString program = ctx.settings.PicEditApp;
    QStringList arguments;
    if (ctx.settings.PicEditAppInf == 1) {
        copy();
    } else {
        QDir().mkpath(ctx.WorkDir);
        const QString path = ctx.WorkDir + QStringLiteral("zorvnimg.bmp");
        QString error;
        if (!ImageFiles::WritePicture(picture, path, ctx.settings.JpegComp, ctx.settings.ProgJpeg, &error)) {
            host.ShowMessageBox(QStringLiteral("保存出来ません \r") + error, MsgBox::Information);
            return;
        }
        arguments << QDir::toNativeSeparators(path);
    }
    if (!StartProgram(program, arguments))
        host.ShowMessageBox(QStringLiteral("「%1」を起動できません。").arg(program), MsgBox::Exclamation);
}
