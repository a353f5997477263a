#include "net/ReceiveProtocol.h"

#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "net/ArrivingArchive.h"
#include "net/NetLog.h"
#include "net/ReceiveReports.h"
#include "net/SealedSocket.h"
#include "net/TransferSealing.h"

#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

namespace {

constexpr qint64 kReadChunk = 1024 * 1024;
// What one connection may hold unread; beyond it TCP flow control holds the sender.
constexpr qint64 kReadBuffer = 2 * 1024 * 1024;

} // namespace

ReceiveProtocol::ReceiveProtocol(ModZorvin &ctx, ReceiveTable &table, ReceiveReports &reports, ReceiveHost &host,
                                 ArchiverQueue *archiver, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_table(table), m_reports(reports), m_host(host), m_archiver(archiver)
{
}

QString ReceiveProtocol::arrivalName(const QString &itemName, int socketIndex)
{
    return QStringLiteral(".%1.%2.zorvin-part").arg(itemName).arg(socketIndex);
}

void ReceiveProtocol::open(int idx, QTcpSocket *socket, const QString &ip, qint64 openedMs)
{
    auto *c = new ReceiveConnection;
    c->socket = socket;
    c->ip = ip;
    c->openedMs = openedMs;
    socket->setParent(this);
    socket->setReadBufferSize(kReadBuffer);
    m_table.connections.insert(idx, c);

    connect(socket, &QTcpSocket::readyRead, this, [this, idx] { read(idx); });
    connect(socket, &QTcpSocket::disconnected, this, [this, idx] { m_host.connectionClosed(idx); });
    c->idle.setSingleShot(true);
    c->idle.setInterval(m_idleMs);
    connect(&c->idle, &QTimer::timeout, this, [this, idx] { m_host.connectionIdle(idx); });
    c->idle.start();
    // Every byte restarts the idle watch; this one runs from the opening only.
    c->headerDeadline.setSingleShot(true);
    c->headerDeadline.setInterval(m_headerDeadlineMs);
    connect(&c->headerDeadline, &QTimer::timeout, this, [this, idx] { m_host.connectionIdle(idx); });
    c->headerDeadline.start();
}

void ReceiveProtocol::close(int socketIndex)
{
    ReceiveConnection *c = m_table.connections.take(socketIndex);
    if (!c)
        return;
    c->idle.stop();
    c->headerDeadline.stop();
    c->socket->disconnect(this);
    if (c->stream && c->stream != c->socket)
        c->stream->disconnect(this);
    // Closing after everything arrived is how the sender learns of success.
    c->socket->disconnectFromHost();
    c->socket->deleteLater();
    delete c;
}

void ReceiveProtocol::dropOutput(int socketIndex, bool removeFile)
{
    ReceiveConnection *c = m_table.connection(socketIndex);
    if (!c)
        return;
    // An unpack on arrival writes its file itself: it stops before the file goes, also
    // when the whole body has arrived already.
    if (c->arriving) {
        const bool unpacking = c->arriving->mode() == ArrivingArchive::Mode::Unpacking;
        const QString unpacked = c->arriving->outputPath();
        c->arriving.reset();
        if (unpacking && removeFile)
            QFile::remove(unpacked);
    }
    if (!c->out)
        return;
    const QString name = c->out->fileName();
    c->out->close();
    c->out.reset();
    if (removeFile)
        QFile::remove(name);
}

void ReceiveProtocol::refuse(int socketIndex, int code, int archiverResult)
{
    const int slot = m_table.slotForSocket(socketIndex);
    if (slot < 0)
        return;
    RecvSlot &s = m_table.slot(slot);
    if (s.errorReported)
        return;
    s.errorReported = true;
    qCDebug(lcNet) << "receive from" << s.senderIp << "of" << s.header.itemName << "refused with" << code
                   << archiverResult;
    s.archiverBusy = false;
    s.finishingUnpack = false;
    if (ReceiveConnection *c = m_table.connection(socketIndex))
        c->headerDeadline.stop();

    const QString local = ReceiveReports::failureDetail(code, s.state, archiverResult);
    if (!local.isEmpty())
        m_reports.addFailureLine(s, local);
    // A refused transfer leaves nothing behind in the receive folder.
    dropOutput(socketIndex, true);
    m_table.reservations.release(socketIndex);
    if (s.packed() && s.state == 1)
        QFile::remove(s.bodyPath);
    ReceiveConnection *c = m_table.connection(socketIndex);
    if (!c)
        return;
    // The sender closes once it has read the reply; one that never does is not kept, also
    // when it keeps sending.
    c->idle.start();
    // Handed to the system at once: a sender that has closed its sending side is seen as
    // gone by the next read, and a reply still in the socket's buffer would be lost.
    if (c->socket->state() == QAbstractSocket::ConnectedState) {
        if (QIODevice *to = c->replyDevice())
            to->write(ReceiveReports::errorReply(code));
        c->socket->flush();
    }
}

bool ReceiveProtocol::endsShort(int socketIndex) const
{
    const int slot = m_table.slotForSocket(socketIndex);
    if (slot < 0)
        return false;
    const RecvSlot &s = m_table.slot(slot);
    return s.state == 1 && !s.errorReported && !s.waitsForUnpack() && s.received < s.header.size;
}

void ReceiveProtocol::read(int socketIndex)
{
    ReceiveConnection *c = m_table.connection(socketIndex);
    if (!c || !c->socket->isOpen())
        return;
    const int slot = m_table.slotForSocket(socketIndex);
    if (slot < 0 || m_table.slot(slot).errorReported) {
        // Already refused: the rest of the stream is not wanted, not even opened, and keeps
        // the connection no longer than the idle time after the reply.
        c->socket->readAll();
        return;
    }
    if (!c->stream && !chooseStream(socketIndex))
        return;
    RecvSlot &s = m_table.slot(slot);
    if (s.waitsForUnpack())
        return; // everything arrived; the data left waiting is not ours to read
    c->idle.start();

    if (s.state == 0) {
        if (!startBody(socketIndex, slot))
            return;
    } else if (s.state != 1) {
        refuse(socketIndex, 3, 0);
        return;
    }
    readBody(socketIndex, slot);
}

bool ReceiveProtocol::chooseStream(int socketIndex)
{
    ReceiveConnection *c = m_table.connection(socketIndex);
    const TransferHandshake::Opening opening = TransferHandshake::openingOf(c->socket->peek(8));
    if (opening == TransferHandshake::Opening::NeedMore)
        return false;
    c->stream = c->socket;
    if (opening == TransferHandshake::Opening::Plain)
        return true;
    const QByteArray key = m_sealing ? m_sealing->trustedKey(c->ip) : QByteArray();
    if (key.isEmpty()) {
        // Sealed by a sender whose key is not trusted here (none announced, or a changed
        // one not accepted yet): nothing of it is read.
        qCDebug(lcNet) << "sealed transfer from" << c->ip << "without a trusted key refused";
        refuse(socketIndex, 2, 0);
        c->socket->readAll();
        return false;
    }
    auto *sealed = new SealedSocket(c->socket, m_sealing->identity(), key, SealedSocket::Role::Acceptor,
                                    m_sealing->workers());
    c->stream = sealed;
    connect(sealed, &SealedSocket::readyRead, this, [this, socketIndex] { read(socketIndex); });
    // Queued: the failure shows inside a read, whose caller still uses the connection.
    connect(
        sealed, &SealedSocket::broken, this,
        [this, socketIndex, sealed] {
            ReceiveConnection *broken = m_table.connection(socketIndex);
            if (!broken)
                return;
            qCDebug(lcNet) << "sealed transfer from" << broken->ip << "failed to verify";
            // Like any failed reception: what was written goes, the list gets its line. After
            // the handshake this side's direction is still whole and carries the reply, and
            // the connection ends once the sender has read it; a failed handshake gets none
            // and ends at once.
            refuse(socketIndex, 2, 0);
            ReceiveConnection *still = m_table.connection(socketIndex);
            if (still && !sealed->isEstablished())
                still->socket->abort();
        },
        Qt::QueuedConnection);
    sealed->start();
    return false;
}

bool ReceiveProtocol::startBody(int socketIndex, int slot)
{
    ReceiveConnection *c = m_table.connection(socketIndex);
    QIODevice *socket = c->stream;
    RecvSlot &s = m_table.slot(slot);
    if (socket->bytesAvailable() < kHeaderChars)
        return false;
    const ParsedTransferHeader parsed = TransferHeader::parse(socket->peek(2 * kHeaderChars));
    if (parsed.status == ParsedTransferHeader::Status::Incomplete)
        return false;
    s.header = parsed.header;
    if (parsed.status == ParsedTransferHeader::Status::FormatError) {
        refuse(socketIndex, 2, 0);
        socket->readAll();
        return false;
    }
    if (parsed.status == ParsedTransferHeader::Status::VersionMismatch) {
        refuse(socketIndex, 1, 0);
        socket->readAll();
        return false;
    }
    // A file arrives beside its final place under a name of its own, and becomes the
    // file only once it is complete: nobody sees half of it, and a failure leaves nothing.
    const QString target = FolderPath::withSlash(m_ctx.settings.RecvFileSavePlace);
    const bool toTarget =
        s.header.isFile() && !m_ctx.settings.RecvFileSavePlace.isEmpty() && QFileInfo(target).isDir();
    const QString folder = toTarget ? target : m_ctx.RecvTempDir;
    s.bodyPath = toTarget ? target + arrivalName(s.header.itemName, socketIndex)
                          : m_ctx.RecvTempDir + (s.packed() ? s.header.archiveName : s.header.itemName);
    // Refuse what cannot fit beside what the other arrivals may still write, before
    // writing anything, and never write into the file of another running transfer.
    const bool nameTaken = m_table.bodyPathTaken(slot, s.bodyPath);
    c->out = std::make_unique<QFile>(s.bodyPath);
    if (nameTaken || !m_table.reservations.reserve(socketIndex, folder, s.bodyPath, s.header.size) ||
        !c->out->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        c->out.reset();
        refuse(socketIndex, 100, 0);
        socket->readAll();
        return false;
    }
    socket->read(parsed.byteLength);
    // Without the archiver a packed body is refused once it is complete.
    if (s.packed() && m_ctx.ArchiverReady && m_archiver) {
        // What an unpack on arrival declares is held instead of the body's size, with
        // the archiver's margin, once its header has come.
        c->arriving = std::make_unique<ArrivingArchive>(
            s.header.size, s.header.itemName, s.bodyPath,
            [this, socketIndex, folder, path = s.bodyPath](qint64 declared) {
                return m_table.reservations.reserve(socketIndex, folder, path, declared, kUnpackKeepFreeBytes);
            });
        // The unpack took some of what waited: the socket is read on.
        connect(c->arriving.get(), &ArrivingArchive::roomAvailable, this, [this, socketIndex] { read(socketIndex); });
        connect(c->arriving.get(), &ArrivingArchive::unpacked, this,
                [this, socketIndex](int result) { emit arrivingUnpacked(socketIndex, result); });
    }
    s.state = 1;
    c->headerDeadline.stop();
    c->pace.start(0);
    m_reports.progress(slot, s, TransferProgress::State::Moving);
    return true;
}

void ReceiveProtocol::readBody(int socketIndex, int slot)
{
    ReceiveConnection *c = m_table.connection(socketIndex);
    QIODevice *socket = c->stream;
    RecvSlot &s = m_table.slot(slot);
    while (c->out && s.received < s.header.size && socket->bytesAvailable() > 0) {
        if (c->arriving && c->arriving->full()) {
            // The unpack is behind: the socket is read again when it took some, and the
            // sender is held by TCP meanwhile. The wait is ours, not the sender's idling.
            c->idle.stop();
            return;
        }
        const QByteArray chunk = socket->read(qMin(kReadChunk, s.header.size - s.received));
        const bool written =
            c->arriving ? c->arriving->feed(chunk, *c->out) : c->out->write(chunk) == chunk.size();
        if (!written) {
            refuse(socketIndex, 100, 0);
            socket->readAll();
            return;
        }
        s.received += chunk.size();
    }
    if (c->pace.due())
        m_reports.progress(slot, s, TransferProgress::State::Moving, c->pace.bytesPerSecond(s.received));
    if (s.received >= s.header.size && c->out) {
        // Bytes beyond the declared size belong to nothing.
        socket->readAll();
        const bool flushed = c->out->flush();
        c->out->close();
        c->out.reset();
        if (!flushed) {
            refuse(socketIndex, 100, 0);
            return;
        }
        m_host.bodyComplete(socketIndex, slot);
    }
}
