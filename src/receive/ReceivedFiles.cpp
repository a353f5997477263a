#include "receive/ReceivedFiles.h"

#include "base/FolderPath.h"

#include <QDir>
#include <QFileInfo>

namespace ReceivedFiles {

QString PathInFolder(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return {};
    const QString path = FolderPath::join(folder, name);
    if (QFileInfo(path).isSymLink() || QFileInfo::exists(path))
        return IsInFolder(folder, path) ? path : QString();
    return path;
}

bool IsInFolder(const QString &folder, const QString &path)
{
    const QString home = QFileInfo(folder).canonicalFilePath();
    const QFileInfo file(path);
    if (home.isEmpty() || file.fileName().isEmpty())
        return false;
    // A link is judged by where it leads: opening or copying it would reach that file.
    const QString resolved = file.isSymLink() ? file.canonicalFilePath() : file.absoluteFilePath();
    if (resolved.isEmpty())
        return false;
    return QFileInfo(QFileInfo(resolved).absolutePath()).canonicalFilePath() == home;
}

} // namespace ReceivedFiles
