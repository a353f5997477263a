// One running copy per user and data folder: a lock file in the user's runtime folder.
// A lock left by a crashed copy is taken over, so it never blocks the next start. The
// command socket of the running copy sits beside the lock.
#pragma once

#include <QString>
#include <memory>

class QLockFile;

class SingleInstance
{
  public:
    // `dataDir` tells copies with different data folders (portable use, tests) apart.
    explicit SingleInstance(const QString &dataDir);
    ~SingleInstance();

    // True when this process now holds the lock; false when another copy is running.
    bool tryAcquire();
    bool isHeld() const;

    QString lockPath() const { return m_path; }
    // Beside the lock: the socket through which later starts hand their command to the copy
    // holding the lock.
    QString commandSocketPath() const;

  private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
