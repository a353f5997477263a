#include "platform/WallpaperSetter.h"

#include "platform/x11/X11RootPixmap.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

// Runs a desktop tool and waits for it: these tools answer at once, and a wallpaper
// command that reports "done" before the desktop took the picture would report a guess.
bool runTool(const QString &program, const QStringList &arguments, QString *error)
{
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        *error = program + QStringLiteral(" is not installed");
        return false;
    }
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error =
            program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        return false;
    }
    return true;
}

WallpaperSetter::Result gsettingsDesktop(const QString &name, const QString &schema,
                                         const QString &pictureKey, bool uri, const QString &file,
                                         WallpaperSetter::Style style)
{
    WallpaperSetter::Result result;
    result.backEnd = name;
    const QString picture = uri ? QUrl::fromLocalFile(file).toString() : file;
    const QString option =
        style == WallpaperSetter::Style::Tiled ? QStringLiteral("wallpaper") : QStringLiteral("centered");
    result.ok =
        runTool(QStringLiteral("gsettings"), {QStringLiteral("set"), schema, pictureKey, picture},
                &result.error) &&
        runTool(QStringLiteral("gsettings"),
                {QStringLiteral("set"), schema, QStringLiteral("picture-options"), option}, &result.error);
    if (result.ok && name == QLatin1String("gnome")) {
        // Newer GNOME shows a second picture in its dark style; both show the capture.
        QString ignored;
        runTool(QStringLiteral("gsettings"),
                {QStringLiteral("set"), schema, QStringLiteral("picture-uri-dark"), picture}, &ignored);
    }
    return result;
}

WallpaperSetter::Result plasma(const QString &file, WallpaperSetter::Style style)
{
    WallpaperSetter::Result result;
    result.backEnd = QStringLiteral("plasma");
    // FillMode 3 is "tiled", 6 is "centred" in the image wallpaper plugin.
    const QString script =
        QStringLiteral("for (const d of desktops()) { d.wallpaperPlugin = 'org.kde.image';"
                       " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
                       " d.writeConfig('Image', '%1'); d.writeConfig('FillMode', %2); }")
            .arg(QUrl::fromLocalFile(file).toString(),
                 style == WallpaperSetter::Style::Tiled ? QStringLiteral("3") : QStringLiteral("6"));
    result.ok =
        runTool(QStringLiteral("dbus-send"),
                {QStringLiteral("--session"), QStringLiteral("--type=method_call"),
                 QStringLiteral("--dest=org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
                 QStringLiteral("org.kde.PlasmaShell.evaluateScript"), QStringLiteral("string:") + script},
                &result.error);
    return result;
}

WallpaperSetter::Result xfce(const QString &file, WallpaperSetter::Style style)
{
    WallpaperSetter::Result result;
    result.backEnd = QStringLiteral("xfce");
    QProcess list;
    list.start(QStringLiteral("xfconf-query"),
               {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"), QStringLiteral("-l")});
    if (!list.waitForFinished(10000) || list.exitCode() != 0) {
        result.error = QStringLiteral("xfconf-query cannot list the desktop channel");
        return result;
    }
    // Every monitor and workspace has its own picture; all of them get the capture.
    const QStringList properties = QString::fromLocal8Bit(list.readAllStandardOutput()).split(u'\n');
    const QString imageStyle =
        style == WallpaperSetter::Style::Tiled ? QStringLiteral("2") : QStringLiteral("1");
    result.ok = false;
    for (const QString &property : properties) {
        if (!property.endsWith(QLatin1String("/last-image")))
            continue;
        const QString base = property.left(property.size() - int(qstrlen("last-image")));
        result.ok = runTool(QStringLiteral("xfconf-query"),
                            {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"), QStringLiteral("-p"),
                             property, QStringLiteral("-s"), file},
                            &result.error) &&
                    runTool(QStringLiteral("xfconf-query"),
                            {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"), QStringLiteral("-p"),
                             base + QStringLiteral("image-style"), QStringLiteral("-s"), imageStyle},
                            &result.error);
        if (!result.ok)
            break;
    }
    if (!result.ok && result.error.isEmpty())
        result.error = QStringLiteral("no Xfce backdrop property");
    return result;
}

} // namespace

WallpaperSetter::Result WallpaperSetter::Set(const QString &bmpFile, Style style)
{
    const QString file = QFileInfo(bmpFile).absoluteFilePath();
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(u':', Qt::SkipEmptyParts);
    const auto is = [&desktops](const char *name) { return desktops.contains(QLatin1String(name)); };
    if (is("cinnamon") || is("x-cinnamon"))
        return gsettingsDesktop(QStringLiteral("cinnamon"), QStringLiteral("org.cinnamon.desktop.background"),
                                QStringLiteral("picture-uri"), true, file, style);
    if (is("mate"))
        return gsettingsDesktop(QStringLiteral("mate"), QStringLiteral("org.mate.background"),
                                QStringLiteral("picture-filename"), false, file, style);
    if (is("gnome") || is("unity") || is("budgie") || is("pantheon") || is("gnome-flashback"))
        return gsettingsDesktop(QStringLiteral("gnome"), QStringLiteral("org.gnome.desktop.background"),
                                QStringLiteral("picture-uri"), true, file, style);
    if (is("kde"))
        return plasma(file, style);
    if (is("xfce"))
        return xfce(file, style);
    return SetRootPixmap(file, style);
}

WallpaperSetter::Result WallpaperSetter::SetRootPixmap(const QString &bmpFile, Style style)
{
    Result result;
    result.backEnd = QStringLiteral("x11-root");
    result.ok = X11RootPixmap::Paint(bmpFile, style == Style::Tiled, &result.error);
    return result;
}
