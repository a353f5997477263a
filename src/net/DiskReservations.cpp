#include "net/DiskReservations.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

bool deviceOf(const QString &folder, quint64 *device)
{
    struct stat st;
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return false;
    *device = quint64(st.st_dev);
    return true;
}

struct Space
{
    qint64 free = -1; // for an unprivileged writer; -1 when unknown
    qint64 total = 0;
};

Space spaceOf(const QString &folder)
{
    struct statvfs vfs;
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) != 0)
        return {};
    return {qint64(vfs.f_bavail) * qint64(vfs.f_frsize), qint64(vfs.f_blocks) * qint64(vfs.f_frsize)};
}

} // namespace

qint64 DiskReservations::stillToWrite(const Held &h)
{
    // What the file holds is already taken from the free space.
    return qMax<qint64>(0, h.bytes - QFileInfo(h.path).size());
}

qint64 DiskReservations::pendingOnDevice(quint64 device, int exceptKey) const
{
    qint64 sum = 0;
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        if (it.key() != exceptKey && it->device == device)
            sum += stillToWrite(*it);
    return sum;
}

qint64 DiskReservations::pendingOn(const QString &folder, int exceptKey) const
{
    quint64 device = 0;
    return deviceOf(folder, &device) ? pendingOnDevice(device, exceptKey) : 0;
}

bool DiskReservations::reserve(int key, const QString &folder, const QString &path, qint64 bytes,
                               qint64 keepFreeBytes)
{
    m_held.remove(key);
    Held h;
    h.path = path;
    h.bytes = qMax<qint64>(0, bytes);
    const Space space = spaceOf(folder);
    if (!deviceOf(folder, &h.device) || space.free < 0) {
        m_held.insert(key, h);
        return true;
    }
    // The margin is at most a sixteenth of the file system, so that a small one still
    // takes what fits it.
    const qint64 keep = qBound<qint64>(0, keepFreeBytes, space.total / 16);
    if (stillToWrite(h) + pendingOnDevice(h.device, key) + keep > space.free)
        return false;
    m_held.insert(key, h);
    return true;
}

void DiskReservations::release(int key)
{
    m_held.remove(key);
}
