// Moves a received file into its folder on another file system: the copy runs on a
// thread of its own under a temporary name beside the target, which replaces the target
// only once it is complete; the source goes afterwards. finished(ok, error) comes on the
// owner's thread. Deleting the move stops the copy within one piece and removes the
// partial copy (quit, or the transfer's connection ended).
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

class FileMove : public QObject
{
    Q_OBJECT
  public:
    FileMove(const QString &from, const QString &to, QObject *parent = nullptr);
    ~FileMove() override;

    void start();
    const QString &source() const { return m_from; }
    const QString &target() const { return m_to; }

  signals:
    // The target complete and the source removed, or `error` and the target untouched
    // (the source stays for the caller to remove).
    void finished(bool ok, const QString &error);

  private:
    QString m_from;
    QString m_to;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
