#include "core/ModZorvin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

void makeOwnerOnlyFolder(const QString &path)
{
    QDir().mkpath(path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

void ModZorvin::MakeTempFolders(const QString &tempPath)
{
    TempPath = tempPath.endsWith(QLatin1Char('/')) ? tempPath : tempPath + QLatin1Char('/');
    WorkDir = TempPath + QStringLiteral("~zorvin");
    SendTempDir = WorkDir + QStringLiteral("/~STemp");
    RecvTempDir = WorkDir + QStringLiteral("/~RTemp");
    makeOwnerOnlyFolder(TempPath);
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
