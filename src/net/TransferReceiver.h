// The receiving side of picture and file transfers: the listening socket on port 62410,
// the 256 receive slots, header checks, writing bodies into the receive folder as they
// arrive, unpacking, and handing pictures and files on; every refusal goes back to the
// sender as an error reply.
#pragma once

#include "net/DiskReservations.h"
#include "net/TransferHeader.h"
#include "net/TransferLinks.h"
#include "net/TransferProgress.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <array>
#include <memory>

class ModZorvin;
class EngineEvents;
class FileMove;
class QFile;
class QTcpSocket;

inline constexpr int kRecvSlots = 256;
// Connections one address may hold at once. A sender runs one job per destination at a
// time, so more are not a sender's; the extra ones are turned away so that one host
// cannot take every slot.
inline constexpr int kConnectionsPerAddress = 8;
// The header must be complete this long after the connection opened, however it trickles
// in. A sender connects first and packs afterwards, which takes a while for a big file.
inline constexpr int kHeaderDeadlineMs = 15 * 60 * 1000;
// What an unpack leaves free on the receive folder's file system: the sizes an archive's
// headers declare must fit the free space less this, or the transfer is refused.
inline constexpr qint64 kUnpackKeepFreeBytes = 64 * 1024 * 1024;
// A hang-up in the middle of a body waits this long for the sender's stop request, which
// may come after it, before it is listed as a cut-off transfer rather than a cancel.
inline constexpr int kCutLineGraceMs = 1000;
// How long the listener rests after accepting failed (out of file descriptors): the
// connection waits in the backlog meanwhile instead of failing again at once.
inline constexpr int kAcceptPauseMs = 200;

struct RecvSlot
{
    bool inUse = false;
    int state = 0; // 0 waiting for the header, 1 receiving the body
    int socketIndex = -1;
    QString senderIp;
    quint16 senderPort = 0;
    TransferHeader header;
    // Where the body goes: a file beside its final place in the received-files folder,
    // under a temporary name, or the receive work folder for pictures.
    QString bodyPath;
    qint64 received = 0;
    // Unpacking was refused because the archiver was busy; the slot waits for it to be free.
    bool archiverBusy = false;
    int busyRetries = 0;
    // The archiver command unpacking this slot's archive, 0 when none runs.
    int archiverId = 0;
    // Everything has arrived; the unpack that ran while it arrived finishes.
    bool finishingUnpack = false;
    // The file is being copied into the receive folder on another file system.
    bool placingFile = false;
    bool errorReported = false;
    // Its progress was reported, so its end is reported too.
    bool progressShown = false;

    bool packed() const { return !header.archiveName.isEmpty(); }
    // Everything has arrived and the archive is being unpacked or waits for the archiver,
    // or the file is being copied into place.
    bool waitsForUnpack() const { return archiverBusy || archiverId != 0 || finishingUnpack || placingFile; }
};

class TransferReceiver : public QObject
{
    Q_OBJECT
    // The files of a running unpack command. A transfer may end before its unpack is done
    // (hang-up, stop request, quit); the unpack is then stopped and its files deleted.
    struct Unpacking
    {
        QString archive;
        QString item;
    };

  public:
    TransferReceiver(ModZorvin &ctx, EngineEvents &events, TransferLinks links, QObject *parent = nullptr);
    ~TransferReceiver() override;

    // Listens on ctx.net.bindAddress, port ctx.net.port (WinsockSv element 0).
    [[nodiscard]] bool Listen(QString *errorText, int *errorNumber);
    bool isListening() const { return m_server.isListening(); }
    void CloseAll();

    // Slot number, or 256 when none is free.
    int AllocRecvSlot(int socketIndex, const QString &ip, quint16 port);
    void FreeRecvSlot(int socketIndex, int slot);
    void CloseRecvSocket(int socketIndex);
    void ReportRecvError(int socketIndex, int code, int archiverResult = 0);
    // Called by a receiver of EngineEvents::imageArrived before it returns: the picture
    // cannot be read, so the sender gets the format error instead of the close that means
    // delivered, and the received list the failure. Outside that hand-over it does nothing.
    void RefuseArrivedImage();

    // "captSP" from ip: cancels the first matching receive from that sender.
    void onStopDatagram(const QString &ip, const QString &datagram);

    const RecvSlot &slot(int i) const { return m_slots[size_t(i)]; }
    int slotsInUse() const;
    // Connections that hold a slot; those turned away are not counted.
    int openConnections() const { return int(m_sockets.size()); }
    // Archives being unpacked while they arrive (or finishing that unpack).
    int unpacksOnArrival() const;

    // A connection that sends nothing for this long is closed and its slot freed.
    void setIdleTimeout(int ms) { m_idleMs = ms; }
    // A connection whose header is not complete this long after it opened is closed.
    void setHeaderDeadline(int ms) { m_headerDeadlineMs = ms; }

    // What the running receptions and unpacks may still write.
    const DiskReservations &reservations() const { return m_reservations; }
    // The temporary name a file arrives under, beside its final place.
    static QString arrivalName(const QString &itemName, int socketIndex);

    // Error code of a picture that arrived whole but cannot be read: the sender is told of
    // a format error (the text of code 2), the received list names the format.
    static constexpr int kUnreadablePicture = 5;
    static QString errorReplyText(int code);
    // "9999" + length in characters (4 digits) + text, in the code page.
    static QByteArray errorReply(int code);

  private:
    struct Conn;
    void onNewConnection();
    void onServerAcceptError();
    void onReadyRead(int socketIndex);
    void onDisconnected(int socketIndex);
    void onIdle(int socketIndex);
    bool admit(const QString &ip);
    void turnAway(QTcpSocket *socket);
    void addFailureLine(const RecvSlot &s, const QString &detail);
    QString senderName(const RecvSlot &s) const;
    void reportProgress(int slot, TransferProgress::State state, qint64 speed = 0);
    // Whether a reception ends short of its body: it is then listed as cut off or cancelled.
    bool endsShort(int socketIndex) const;
    void holdCutLine(const RecvSlot &s);
    void listDueCutLines(bool all);
    void endReception(int socketIndex, bool abort);
    void removeUnpackOutput(const Unpacking &files);
    void startHeader(int socketIndex, int slot);
    void complete(int socketIndex, int slot);
    void onArrivingUnpacked(int socketIndex, int result);
    void finishUnpacked(int socketIndex, int slot);
    void finish(int socketIndex, int slot, const QString &path);
    void placeFile(int socketIndex, int slot, const QString &path);
    void onFilePlaced(int socketIndex, bool ok, const QString &error);
    void fileDelivered(const RecvSlot &s, const QString &fileName, const QString &folder);
    // False when the windows refused the picture (RefuseArrivedImage).
    bool ImageArrived(const QString &path, const RecvSlot &s, const QString &displayName);
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
    // A child, so that a test can watch its signals.
    QTcpServer m_server;
    std::array<RecvSlot, kRecvSlots> m_slots;
    QHash<int, Conn *> m_sockets; // WinsockSv elements by number (0 is the listener)
    int m_socketCounter = 0;
    int m_idleMs = 120000;
    int m_headerDeadlineMs = kHeaderDeadlineMs;
    QTimer m_acceptPause;
    // By archiver command id.
    QHash<int, Unpacking> m_unpacking;
    // By socket index.
    DiskReservations m_reservations;
    QElapsedTimer m_clock;
    // Files being copied into the receive folder, by socket; children of this object.
    QHash<int, FileMove *> m_moves;
    // Receptions cut off by a hang-up, listed when no stop request follows in time.
    struct CutLine
    {
        QString ip;
        QString archive;
        QString who;
        QString kindText;
        QString item;
        qint64 dueMs;
    };
    QList<CutLine> m_cutLines;
    QTimer m_cutGrace;
    // While imageArrived is being emitted, and whether a receiver refused the picture.
    bool m_handingOver = false;
    bool m_pictureRefused = false;
};
