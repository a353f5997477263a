#include "net/SendConnections.h"

#include "base/AnsiCodec.h"
#include "base/ModZorvin.h"
#include "lzh/LzhArchive.h"
#include "net/ReceiveReports.h"
#include "net/SealedSocket.h"
#include "net/SendPacking.h"
#include "net/StoredArchiveBody.h"
#include "net/TransferHeader.h"
#include "net/TransferLinks.h"
#include "net/TransferSealing.h"
#include "net/UnlhaLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

namespace {

constexpr qint64 kChunk = 256 * 1024;

} // namespace

struct SendConnections::Running
{
    QTcpSocket *socket = nullptr;
    // What the header and body are written to and the reply read from: the socket, or the
    // sealed device over it (the socket's child).
    QIODevice *stream = nullptr;
    SealedSocket *sealed = nullptr;
    std::unique_ptr<QIODevice> body;
    qint64 headerBytes = 0;
    qint64 written = 0;    // every byte the socket reported written, header included
    qint64 queuedBody = 0; // body bytes handed to the socket
    bool bodyStarted = false;
    bool completeSeen = false;
    QString remoteIp;
    ProgressPace pace;
};

SendConnections::SendConnections(ModZorvin &ctx, EngineEvents &events, SendJobTable &jobs, SendHost &host,
                                 SendPacking &packing, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_events(events), m_jobs(jobs), m_host(host), m_packing(packing)
{
}

SendConnections::~SendConnections()
{
    closeAll();
}

int SendConnections::nextSocketIndex()
{
    do {
        if (m_socketCounter > 32700)
            m_socketCounter = 1;
        ++m_socketCounter;
    } while (m_running.contains(m_socketCounter));
    return m_socketCounter;
}

int SendConnections::slotForSocket(int socketIndex) const
{
    return firstInUse(m_jobs, &SendJob::socketIndex, socketIndex);
}

QString SendConnections::headerText(const SendJob &job, const QString &hostName)
{
    TransferHeader h;
    h.dataKind = job.isFile() ? QStringLiteral("0002") : QStringLiteral("0001");
    h.size = job.size;
    h.archiveName = job.archiveName;
    h.itemName = job.itemName;
    h.faceDown = job.faceDown;
    h.reserved = job.reserved;
    h.kind = job.kind;
    h.openReceipt = job.openReceipt;
    h.passwordLock = job.passwordLock;
    h.hostName = hostName;
    return h.build();
}

void SendConnections::open(int slot)
{
    SendJob &j = m_jobs[size_t(slot)];
    const QString ip = j.destination;
    // A refused send does not even connect: the receiver sees nothing of it.
    if (const QString refusal = m_sealing ? m_sealing->transferRefusal(ip) : QString(); !refusal.isEmpty()) {
        // Reported whatever outcome the user asked to hear of: the item would seem sent.
        j.notice = 3;
        m_host.failJob(slot, refusal);
        return;
    }
    const int idx = nextSocketIndex();
    auto *r = new Running;
    r->socket = new QTcpSocket(this);
    r->stream = r->socket;
    r->remoteIp = ip;
    m_running.insert(idx, r);
    j.socketIndex = idx;
    j.state = 1;

    QTcpSocket *s = r->socket;
    connect(s, &QTcpSocket::connected, this, [this, idx] { onConnected(idx); });
    connect(s, &QTcpSocket::bytesWritten, this, [this, idx](qint64 n) { onBytesWritten(idx, n); });
    connect(s, &QTcpSocket::readyRead, this, [this, idx] { handleReply(idx); });
    connect(s, &QTcpSocket::disconnected, this, [this, idx] { onDisconnected(idx); });
    connect(s, &QTcpSocket::errorOccurred, this, [this, idx] { onError(idx); });
    const QHostAddress bind = m_ctx.net.bindAddress;
    if (bind != QHostAddress::AnyIPv4 && bind != QHostAddress::Any)
        s->bind(bind, 0);
    s->connectToHost(ip, m_ctx.net.port);
}

void SendConnections::close(int socketIndex)
{
    Running *r = m_running.take(socketIndex);
    if (!r)
        return;
    r->socket->disconnect(this);
    if (r->sealed)
        r->sealed->disconnect(this);
    r->socket->abort();
    r->socket->deleteLater();
    delete r;
}

void SendConnections::closeAll()
{
    const QList<int> keys = m_running.keys();
    for (int idx : keys)
        close(idx);
}

void SendConnections::onConnected(int socketIndex)
{
    const int slot = slotForSocket(socketIndex);
    if (slot < 0 || m_jobs[size_t(slot)].state != 1)
        return;
    m_jobs[size_t(slot)].state = 2;
    const TransferSealing::Way way =
        m_sealing ? m_sealing->wayTo(m_jobs[size_t(slot)].destination) : TransferSealing::Way::Plain;
    // The peer's key may have changed while the connection was made.
    if (way == TransferSealing::Way::Refused) {
        m_host.failJob(slot, m_sealing->transferRefusal(m_jobs[size_t(slot)].destination));
        return;
    }
    if (way == TransferSealing::Way::Sealed) {
        openSealed(socketIndex, slot);
        return;
    }
    prepareAndSend(slot);
}

void SendConnections::openSealed(int socketIndex, int slot)
{
    Running *r = m_running.value(socketIndex);
    const QByteArray key = m_sealing->trustedKey(m_jobs[size_t(slot)].destination);
    if (!r || key.isEmpty())
        return;
    r->sealed =
        new SealedSocket(r->socket, m_sealing->identity(), key, SealedSocket::Role::Opener, m_sealing->workers());
    // A receiver with no room turns the connection away before it reads the offer.
    r->sealed->acceptPlainAnswer(ReceiveReports::errorReply(ReceiveReports::kNoRoom));
    r->stream = r->sealed;
    connect(r->sealed, &SealedSocket::established, this, [this, socketIndex] {
        const int s = slotForSocket(socketIndex);
        if (s >= 0 && m_jobs[size_t(s)].state == 2)
            prepareAndSend(s);
    });
    connect(r->sealed, &SealedSocket::readyRead, this, [this, socketIndex] { handleReply(socketIndex); });
    // Queued: the failure shows inside a read of the reply, which still uses the job.
    connect(
        r->sealed, &SealedSocket::broken, this,
        [this, socketIndex] {
            const int s = slotForSocket(socketIndex);
            Running *running = m_running.value(socketIndex);
            if (s < 0 || !running)
                return;
            // A receiver that cannot show the key pinned here, or a record altered on the way.
            m_jobs[size_t(s)].errorText = QStringLiteral("暗号化された転送を確認できませんでした。");
            running->socket->abort();
        },
        Qt::QueuedConnection);
    r->sealed->start();
}

void SendConnections::prepareAndSend(int slot)
{
    SendJob &j = m_jobs[size_t(slot)];
    if (QFileInfo(j.itemPath()).isDir()) {
        m_host.failJob(slot, QStringLiteral("フォルダは転送できません。"));
        return;
    }
    const QString upper = j.itemName.toUpper();
    const bool pack = j.packWanted && m_ctx.ArchiverReady && m_packing.canPack() && !j.archiveName.isEmpty() &&
                      !upper.endsWith(QLatin1String("LZH")) && !upper.endsWith(QLatin1String("ZIP")) &&
                      !upper.endsWith(QLatin1String("CAB"));
    if (!pack) {
        // The archive the item's other jobs may still send does not go out instead of the
        // item here, nor again in the unpacked resend.
        m_packing.dropArchive(j);
        sendHeaderAndBody(slot);
        return;
    }
    // The header goes out once the item's archive is complete.
    m_packing.packOrWait(slot, false);
}

void SendConnections::sendHeaderAndBody(int slot)
{
    SendJob &j = m_jobs[size_t(slot)];
    // Only an archive whose pack has finished is whole.
    const bool packed = m_packing.archiveReady(j);
    const QString archive = m_packing.archivePath(j);
    lzh::StoredBehind behind;
    const bool storedBehind = packed && lzh::storedBehind(UnlhaLibrary::fsPath(archive), behind);
    if (storedBehind) {
        j.size = qint64(behind.headerBytes + behind.dataBytes + 1);
    } else if (packed) {
        j.size = QFileInfo(archive).size();
    } else if (QFileInfo(j.itemPath()).isFile()) {
        j.size = QFileInfo(j.itemPath()).size();
        m_packing.dropArchive(j);
    } else {
        m_host.failJob(slot, QStringLiteral("ファイルが見つからない。"));
        return;
    }
    Running *r = m_running.value(j.socketIndex);
    if (!r)
        return;
    const QByteArray header = AnsiCodec::encode(headerText(j, m_ctx.LocalHostName));
    r->headerBytes = header.size();
    if (r->sealed)
        r->sealed->setPlainTotal(header.size() + j.size);
    r->stream->write(header);
    r->pace.start(0);
    SendReport::progress(m_events, slot, j, TransferProgress::State::Moving, 0, j.size);
    sendBody(j.socketIndex, slot, storedBehind ? &behind : nullptr);
}

void SendConnections::sendBody(int socketIndex, int slot, const lzh::StoredBehind *behind)
{
    SendJob &j = m_jobs[size_t(slot)];
    Running *r = m_running.value(socketIndex);
    if (!r)
        return;
    const QString source = j.archiveName.isEmpty() ? j.itemPath() : m_packing.archivePath(j);
    if (behind) {
        // The stored data comes from the item itself, behind the header the pack wrote.
        QFile headerFile(source);
        const QByteArray header = headerFile.open(QIODevice::ReadOnly) ? headerFile.readAll() : QByteArray();
        r->body = std::make_unique<StoredArchiveBody>(header, j.itemPath(), qint64(behind->dataBytes));
    } else {
        r->body = std::make_unique<QFile>(source);
    }
    if (!r->body->open(QIODevice::ReadOnly)) {
        m_host.failJob(slot, QStringLiteral("ファイルが見つからない。"));
        return;
    }
    r->bodyStarted = true;
    j.state = 3;
    pumpBody(socketIndex);
}

// The body is streamed from disk: only a bounded amount waits in the socket at a time.
void SendConnections::pumpBody(int socketIndex)
{
    Running *r = m_running.value(socketIndex);
    const int slot = slotForSocket(socketIndex);
    if (!r || !r->body || slot < 0)
        return;
    const qint64 size = m_jobs[size_t(slot)].size;
    while (r->queuedBody < size && r->stream->bytesToWrite() < m_highWater) {
        const QByteArray chunk = r->body->read(qMin(kChunk, size - r->queuedBody));
        if (chunk.isEmpty()) {
            // The file shrank or became unreadable after its size was taken.
            m_jobs[size_t(slot)].errorText = r->body->errorString();
            r->body.reset();
            r->socket->abort();
            return;
        }
        r->stream->write(chunk);
        r->queuedBody += chunk.size();
    }
    if (r->queuedBody >= size)
        r->body.reset();
}

void SendConnections::onBytesWritten(int socketIndex, qint64 bytes)
{
    Running *r = m_running.value(socketIndex);
    const int slot = slotForSocket(socketIndex);
    if (!r || slot < 0)
        return;
    SendJob &j = m_jobs[size_t(slot)];
    r->written += bytes;
    // A sealed stream carries records around the bytes; what the socket still holds is
    // counted as not sent.
    j.bytesSent = r->sealed ? qMax<qint64>(0, r->queuedBody - r->stream->bytesToWrite())
                            : qMax<qint64>(0, r->written - r->headerBytes);
    if (!r->bodyStarted)
        return;
    if (r->pace.due())
        SendReport::progress(m_events, slot, j, TransferProgress::State::Moving, j.bytesSent, j.size,
                             r->pace.bytesPerSecond(j.bytesSent));
    pumpBody(socketIndex);
    // A file cut short aborts the socket inside pumpBody, and the close handling that
    // runs at once frees both the job and `r`.
    if (m_running.value(socketIndex) != r || slotForSocket(socketIndex) != slot)
        return;
    // "Send complete": every byte of header and body has left the socket's buffer.
    if (r->queuedBody >= j.size && r->stream->bytesToWrite() == 0 && !r->completeSeen) {
        r->completeSeen = true;
        j.state = j.state < 4 ? 4 : 5;
    }
}

// An error reply is "9999" + the length of the text in characters (4 digits) + the text.
bool SendConnections::handleReply(int socketIndex)
{
    Running *r = m_running.value(socketIndex);
    if (!r || r->stream->bytesAvailable() < 4)
        return false;
    const QByteArray waiting = r->stream->peek(64 * 1024);
    const QString text = AnsiCodec::decode(waiting);
    if (!text.startsWith(QLatin1String("9999"))) {
        r->stream->readAll();
        return false;
    }
    const int n = AnsiCodec::field(text, 5, 4).toInt();
    // Counted in whole characters: a reply cut inside a double-byte character waits for
    // the rest instead of losing its last character.
    const qsizetype replyBytes = TransferHeader::encodedLength(waiting, n + 8);
    if (replyBytes < 0)
        return false;
    const QString message = AnsiCodec::field(AnsiCodec::decode(waiting.first(replyBytes)), 9, n);
    r->stream->readAll();

    const int slot = slotForSocket(socketIndex);
    if (slot >= 0)
        m_host.replied(socketIndex, slot, message);
    return true;
}

void SendConnections::onDisconnected(int socketIndex)
{
    // An error reply may still wait in the buffer when the receiver hangs up.
    if (handleReply(socketIndex))
        return;
    closeHandling(socketIndex);
}

void SendConnections::onError(int socketIndex)
{
    Running *r = m_running.value(socketIndex);
    if (!r)
        return;
    // The receiver closing is the normal end of a transfer; the close event judges it.
    if (r->socket->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    const int slot = slotForSocket(socketIndex);
    if (slot >= 0) {
        SendJob &j = m_jobs[size_t(slot)];
        j.errorText = r->socket->errorString();
        if (j.state > 1)
            j.state = 2;
    }
    closeHandling(socketIndex);
}

void SendConnections::closeHandling(int socketIndex)
{
    Running *r = m_running.value(socketIndex);
    const int slot = slotForSocket(socketIndex);
    QString dest = r ? r->remoteIp : QString();
    if (slot >= 0) {
        SendJob &j = m_jobs[size_t(slot)];
        dest = j.destination;
        const QString path = j.pathForLine();
        const QString cut = QStringLiteral("転送中に切断されました。") + path;
        // Success needs every body byte to have left this side; a close before the
        // body was even handed over is never a success.
        const bool allSent = j.bytesSent >= j.size && (!r || r->queuedBody >= j.size);
        if (j.state == 1)
            SendReport::result(m_events, j, false, j.errorText + QLatin1Char(' ') + path);
        else if (!j.errorText.isEmpty())
            SendReport::result(m_events, j, false, j.errorText);
        else if (j.state == 2 || !allSent)
            SendReport::result(m_events, j, false, cut);
        else
            SendReport::result(m_events, j, true, path);
        m_host.endJob(slot);
    }
    close(socketIndex);
    if (!dest.isEmpty())
        m_host.startNext(dest);
}
