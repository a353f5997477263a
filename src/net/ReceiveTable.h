// The receive slots and the connections that hold them, shared by the parts of a
// reception (admission, the per-connection protocol, delivery), and what those parts ask
// of the receiver that owns them.
#pragma once

#include "net/DiskReservations.h"
#include "net/TransferHeader.h"
#include "net/TransferProgress.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QTimer>
#include <array>
#include <memory>

class ArrivingArchive;
class QFile;
class QIODevice;
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

// One accepted connection that holds a slot (a WinsockSv element).
struct ReceiveConnection
{
    ReceiveConnection();
    ~ReceiveConnection();

    QTcpSocket *socket = nullptr;
    // What the header and body are read from and the reply written to: null until the first
    // bytes tell a plain transfer (the socket) from a sealed one (a device, the socket's child).
    QIODevice *stream = nullptr;
    QString ip;
    std::unique_ptr<QFile> out;
    // A packed body passes through here; an archive of the item alone is unpacked on the way in.
    std::unique_ptr<ArrivingArchive> arriving;
    QTimer idle;
    QTimer headerDeadline;
    qint64 openedMs = 0;
    ProgressPace pace;

    // Where a reply goes: into the sealed stream once its handshake is through; before that,
    // and for a plain transfer, onto the socket as 2.66 sends it (where a sealed sender takes
    // only the busy reply). Null for a sealed connection whose handshake failed.
    QIODevice *replyDevice() const;
};

struct ReceiveTable
{
    std::array<RecvSlot, kRecvSlots> entries;
    QHash<int, ReceiveConnection *> connections; // WinsockSv elements by number (0 is the listener)
    // What the running receptions and unpacks may still write, by socket index.
    DiskReservations reservations;
    QElapsedTimer clock;

    RecvSlot &slot(int i) { return entries[size_t(i)]; }
    const RecvSlot &slot(int i) const { return entries[size_t(i)]; }
    int slotForSocket(int socketIndex) const;
    ReceiveConnection *connection(int socketIndex) const { return connections.value(socketIndex); }
    // Slot number, or kRecvSlots when none is free.
    int alloc(int socketIndex, const QString &ip, quint16 port);
    int slotsInUse() const;
    // Archives being unpacked while they arrive (or finishing that unpack).
    int unpacksOnArrival() const;
    // Whether a running transfer other than `slot` writes into `path`, or would unpack `item`.
    bool bodyPathTaken(int slot, const QString &path) const;
    bool itemTaken(const QString &workFolder, const QString &item) const;
};

// What the parts of a reception ask of the receiver: it ends a reception, refuses one with
// an error reply, and closes one that was delivered.
class ReceiveHost
{
  public:
    virtual ~ReceiveHost() = default;
    virtual void refuse(int socketIndex, int code, int archiverResult = 0) = 0;
    virtual void endReception(int socketIndex, bool abort) = 0;
    // Frees the slot and closes the connection: the close tells the sender of success.
    virtual void delivered(int socketIndex, int slot) = 0;
    // Everything arrived and the file is written: delivery takes over.
    virtual void bodyComplete(int socketIndex, int slot) = 0;
    virtual void connectionClosed(int socketIndex) = 0;
    virtual void connectionIdle(int socketIndex) = 0;
};
