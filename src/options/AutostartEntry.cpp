#include "options/AutostartEntry.h"

#include "base/ModZorvin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

// The Exec key quotes an argument with reserved characters; inside the quotes ", `, $ and \
// take a backslash, and the string escaping of the file doubles every backslash again.
QString execArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString value = argument;
    value.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (std::none_of(value.begin(), value.end(), [](QChar c) { return reserved.contains(c); }))
        return value;
    QString quoted;
    for (const QChar c : value) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

namespace AutostartEntry {

QString path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/zorvin.desktop");
}

// TryExec makes the desktop skip the entry once the program is gone (package removed).
QString text(const QString &executable, const QStringList &arguments)
{
    QString exec = execArgument(executable);
    for (const QString &argument : arguments)
        exec += QLatin1Char(' ') + execArgument(argument);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "GenericName=Screen Capture and LAN Messenger\n"
                          "Comment=Starts Zorvin in the notification area at login\n"
                          "TryExec=%3\n"
                          "Exec=%2\n"
                          "Icon=zorvin\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(QString::fromUtf8(kProductName), exec,
             QString(executable).replace(QLatin1Char('\\'), QStringLiteral("\\\\")));
}

bool apply(bool on, const QString &executable, const QStringList &arguments, QString *error)
{
    const QString file = path();
    if (!on) {
        if (!QFileInfo::exists(file) || QFile::remove(file))
            return true;
        if (error)
            *error = QStringLiteral("Cannot remove %1").arg(file);
        return false;
    }
    const QByteArray content = text(executable, arguments).toUtf8();
    if (QFile existing(file); existing.open(QIODevice::ReadOnly) && existing.readAll() == content)
        return true;
    QSaveFile out(file);
    if (!QDir().mkpath(QFileInfo(file).absolutePath()) || !out.open(QIODevice::WriteOnly) ||
        out.write(content) != content.size() || !out.commit()) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(file, out.errorString());
        return false;
    }
    return true;
}

} // namespace AutostartEntry
