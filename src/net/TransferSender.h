// The sending side of picture and file transfers: the send-job table, one TCP socket per
// running job, at most one running job per destination, packing, streaming the body from
// disk and reporting every outcome to the send-result list.
#pragma once

#include "net/TransferLinks.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <memory>

class ModZorvin;
class EngineEvents;
class QFile;
class QTcpSocket;

inline constexpr int kSendJobSlots = 706;

// Outcome notices of a job: 0 none, 1 success only, 2 success and failure, 3 failure only.
struct SendJob
{
    bool inUse = false;
    QString destination;
    int socketIndex = -1;
    // 0 queued, 1 connecting, 2 preparing, 3 body handed over, 4 all data sent, 5 reported again
    int state = 0;
    QChar kind = QLatin1Char('I');
    QString folder; // ends with "/"
    QString itemName;
    QString archiveName;
    bool packWanted = false;
    bool archiverBusy = false;
    int busyRetries = 0;
    qint64 size = 0;
    qint64 bytesSent = 0; // body bytes the socket has taken out of its buffer
    QString errorText;
    QChar faceDown = QLatin1Char('N');
    QChar openReceipt = QLatin1Char('N');
    QChar passwordLock = QLatin1Char('N');
    QChar reserved = QLatin1Char(' ');
    int notice = 2;
    QString resultName;

    bool isFile() const { return kind == QLatin1Char('F'); }
    QString itemPath() const { return folder + itemName; }
};

// What the send dialog and the automatic transfer hand over for one job.
struct SendRequest
{
    QString destination;
    QString resultName;
    QChar kind = QLatin1Char('I');
    QString folder;
    QString itemName;
    QString archiveName;
    bool packWanted = true;
    QChar faceDown = QLatin1Char('N');
    QChar openReceipt = QLatin1Char('N');
    QChar passwordLock = QLatin1Char('N');
    int notice = 2;
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
    // Frees a slot (deleting its temporary picture); returns whether it was in use.
    bool DelSlist(int slot);
    void CloseSendSocket(int socketIndex);
    // Removes a job, closes its socket and asks the receiver to drop the transfer.
    void CancelSendJob(int slot);
    // The destination quit: every job to it ends with the peer-quit failure.
    void onGoodbyeDatagram(const QString &ip);
    // Closes every started job's socket (program end).
    void CloseAll();

    const SendJob &job(int slot) const { return m_jobs[size_t(slot)]; }
    bool anyJobInUse() const;
    // The socket counter: above 32700 it restarts at 1, then it is incremented.
    int NextSocketIndex();
    void setSocketCounter(int value) { m_socketCounter = value; }

    void setTimer1Interval(int ms) { m_timer1.setInterval(ms); }
    void setTimer3Interval(int ms) { m_timer3.setInterval(ms); }
    // Bytes kept queued in the socket while streaming; bounds the memory per job.
    void setWriteHighWater(qint64 bytes) { m_highWater = bytes; }

    static QString HeaderText(const SendJob &job, const QString &hostName);

  signals:
    // Timer3 ran; the receiving side checks its own timer then.
    void housekeeping();
    // A slot was taken or freed (the capture window refreshes its status bar).
    void jobsChanged();

  private:
    struct Running;
    int slotForSocket(int socketIndex) const;
    void onConnected(int socketIndex);
    void prepareAndSend(int slot);
    void sendHeaderAndBody(int slot);
    void SendJobBody(int socketIndex, int slot);
    void pumpBody(int socketIndex);
    void onBytesWritten(int socketIndex, qint64 bytes);
    void onReadyRead(int socketIndex);
    bool handleReply(int socketIndex);
    void onDisconnected(int socketIndex);
    void onError(int socketIndex);
    void closeHandling(int socketIndex);
    void failJob(int slot, const QString &message);
    void report(const SendJob &job, bool success, const QString &info);
    void onTimer1();
    void onTimer3();
    int runArchiver(const QString &archivePath, const QString &itemPath);
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
    QTimer m_timer1;
    QTimer m_timer3;
    // The archiver runs a local event loop, entered from a socket's connect event; a
    // socket closed inside it is deleted only once that loop has ended.
    int m_archiverDepth = 0;
    QList<QPointer<QTcpSocket>> m_closedDuringArchiver;
};
