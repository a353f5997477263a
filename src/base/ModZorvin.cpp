#include "base/ModZorvin.h"

#include "base/FolderPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

void makeOwnerOnlyFolder(const QString &path)
{
    QDir().mkpath(path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// The path without its final "/": with it, lstat would follow a link.
bool isOwnRealFolder(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(QDir::cleanPath(path)).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid();
}

} // namespace

void ModZorvin::MakeTempFolders(const QString &tempPath)
{
    TempPath = FolderPath::withSlash(tempPath);
    // The per-user folder has a name anyone can guess in the shared temporary folder. One
    // planted there beforehand (a link, or a folder of another user) would let its owner
    // read the incoming files or redirect their writes: a fresh private folder is used instead.
    QDir().mkpath(TempPath);
    if (isOwnRealFolder(TempPath)) {
        makeOwnerOnlyFolder(TempPath);
    } else {
        QByteArray pattern = QFile::encodeName(QDir::cleanPath(TempPath)) + ".XXXXXX";
        if (::mkdtemp(pattern.data()))
            TempPath = QFile::decodeName(pattern) + QLatin1Char('/');
    }
    WorkDir = TempPath + QStringLiteral("~zorvin/");
    SendTempDir = WorkDir + QStringLiteral("~STemp/");
    RecvTempDir = WorkDir + QStringLiteral("~RTemp/");
    makeOwnerOnlyFolder(WorkDir);
    makeOwnerOnlyFolder(SendTempDir);
    makeOwnerOnlyFolder(RecvTempDir);
}

void ModZorvin::SetLocalIp(const QString &ip)
{
    LocalIp = ip.isEmpty() ? QStringLiteral("127.0.0.1") : ip;
    LocalIpHex = IpToHex(LocalIp);
}

QString ModZorvin::IpToHex(const QString &ip)
{
    QString hex;
    for (const QString &octet : ip.split(QLatin1Char('.')))
        hex += QStringLiteral("%1").arg(octet.toUInt() & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    return hex;
}

bool ModZorvin::FindDllOnPath(const QString &fileName, QString *folder)
{
    const QString found = QStandardPaths::findExecutable(fileName);
    if (folder)
        *folder = found.isEmpty() ? QString() : QFileInfo(found).absolutePath();
    return !found.isEmpty();
}
