#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString &dataDir)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray key =
        QCryptographicHash::hash(QDir::cleanPath(dataDir).toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(12);
    m_path = folder + QStringLiteral("/zorvin-") + QString::fromLatin1(key) + QStringLiteral(".lock");
    m_lock = std::make_unique<QLockFile>(m_path);
    // The lock lives as long as the program: never stale by age, only when its owner died.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryAcquire()
{
    if (m_lock->tryLock(0))
        return true;
    // A copy that crashed leaves its lock behind; QLockFile recognises a dead owner.
    if (m_lock->error() == QLockFile::LockFailedError && m_lock->removeStaleLockFile())
        return m_lock->tryLock(0);
    return false;
}

bool SingleInstance::isHeld() const
{
    return m_lock->isLocked();
}

QString SingleInstance::commandSocketPath() const
{
    QString path = m_path;
    path.chop(int(qstrlen(".lock")));
    return path + QStringLiteral(".sock");
}
