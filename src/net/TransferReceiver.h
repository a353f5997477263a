// The receiving side of picture and file transfers: the listening socket on port 62410,
// the 256 receive slots, header checks, writing bodies into the receive folder as they
// arrive, unpacking, and handing pictures and files on; every refusal goes back to the
// sender as an error reply.
#pragma once

#include "net/TransferHeader.h"
#include "net/TransferLinks.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <array>
#include <memory>

class ModZorvin;
class EngineEvents;
class QFile;
class QTcpSocket;

inline constexpr int kRecvSlots = 256;

struct RecvSlot
{
    bool inUse = false;
    int state = 0; // 0 waiting for the header, 1 receiving the body
    int socketIndex = -1;
    QString senderIp;
    quint16 senderPort = 0;
    TransferHeader header;
    qint64 received = 0;
    // Unpacking was refused because the archiver was busy; the slot waits for it to be free.
    bool archiverBusy = false;
    int busyRetries = 0;
    // The archiver command unpacking this slot's archive, 0 when none runs.
    int archiverId = 0;
    bool errorReported = false;

    bool packed() const { return !header.archiveName.isEmpty(); }
    // Everything has arrived and the archive waits for, or is in, the archiver.
    bool waitsForArchiver() const { return archiverBusy || archiverId != 0; }
};

class TransferReceiver : public QObject
{
    Q_OBJECT
  public:
    TransferReceiver(ModZorvin &ctx, EngineEvents &events, TransferLinks links, QObject *parent = nullptr);
    ~TransferReceiver() override;

    // Listens on ctx.net.bindAddress, port ctx.net.port (WinsockSv element 0).
    [[nodiscard]] bool Listen(QString *errorText, int *errorNumber);
    void CloseAll();

    // Slot number, or 256 when none is free.
    int AllocRecvSlot(int socketIndex, const QString &ip, quint16 port);
    void FreeRecvSlot(int socketIndex, int slot);
    void CloseRecvSocket(int socketIndex);
    void ReportRecvError(int socketIndex, int code, int archiverResult = 0);

    // "captSP" from ip: cancels the first matching receive from that sender.
    void onStopDatagram(const QString &ip, const QString &datagram);

    const RecvSlot &slot(int i) const { return m_slots[size_t(i)]; }
    int slotsInUse() const;
    int openConnections() const { return int(m_sockets.size()); }

    // A connection that sends nothing for this long is closed and its slot freed.
    void setIdleTimeout(int ms) { m_idleMs = ms; }

    static QString errorReplyText(int code);
    // "9999" + length in characters (4 digits) + text, in the code page.
    static QByteArray errorReply(int code);

  private:
    struct Conn;
    void onNewConnection();
    void onReadyRead(int socketIndex);
    void onDisconnected(int socketIndex);
    void onIdle(int socketIndex);
    void startHeader(int socketIndex, int slot);
    void complete(int socketIndex, int slot);
    void finish(int socketIndex, int slot);
    bool FileArrived(const QString &path, const QString &displayName, const QString &ip);
    void ImageArrived(const QString &path, const RecvSlot &s, const QString &displayName);
    QString archivePath(const RecvSlot &s) const;
    void startUnpacking(int slot, bool retry);
    void unpackingEnded(int slot, int result, bool counted);
    void onArchiverFinished(int id, int result);
    int slotForSocket(int socketIndex) const;
    void dropOutput(int socketIndex, bool removeFile);
    QString displayNameOf(const QString &ip) const;

    ModZorvin &m_ctx;
    EngineEvents &m_events;
    TransferLinks m_links;
    QTcpServer m_server;
    std::array<RecvSlot, kRecvSlots> m_slots;
    QHash<int, Conn *> m_sockets; // WinsockSv elements by number (0 is the listener)
    int m_socketCounter = 0;
    int m_idleMs = 120000;
    // The files of running unpack commands, by archiver command id. A transfer may end
    // before its unpack is done (hang-up, stop request); its files are then deleted.
    struct Unpacking
    {
        QString archive;
        QString item;
    };
    QHash<int, Unpacking> m_unpacking;
};
