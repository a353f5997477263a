// The sending side of picture and file transfers: the send-job table, one TCP socket per
// running job, at most one running job per destination, packing, streaming the body from
// disk and reporting every outcome to the send-result list. The jobs of one item to
// several recipients share its temporary picture and its archive.
#pragma once

#include "net/TransferLinks.h"
#include "net/TransferProgress.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <memory>

namespace lzh {
struct StoredBehind;
}
class ModZorvin;
class EngineEvents;
class QFile;
class QTcpSocket;

inline constexpr int kSendJobSlots = 706;

// What the send dialog and the automatic transfer hand over for one job. Outcome
// notices: 0 none, 1 success only, 2 success and failure, 3 failure only.
struct SendRequest
{
    QString destination;
    QString resultName;
    QChar kind = QLatin1Char('I');
    QString folder; // a job's folder ends with "/"
    QString itemName;
    QString archiveName;
    bool packWanted = true;
    QChar faceDown = QLatin1Char('N');
    QChar openReceipt = QLatin1Char('N');
    QChar passwordLock = QLatin1Char('N');
    int notice = 2;

    bool isFile() const { return kind == QLatin1Char('F'); }
    QString itemPath() const { return folder + itemName; }
};

// One slot of the send-job table: the request as queued, and how far it got.
struct SendJob : SendRequest
{
    bool inUse = false;
    int socketIndex = -1;
    // 0 queued, 1 connecting, 2 preparing, 3 body handed over, 4 all data sent, 5 reported again
    int state = 0;
    // Packing was refused because the archiver was busy; the job waits for it to be free.
    bool archiverBusy = false;
    int busyRetries = 0;
    // The archiver command packing this job's item, 0 when none runs.
    int archiverId = 0;
    qint64 size = 0;
    qint64 bytesSent = 0; // body bytes the socket has taken out of its buffer
    QString errorText;
    QChar reserved = QLatin1Char(' ');
    // Its progress was reported, so its end is reported too.
    bool progressShown = false;
};

class TransferSender : public QObject
{
    Q_OBJECT
  public:
    TransferSender(ModZorvin &ctx, EngineEvents &events, TransferLinks links, QObject *parent = nullptr);
    ~TransferSender() override;

    // Puts a job into the first free slot and starts it at once unless a job to the same
    // destination is running. Returns the slot, or -1 when all 706 slots are taken.
    int QueueSendJob(const SendRequest &request);
    // The job number for temporary names: 0 to 32700, then 0 again.
    int NextJobNumber();

    // Starts the first queued job for ip, if any.
    void NxDtSendConReq(const QString &ip);
    // Frees a slot, letting go of its files in the send folder; returns whether it was in use.
    bool DelSlist(int slot);
    void CloseSendSocket(int socketIndex);
    // Removes a job, closes its socket and asks the receiver to drop the transfer; the job
    // is listed as cancelled.
    void CancelSendJob(int slot);
    // Quit: every job ends without a line; a running packed job's receiver is asked to drop
    // it ("captSP"), the others learn of the quit from the goodbye.
    void EndAllForQuit();
    // The destination quit: every job to it ends with the peer-quit failure.
    void onGoodbyeDatagram(const QString &ip);
    // Closes every started job's socket (program end).
    void CloseAll();

    const SendJob &job(int slot) const { return m_jobs[size_t(slot)]; }
    bool anyJobInUse() const;
    int jobsInUse() const;
    // The slots of the jobs in use, in slot order, at most `limit` of them: what the cancel
    // lists of the menus offer.
    QList<int> JobsInUse(int limit) const;
    // The socket counter: above 32700 it restarts at 1, then it is incremented.
    int NextSocketIndex();
    void setSocketCounter(int value) { m_socketCounter = value; }

    void setTimer3Interval(int ms) { m_timer3.setInterval(ms); }
    // Bytes kept queued in the socket while streaming; bounds the memory per job.
    void setWriteHighWater(qint64 bytes) { m_highWater = bytes; }

    static QString HeaderText(const SendJob &job, const QString &hostName);

    // A file in the send folder (a temporary picture, an archive) lives while anybody holds
    // it: every job holds its item and its archive from queueing until its slot is freed,
    // and the send dialog holds a picture while it queues the jobs for it. The last release
    // deletes the file, or, while the file is still being packed, the pack's end does.
    // Files outside the send folder are the user's: holding them does nothing.
    void holdSharedFile(const QString &path);
    void releaseSharedFile(const QString &path);
    // How many hold a file of the send folder (0 for any other file).
    int sharedFileHolders(const QString &path) const;

  signals:
    // A slot was taken or freed (the capture window refreshes its status bar).
    void jobsChanged();

  private:
    struct Running;
    int slotForSocket(int socketIndex) const;
    void onConnected(int socketIndex);
    void prepareAndSend(int slot);
    void sendHeaderAndBody(int slot);
    // Streams the job's body; `behind`: the archive is the header of a stored entry whose
    // data comes from the item (null otherwise).
    void SendJobBody(int socketIndex, int slot, const lzh::StoredBehind *behind);
    void pumpBody(int socketIndex);
    void onBytesWritten(int socketIndex, qint64 bytes);
    void onReadyRead(int socketIndex);
    bool handleReply(int socketIndex);
    void onDisconnected(int socketIndex);
    void onError(int socketIndex);
    void closeHandling(int socketIndex);
    void failJob(int slot, const QString &message);
    void report(const SendJob &job, bool success, const QString &info);
    void reportProgress(int slot, TransferProgress::State state, qint64 done, qint64 total, qint64 speed = 0);
    // While packs run: how far the jobs waiting for them have got.
    void onPackPace();
    void onTimer3Timeout();
    QString archivePath(const SendJob &job) const;
    bool isSharedFile(const QString &path) const;
    // The job goes unpacked from now on: its archive is no longer its to hold.
    void dropArchive(SendJob &job);
    void packOrWait(int slot, bool retry);
    void packingEnded(int slot, int result, bool counted);
    void onArchiverFinished(int id, int result);
    void sendStop(const SendJob &job);
    int peerVersionNumber(const QString &ip) const;

    ModZorvin &m_ctx;
    EngineEvents &m_events;
    TransferLinks m_links;
    std::array<SendJob, kSendJobSlots> m_jobs;
    QHash<int, Running *> m_running; // WinsockCl elements by number
    int m_socketCounter = 0;
    int m_jobCounter = 0;
    bool m_delBusy = false;
    qint64 m_highWater = 4 * 1024 * 1024;
    QTimer m_timer3;
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
