#include "platform/WallpaperSetter.h"

#include "platform/PlatformLog.h"
#include "platform/x11/X11RootPixmap.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

WallpaperSetter::WallpaperSetter(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kToolTimeoutMs);
    // The killed tool's finished reports it.
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        m_process.kill();
    });
    connect(&m_process, &QProcess::finished, this, &WallpaperSetter::onToolFinished);
    connect(&m_process, &QProcess::errorOccurred, this, &WallpaperSetter::onToolError);
}

WallpaperSetter *WallpaperSetter::start(const QString &bmpFile, Style style, QObject *parent)
{
    auto *setter = new WallpaperSetter(parent);
    setter->planFor(QFileInfo(bmpFile).absoluteFilePath(), style);
    // Also the root window's answer, which needs no tool, comes from the event loop.
    QMetaObject::invokeMethod(setter, &WallpaperSetter::runNext, Qt::QueuedConnection);
    return setter;
}

void WallpaperSetter::planFor(const QString &file, Style style)
{
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(u':', Qt::SkipEmptyParts);
    const auto is = [&desktops](const char *name) { return desktops.contains(QLatin1String(name)); };
    if (is("cinnamon") || is("x-cinnamon"))
        planGsettings(QStringLiteral("cinnamon"), QStringLiteral("org.cinnamon.desktop.background"),
                      QStringLiteral("picture-uri"), true, file, style);
    else if (is("mate"))
        planGsettings(QStringLiteral("mate"), QStringLiteral("org.mate.background"),
                      QStringLiteral("picture-filename"), false, file, style);
    else if (is("gnome") || is("unity") || is("budgie") || is("pantheon") || is("gnome-flashback"))
        planGsettings(QStringLiteral("gnome"), QStringLiteral("org.gnome.desktop.background"),
                      QStringLiteral("picture-uri"), true, file, style);
    else if (is("kde"))
        planPlasma(file, style);
    else if (is("xfce"))
        planXfce(file, style);
    else
        m_result = SetRootPixmap(file, style);
    qCDebug(lcPlatform) << "wallpaper" << file << "through" << m_result.backEnd << m_steps.size()
                        << "tool runs";
}

void WallpaperSetter::planGsettings(const QString &name, const QString &schema, const QString &pictureKey,
                                    bool uri, const QString &file, Style style)
{
    m_result.backEnd = name;
    const QString picture = uri ? QUrl::fromLocalFile(file).toString() : file;
    const QString option = style == Style::Tiled ? QStringLiteral("wallpaper") : QStringLiteral("centered");
    const QString gsettings = QStringLiteral("gsettings");
    m_steps.append({gsettings, {QStringLiteral("set"), schema, pictureKey, picture}, false, {}});
    m_steps.append(
        {gsettings, {QStringLiteral("set"), schema, QStringLiteral("picture-options"), option}, false, {}});
    // Newer GNOME shows a second picture in its dark style; both show the capture. Older
    // ones have no such key.
    if (name == QLatin1String("gnome"))
        m_steps.append({gsettings,
                        {QStringLiteral("set"), schema, QStringLiteral("picture-uri-dark"), picture},
                        true,
                        {}});
}

void WallpaperSetter::planPlasma(const QString &file, Style style)
{
    m_result.backEnd = QStringLiteral("plasma");
    // FillMode 3 is "tiled", 6 is "centred" in the image wallpaper plugin.
    const QString script = QStringLiteral("for (const d of desktops()) { d.wallpaperPlugin = 'org.kde.image';"
                                          " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
                                          " d.writeConfig('Image', '%1'); d.writeConfig('FillMode', %2); }")
                               .arg(QUrl::fromLocalFile(file).toString(),
                                    style == Style::Tiled ? QStringLiteral("3") : QStringLiteral("6"));
    m_steps.append(
        {QStringLiteral("dbus-send"),
         {QStringLiteral("--session"), QStringLiteral("--type=method_call"),
          QStringLiteral("--dest=org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
          QStringLiteral("org.kde.PlasmaShell.evaluateScript"), QStringLiteral("string:") + script},
         false,
         {}});
}

void WallpaperSetter::planXfce(const QString &file, Style style)
{
    m_result.backEnd = QStringLiteral("xfce");
    const QString query = QStringLiteral("xfconf-query");
    const QString channel = QStringLiteral("xfce4-desktop");
    const QString imageStyle = style == Style::Tiled ? QStringLiteral("2") : QStringLiteral("1");
    // Every monitor and workspace has its own picture; all of them get the capture.
    const auto setEach = [query, channel, imageStyle, file](WallpaperSetter &setter,
                                                            const QByteArray &output) {
        const QStringList properties = QString::fromLocal8Bit(output).split(u'\n');
        for (const QString &property : properties) {
            if (!property.endsWith(QLatin1String("/last-image")))
                continue;
            const QString base = property.left(property.size() - int(qstrlen("last-image")));
            setter.m_steps.append(
                {query,
                 {QStringLiteral("-c"), channel, QStringLiteral("-p"), property, QStringLiteral("-s"), file},
                 false,
                 {}});
            setter.m_steps.append({query,
                                   {QStringLiteral("-c"), channel, QStringLiteral("-p"),
                                    base + QStringLiteral("image-style"), QStringLiteral("-s"), imageStyle},
                                   false,
                                   {}});
        }
        if (setter.m_steps.isEmpty())
            setter.stepFailed(QStringLiteral("no Xfce backdrop property"));
    };
    m_steps.append({query, {QStringLiteral("-c"), channel, QStringLiteral("-l")}, false, setEach});
}

void WallpaperSetter::runNext()
{
    if (m_done)
        return;
    if (m_steps.isEmpty()) {
        // Every tool did its part (or the root window was painted at the start).
        if (!m_result.backEnd.isEmpty() && m_result.backEnd != QLatin1String("x11-root"))
            m_result.ok = true;
        finish();
        return;
    }
    m_current = m_steps.takeFirst();
    if (QStandardPaths::findExecutable(m_current.program).isEmpty()) {
        stepFailed(m_current.program + QStringLiteral(" is not installed"));
        return;
    }
    qCDebug(lcPlatform) << "wallpaper tool" << m_current.program << m_current.arguments;
    m_timeout.start();
    m_process.start(m_current.program, m_current.arguments);
}

void WallpaperSetter::onToolFinished(int exitCode, QProcess::ExitStatus status)
{
    m_timeout.stop();
    if (m_timedOut) {
        m_timedOut = false;
        stepFailed(m_current.program +
                   QStringLiteral(" did not answer within %1 s").arg(kToolTimeoutMs / 1000));
        return;
    }
    if (status != QProcess::NormalExit || exitCode != 0) {
        stepFailed(m_current.program + QStringLiteral(": ") +
                   QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed());
        return;
    }
    if (m_current.then)
        m_current.then(*this, m_process.readAllStandardOutput());
    // Started again from the event loop: QProcess must not be restarted inside its own signal.
    QMetaObject::invokeMethod(this, &WallpaperSetter::runNext, Qt::QueuedConnection);
}

void WallpaperSetter::onToolError(QProcess::ProcessError error)
{
    // A tool that ran and failed is reported by finished; one that could not start is not.
    if (error != QProcess::FailedToStart)
        return;
    m_timeout.stop();
    stepFailed(m_current.program + QStringLiteral(": ") + m_process.errorString());
}

void WallpaperSetter::stepFailed(const QString &why)
{
    if (m_done)
        return;
    qCDebug(lcPlatform) << "wallpaper tool failed:" << why << (m_current.optional ? "(optional)" : "");
    if (m_current.optional) {
        QMetaObject::invokeMethod(this, &WallpaperSetter::runNext, Qt::QueuedConnection);
        return;
    }
    m_steps.clear();
    m_result.ok = false;
    m_result.error = why;
    finish();
}

void WallpaperSetter::finish()
{
    m_done = true;
    emit finished(m_result);
    deleteLater();
}

WallpaperSetter::Result WallpaperSetter::SetRootPixmap(const QString &bmpFile, Style style)
{
    Result result;
    result.backEnd = QStringLiteral("x11-root");
    result.ok = X11RootPixmap::Paint(bmpFile, style == Style::Tiled, &result.error);
    return result;
}
