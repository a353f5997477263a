// What the running receptions and unpacks may still write, by file system, so that
// several arrivals at once are measured against the free space as a single one would be:
// each one's declared size is held until it ends, less what its file holds already.
#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

class DiskReservations
{
  public:
    // Holds `bytes` for the file `path` in `folder` under `key` (replacing what `key` held):
    // true when the free space of that file system, less `keepFreeBytes` (at most a
    // sixteenth of its size) and less what every other holder there may still write, takes
    // what the file still lacks. A file
    // system whose free space cannot be read refuses nothing. A refusal leaves nothing
    // held under `key`.
    [[nodiscard]] bool reserve(int key, const QString &folder, const QString &path, qint64 bytes,
                               qint64 keepFreeBytes = 0);
    void release(int key);

    // What the holders on the file system of `folder` other than `key` may still write.
    qint64 pendingOn(const QString &folder, int exceptKey = -1) const;
    int count() const { return int(m_held.size()); }

  private:
    struct Held
    {
        quint64 device = 0;
        QString path;
        qint64 bytes = 0;
    };
    static qint64 stillToWrite(const Held &h);
    qint64 pendingOnDevice(quint64 device, int exceptKey) const;

    QHash<int, Held> m_held;
};
