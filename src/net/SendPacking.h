// The files of the send folder that several jobs share (a temporary picture, an archive)
// and the packs that write the archives: the first job of an item packs it, the others wait
// for that pack; a file lives while anybody holds it. Reports how far a running pack has read.
#pragma once

#include "net/SendJob.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class ArchiverQueue;
class EngineEvents;
class ModZorvin;

class SendPacking : public QObject
{
    Q_OBJECT
  public:
    SendPacking(ModZorvin &ctx, EngineEvents &events, SendJobTable &jobs, SendHost &host, ArchiverQueue *archiver,
                QObject *parent = nullptr);

    // See TransferSender::holdSharedFile.
    void hold(const QString &path);
    void release(const QString &path);
    int holders(const QString &path) const;

    // Without the archiver items go unpacked.
    bool canPack() const { return m_archiver != nullptr; }
    QString archivePath(const SendJob &job) const;
    // Whether the job's archive was packed to the end (and is there): it goes out packed.
    bool archiveReady(const SendJob &job) const;
    // The job goes unpacked from now on: its archive is no longer its to hold.
    void dropArchive(SendJob &job);
    // The job's header goes out once the item's archive is complete (SendHost::packReady).
    // A retry that finds the archiver busy again counts towards the limit.
    void packOrWait(int slot, bool retry);
    // Archives still being written.
    bool packsRunning() const { return !m_packing.isEmpty(); }

  private:
    bool isSharedFile(const QString &path) const;
    void packingEnded(int slot, int result, bool counted);
    void onArchiverFinished(int id, int result);
    // While packs run: how far the jobs waiting for them have got.
    void onPackPace();

    ModZorvin &m_ctx;
    EngineEvents &m_events;
    SendJobTable &m_jobs;
    SendHost &m_host;
    ArchiverQueue *m_archiver;
    // Runs only while a pack does: packing has no data path of ours to time reports on.
    QTimer m_packPace;

    struct SharedFile
    {
        // What became of an archive: nobody packed it yet (a file already at its path is
        // stale), a pack is writing it, it is complete, or packing it failed with `result`.
        enum class Pack { None, Running, Ready, Failed };
        int holders = 0;
        Pack pack = Pack::None;
        int packId = 0; // the archiver command while the pack runs
        int result = 0;
    };
    // By full path. An entry lives while it is held or packed.
    QHash<QString, SharedFile> m_shared;
    // Archives being written, by archiver command id. Every job of the item waits for the
    // same command; when they all ended meanwhile, the archive is deleted when it arrives.
    QHash<int, QString> m_packing;
};
