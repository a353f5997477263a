// The sending side of picture and file transfers: the send-job table, at most one running
// job per destination, and every outcome reported to the send-result list. The jobs of one
// item to several recipients share its temporary picture and its archive (SendPacking);
// each running job has a connection of its own (SendConnections).
#pragma once

#include "net/SendConnections.h"
#include "net/SendJob.h"
#include "net/SendPacking.h"
#include "net/TransferLinks.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class ModZorvin;
class EngineEvents;

class TransferSender : public QObject, private SendHost
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
    void CloseSendSocket(int socketIndex) { m_connections.close(socketIndex); }
    // Removes a job, closes its socket and asks the receiver to drop the transfer; the job
    // is listed as cancelled.
    void CancelSendJob(int slot);
    // Quit: every job ends without a line; a running packed job's receiver is asked to drop
    // it ("captSP"), the others learn of the quit from the goodbye.
    void EndAllForQuit();
    // The destination quit: every job to it ends with the peer-quit failure.
    void onGoodbyeDatagram(const QString &ip);
    // Closes every started job's socket (program end).
    void CloseAll() { m_connections.closeAll(); }

    const SendJob &job(int slot) const { return m_jobs[size_t(slot)]; }
    bool anyJobInUse() const;
    int jobsInUse() const;
    // The slots of the jobs in use, in slot order, at most `limit` of them: what the cancel
    // lists of the menus offer.
    QList<int> JobsInUse(int limit) const;
    // The socket counter: above 32700 it restarts at 1, then it is incremented.
    int NextSocketIndex() { return m_connections.nextSocketIndex(); }
    void setSocketCounter(int value) { m_connections.setSocketCounter(value); }

    void setTimer3Interval(int ms) { m_timer3.setInterval(ms); }
    // Bytes kept queued in the socket while streaming; bounds the memory per job.
    void setWriteHighWater(qint64 bytes) { m_connections.setWriteHighWater(bytes); }

    static QString HeaderText(const SendJob &job, const QString &hostName)
    {
        return SendConnections::headerText(job, hostName);
    }

    // A file in the send folder (a temporary picture, an archive) lives while anybody holds
    // it: every job holds its item and its archive from queueing until its slot is freed,
    // and the send dialog holds a picture while it queues the jobs for it. The last release
    // deletes the file, or, while the file is still being packed, the pack's end does.
    // Files outside the send folder are the user's: holding them does nothing.
    void holdSharedFile(const QString &path) { m_packing.hold(path); }
    void releaseSharedFile(const QString &path) { m_packing.release(path); }
    // How many hold a file of the send folder (0 for any other file).
    int sharedFileHolders(const QString &path) const { return m_packing.holders(path); }

  signals:
    // A slot was taken or freed (the capture window refreshes its status bar).
    void jobsChanged();

  private:
    // SendHost
    void failJob(int slot, const QString &message) override;
    bool endJob(int slot) override { return DelSlist(slot); }
    void startNext(const QString &ip) override { NxDtSendConReq(ip); }
    void replied(int socketIndex, int slot, const QString &message) override;
    void packReady(int slot) override { m_connections.sendHeaderAndBody(slot); }

    void onTimer3Timeout();
    void sendStop(const SendJob &job);
    int peerVersionNumber(const QString &ip) const;

    ModZorvin &m_ctx;
    EngineEvents &m_events;
    TransferLinks m_links;
    SendJobTable m_jobs;
    SendPacking m_packing;
    SendConnections m_connections;
    int m_jobCounter = 0;
    bool m_delBusy = false;
    QTimer m_timer3;
};
