#include "receive/HomeTrash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

// Creates `folder` and every missing folder above it with mode 0700, as the base-directory
// convention asks for folders it creates; existing folders keep their modes.
bool makeOwnerOnlyPath(const QString &folder, QString *error)
{
    QString built;
    for (const QString &part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        built += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(built);
        if (::mkdir(native.constData(), 0700) == 0 || errno == EEXIST) {
            struct stat st {};
            if (::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            *error = QStringLiteral("%1 is not a folder").arg(built);
            return false;
        }
        *error = QStringLiteral("Cannot create %1: %2").arg(built, systemError(errno));
        return false;
    }
    return true;
}

// "name", then "name.2.ext", "name.3.ext", … : a trashed file keeps its type's extension.
QString candidateName(const QString &name, int attempt)
{
    if (attempt == 1)
        return name;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name + QLatin1Char('.') + QString::number(attempt);
    return name.left(dot) + QLatin1Char('.') + QString::number(attempt) + name.mid(dot);
}

QByteArray trashInfo(const QString &originalPath)
{
    // The path as the file system holds it, escaped as a URL path.
    return "[Trash Info]\nPath=" + QFile::encodeName(originalPath).toPercentEncoding("/") +
           "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() + "\n";
}

// Claims `infoPath` (created exclusively, so two deletions never share a name) and writes it.
// 1 written, 0 the name is taken, -1 failed.
int claimInfo(const QString &infoPath, const QByteArray &content, QString *error)
{
    const QByteArray native = QFile::encodeName(infoPath);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return 0;
        *error = QStringLiteral("Cannot write %1: %2").arg(infoPath, systemError(errno));
        return -1;
    }
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = QStringLiteral("Cannot write %1: %2").arg(infoPath, systemError(errno));
            ::close(fd);
            ::unlink(native.constData());
            return -1;
        }
        written += n;
    }
    if (::close(fd) != 0) {
        *error = QStringLiteral("Cannot write %1: %2").arg(infoPath, systemError(errno));
        ::unlink(native.constData());
        return -1;
    }
    return 1;
}

} // namespace

namespace HomeTrash {

QString location()
{
    // Relative values are not valid for either variable: the trash would land wherever the
    // program happens to run.
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!dataHome.isEmpty() && QDir::isAbsolutePath(dataHome))
        return QDir::cleanPath(dataHome) + QStringLiteral("/Trash");
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home))
        return QDir::cleanPath(home) + QStringLiteral("/.local/share/Trash");
    return {};
}

bool moveToTrash(const QString &path, QString *error)
{
    QString ignored;
    QString &why = error ? *error : ignored;
    const QFileInfo source(path);
    if (!source.isFile() || source.isSymLink()) {
        why = QStringLiteral("%1 is not a file").arg(path);
        return false;
    }
    const QString trash = location();
    if (trash.isEmpty()) {
        why = QStringLiteral("No home folder to keep the trash in");
        return false;
    }
    const QString files = trash + QStringLiteral("/files");
    const QString info = trash + QStringLiteral("/info");
    if (!makeOwnerOnlyPath(files, &why) || !makeOwnerOnlyPath(info, &why))
        return false;

    const QString original = source.absoluteFilePath();
    const QByteArray content = trashInfo(original);
    QString name;
    QString infoPath;
    for (int attempt = 1;; ++attempt) {
        if (attempt > 10000) {
            why = QStringLiteral("No free name in %1").arg(files);
            return false;
        }
        name = candidateName(source.fileName(), attempt);
        infoPath = info + u'/' + name + QStringLiteral(".trashinfo");
        const int claimed = claimInfo(infoPath, content, &why);
        if (claimed < 0)
            return false;
        if (claimed == 0)
            continue;
        // A file left in files/ without its info (an earlier crash) keeps its name too.
        if (QFileInfo(files + u'/' + name).exists() || QFileInfo(files + u'/' + name).isSymLink()) {
            QFile::remove(infoPath);
            continue;
        }
        break;
    }

    const QString target = files + u'/' + name;
    const QByteArray from = QFile::encodeName(original);
    const QByteArray to = QFile::encodeName(target);
    if (::rename(from.constData(), to.constData()) == 0)
        return true;
    const int renameError = errno;
    if (renameError != EXDEV) {
        why = QStringLiteral("Cannot move %1 to %2: %3").arg(original, target, systemError(renameError));
        QFile::remove(infoPath);
        return false;
    }
    // Another file system: a whole copy in the trash first, then the original goes.
    QFile copy(original);
    if (!copy.copy(target)) {
        why = QStringLiteral("Cannot copy %1 to %2: %3").arg(original, target, copy.errorString());
        QFile::remove(target);
        QFile::remove(infoPath);
        return false;
    }
    if (::unlink(from.constData()) != 0) {
        why = QStringLiteral("Cannot remove %1: %2").arg(original, systemError(errno));
        QFile::remove(target);
        QFile::remove(infoPath);
        return false;
    }
    return true;
}

} // namespace HomeTrash
