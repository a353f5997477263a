// A file system of a given size of its own (tmpfs), for what happens when a disk is full.
// Mounting needs root; without it the test says why and skips.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

class SmallFileSystem
{
  public:
    explicit SmallFileSystem(qint64 bytes)
    {
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
        if (!m_dir.isValid())
            m_why = QStringLiteral("no temporary folder");
        else if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0,
                         options.constData()) != 0)
            m_why = QStringLiteral("cannot mount a tmpfs (needs root): ") +
                    QString::fromLocal8Bit(std::strerror(errno));
        else
            m_mounted = true;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool mounted() const { return m_mounted; }
    QString why() const { return m_why; }
    QString path() const { return m_dir.path(); }
    // Every name in it, hidden ones too.
    QStringList names() const
    {
        return QDir(m_dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

  private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_why;
};
