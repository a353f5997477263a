// The connection of each running send job, one per job: it connects, waits for the item's
// archive, sends the transfer header and streams the body from disk, reads an error reply,
// and judges from the close how the job ended.
#pragma once

#include "net/SendJob.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <memory>

namespace lzh {
struct StoredBehind;
}
class EngineEvents;
class ModZorvin;
class SendPacking;
class TransferSealing;
class QIODevice;
class QTcpSocket;

class SendConnections : public QObject
{
    Q_OBJECT
  public:
    SendConnections(ModZorvin &ctx, EngineEvents &events, SendJobTable &jobs, SendHost &host, SendPacking &packing,
                    QObject *parent = nullptr);
    ~SendConnections() override;

    // Connects for the queued job in `slot` (WinsockCl element).
    void open(int slot);
    // Lets go of a connection at once (CloseSendSocket).
    void close(int socketIndex);
    void closeAll();
    // The job's archive is ready, or it goes unpacked: the header and body go out.
    void sendHeaderAndBody(int slot);

    // The socket counter: above 32700 it restarts at 1, then it is incremented.
    int nextSocketIndex();
    void setSocketCounter(int value) { m_socketCounter = value; }
    // Bytes kept queued in the socket while streaming; bounds the memory per job.
    void setWriteHighWater(qint64 bytes) { m_highWater = bytes; }
    // Which jobs go sealed; null: all go plain.
    void setSealing(const TransferSealing *sealing) { m_sealing = sealing; }

    static QString headerText(const SendJob &job, const QString &hostName);

  private:
    struct Running;
    int slotForSocket(int socketIndex) const;
    void onConnected(int socketIndex);
    // The handshake of a sealed job: the job goes on once it verified.
    void openSealed(int socketIndex, int slot);
    void prepareAndSend(int slot);
    // Streams the job's body; `behind`: the archive is the header of a stored entry whose
    // data comes from the item (null otherwise).
    void sendBody(int socketIndex, int slot, const lzh::StoredBehind *behind);
    void pumpBody(int socketIndex);
    void onBytesWritten(int socketIndex, qint64 bytes);
    // True when an error reply was read (and handed to the job table).
    bool handleReply(int socketIndex);
    void onDisconnected(int socketIndex);
    void onError(int socketIndex);
    void closeHandling(int socketIndex);

    ModZorvin &m_ctx;
    EngineEvents &m_events;
    SendJobTable &m_jobs;
    SendHost &m_host;
    SendPacking &m_packing;
    QHash<int, Running *> m_running; // WinsockCl elements by number
    int m_socketCounter = 0;
    qint64 m_highWater = 4 * 1024 * 1024;
    const TransferSealing *m_sealing = nullptr;
};
