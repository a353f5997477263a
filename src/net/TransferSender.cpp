#include "net/TransferSender.h"

#include "base/AnsiCodec.h"
#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "lzh/LzhArchive.h"
#include "net/ArchiverQueue.h"
#include "net/EngineEvents.h"
#include "net/NetLog.h"
#include "base/Protocol.h"
#include "net/TransferHeader.h"
#include "net/UnlhaLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <cstring>

namespace {

constexpr qint64 kChunk = 256 * 1024;

QString sharedKey(const QString &path)
{
    return QDir::cleanPath(path);
}

QString peerQuitText()
{
    return QStringLiteral("相手側「") + QString::fromUtf8(kProductName) +
           QStringLiteral("」が終了しました。");
}

// The body of an archive whose one stored entry was packed as a header alone: the header,
// the item's first `dataBytes` bytes read from the item itself, and the end mark.
class StoredArchiveBody : public QIODevice
{
  public:
    StoredArchiveBody(QByteArray header, const QString &item, qint64 dataBytes)
        : m_header(std::move(header)), m_item(item), m_dataLeft(dataBytes)
    {}
    bool open(OpenMode mode) override
    {
        if (!m_item.open(QIODevice::ReadOnly)) {
            setErrorString(m_item.errorString());
            return false;
        }
        // Unbuffered: each read goes straight to the parts, with no copy in between.
        return QIODevice::open(mode | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_headerAt < m_header.size()) {
            const qint64 n = qMin(maxSize, m_header.size() - m_headerAt);
            std::memcpy(data, m_header.constData() + m_headerAt, size_t(n));
            m_headerAt += n;
            return n;
        }
        if (m_dataLeft > 0) {
            const qint64 n = m_item.read(data, qMin(maxSize, m_dataLeft));
            if (n <= 0) {
                // The item shrank or became unreadable since it was packed.
                setErrorString(m_item.errorString());
                return -1;
            }
            m_dataLeft -= n;
            return n;
        }
        if (!m_endSent && maxSize > 0) {
            m_endSent = true;
            data[0] = '\0';
            return 1;
        }
        return -1;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

  private:
    QByteArray m_header;
    qint64 m_headerAt = 0;
    QFile m_item;
    qint64 m_dataLeft;
    bool m_endSent = false;
};

} // namespace

struct TransferSender::Running
{
    QTcpSocket *socket = nullptr;
    std::unique_ptr<QIODevice> body;
    qint64 headerBytes = 0;
    qint64 written = 0;    // every byte the socket reported written, header included
    qint64 queuedBody = 0; // body bytes handed to the socket
    bool bodyStarted = false;
    bool completeSeen = false;
    QString remoteIp;
    ProgressPace pace;
};

TransferSender::TransferSender(ModZorvin &ctx, EngineEvents &events, TransferLinks links, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_events(events), m_links(std::move(links))
{
    if (m_links.archiver)
        connect(m_links.archiver, &ArchiverQueue::finished, this, &TransferSender::onArchiverFinished);
    m_timer3.setInterval(60000);
    connect(&m_timer3, &QTimer::timeout, this, &TransferSender::onTimer3Timeout);
    m_timer3.start();
    m_packPace.setInterval(int(ProgressPace::kProgressIntervalMs));
    connect(&m_packPace, &QTimer::timeout, this, &TransferSender::onPackPace);
}

TransferSender::~TransferSender()
{
    CloseAll();
}

int TransferSender::NextJobNumber()
{
    const int n = m_jobCounter;
    if (++m_jobCounter > 32700)
        m_jobCounter = 0;
    return n;
}

int TransferSender::NextSocketIndex()
{
    do {
        if (m_socketCounter > 32700)
            m_socketCounter = 1;
        ++m_socketCounter;
    } while (m_running.contains(m_socketCounter));
    return m_socketCounter;
}

bool TransferSender::anyJobInUse() const
{
    for (const SendJob &j : m_jobs)
        if (j.inUse)
            return true;
    return false;
}

int TransferSender::jobsInUse() const
{
    int n = 0;
    for (const SendJob &j : m_jobs)
        n += j.inUse ? 1 : 0;
    return n;
}

QList<int> TransferSender::JobsInUse(int limit) const
{
    QList<int> inUse;
    for (int slot = 0; slot < kSendJobSlots && inUse.size() < limit; ++slot) {
        if (m_jobs[size_t(slot)].inUse)
            inUse.append(slot);
    }
    return inUse;
}

int TransferSender::slotForSocket(int socketIndex) const
{
    return firstInUse(m_jobs, &SendJob::socketIndex, socketIndex);
}

QString TransferSender::HeaderText(const SendJob &job, const QString &hostName)
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

int TransferSender::QueueSendJob(const SendRequest &request)
{
    for (int i = 0; i < kSendJobSlots; ++i) {
        SendJob &j = m_jobs[size_t(i)];
        if (j.inUse)
            continue;
        m_delBusy = true;
        j = SendJob{};
        static_cast<SendRequest &>(j) = request;
        j.folder = FolderPath::withSlash(request.folder);
        j.inUse = true;
        holdSharedFile(j.itemPath());
        if (!j.archiveName.isEmpty())
            holdSharedFile(archivePath(j));
        m_delBusy = false;
        emit jobsChanged();
        NxDtSendConReq(request.destination);
        return i;
    }
    return -1;
}

void TransferSender::NxDtSendConReq(const QString &ip)
{
    int slot = -1;
    for (int i = 0; i < kSendJobSlots; ++i) {
        const SendJob &j = m_jobs[size_t(i)];
        if (!j.inUse || j.destination != ip)
            continue;
        // One job at a time per destination: the next one starts when this one ends.
        if (j.state != 0)
            return;
        if (slot < 0)
            slot = i;
    }
    if (slot < 0)
        return;

    const int idx = NextSocketIndex();
    auto *r = new Running;
    r->socket = new QTcpSocket(this);
    r->remoteIp = ip;
    m_running.insert(idx, r);
    SendJob &j = m_jobs[size_t(slot)];
    j.socketIndex = idx;
    j.state = 1;

    QTcpSocket *s = r->socket;
    connect(s, &QTcpSocket::connected, this, [this, idx] { onConnected(idx); });
    connect(s, &QTcpSocket::bytesWritten, this, [this, idx](qint64 n) { onBytesWritten(idx, n); });
    connect(s, &QTcpSocket::readyRead, this, [this, idx] { onReadyRead(idx); });
    connect(s, &QTcpSocket::disconnected, this, [this, idx] { onDisconnected(idx); });
    connect(s, &QTcpSocket::errorOccurred, this, [this, idx] { onError(idx); });
    const QHostAddress bind = m_ctx.net.bindAddress;
    if (bind != QHostAddress::AnyIPv4 && bind != QHostAddress::Any)
        s->bind(bind, 0);
    s->connectToHost(ip, m_ctx.net.port);
}

void TransferSender::onConnected(int socketIndex)
{
    const int slot = slotForSocket(socketIndex);
    if (slot < 0 || m_jobs[size_t(slot)].state != 1)
        return;
    m_jobs[size_t(slot)].state = 2;
    prepareAndSend(slot);
}

void TransferSender::prepareAndSend(int slot)
{
    SendJob &j = m_jobs[size_t(slot)];
    if (QFileInfo(j.itemPath()).isDir()) {
        failJob(slot, QStringLiteral("フォルダは転送できません。"));
        return;
    }
    const QString upper = j.itemName.toUpper();
    const bool pack = j.packWanted && m_ctx.ArchiverReady && m_links.archiver && !j.archiveName.isEmpty() &&
                      !upper.endsWith(QLatin1String("LZH")) && !upper.endsWith(QLatin1String("ZIP")) &&
                      !upper.endsWith(QLatin1String("CAB"));
    if (!pack) {
        // The archive the item's other jobs may still send does not go out instead of the
        // item here, nor again in the unpacked resend.
        dropArchive(j);
        sendHeaderAndBody(slot);
        return;
    }
    // The header goes out once the item's archive is complete.
    packOrWait(slot, false);
}

QString TransferSender::archivePath(const SendJob &job) const
{
    return m_ctx.SendTempDir + job.archiveName;
}

bool TransferSender::isSharedFile(const QString &path) const
{
    return !path.isEmpty() && QDir::cleanPath(QFileInfo(path).path()) == QDir::cleanPath(m_ctx.SendTempDir);
}

void TransferSender::holdSharedFile(const QString &path)
{
    if (isSharedFile(path))
        ++m_shared[sharedKey(path)].holders;
}

void TransferSender::releaseSharedFile(const QString &path)
{
    const auto it = m_shared.find(sharedKey(path));
    if (it == m_shared.end() || --it->holders > 0)
        return;
    if (it->pack == SharedFile::Pack::Running) {
        // Nobody sends the archive any more: its pack stops, and its finished removes it.
        m_links.archiver->cancel(it->packId);
        return;
    }
    m_shared.erase(it);
    QFile::remove(path);
}

int TransferSender::sharedFileHolders(const QString &path) const
{
    return m_shared.value(sharedKey(path)).holders;
}

void TransferSender::dropArchive(SendJob &job)
{
    if (job.archiveName.isEmpty())
        return;
    releaseSharedFile(archivePath(job));
    job.archiveName.clear();
}

// The first job of an item that gets here packs it; the others wait for that pack's
// finished, or go on at once once it has arrived. A retry that finds the archiver busy
// again counts towards the limit; the first refusal does not.
void TransferSender::packOrWait(int slot, bool retry)
{
    SendJob &j = m_jobs[size_t(slot)];
    j.archiverBusy = false;
    const QString archive = archivePath(j);
    SharedFile &file = m_shared[sharedKey(archive)];
    switch (file.pack) {
    case SharedFile::Pack::Running:
        j.archiverId = file.packId;
        onPackPace();
        return;
    case SharedFile::Pack::Ready:
        packingEnded(slot, 0, retry);
        return;
    case SharedFile::Pack::Failed:
        packingEnded(slot, file.result, retry);
        return;
    case SharedFile::Pack::None:
        break;
    }
    // Packing adds to an archive that exists; whatever lies at this path is not ours.
    QFile::remove(archive);
    const ArchiverTicket ticket = m_links.archiver->startPackForSending(archive, j.itemPath());
    if (!ticket.started()) {
        if (ticket.result != UnlhaLibrary::kBusy) {
            file.pack = SharedFile::Pack::Failed;
            file.result = ticket.result;
        }
        packingEnded(slot, ticket.result, retry);
        return;
    }
    file.pack = SharedFile::Pack::Running;
    file.packId = ticket.id;
    m_packing.insert(ticket.id, archive);
    // The item's other jobs that wait for a free archiver wait for this pack instead.
    for (SendJob &other : m_jobs) {
        if (other.inUse && (other.archiverBusy || &other == &j) && !other.archiveName.isEmpty() &&
            sharedKey(archivePath(other)) == sharedKey(archive)) {
            other.archiverBusy = false;
            other.archiverId = ticket.id;
        }
    }
    onPackPace();
    m_packPace.start();
}

void TransferSender::onPackPace()
{
    const ArchiverQueue *archiver = m_links.archiver;
    for (int slot = 0; slot < kSendJobSlots; ++slot) {
        const SendJob &j = m_jobs[size_t(slot)];
        if (!j.inUse || j.archiverId == 0)
            continue;
        const qint64 total = QFileInfo(j.itemPath()).size();
        const qint64 read =
            archiver && archiver->runningId() == j.archiverId ? qint64(archiver->packInputRead()) : 0;
        reportProgress(slot, TransferProgress::State::Packing, qMin(read, total), total);
    }
}

void TransferSender::packingEnded(int slot, int result, bool counted)
{
    SendJob &j = m_jobs[size_t(slot)];
    if (result == 0) {
        sendHeaderAndBody(slot);
    } else if (ArchiverWait::keepsWaiting(result, counted, j.busyRetries)) {
        // Tried again when the archiver reports its running command finished.
        j.archiverBusy = true;
    } else {
        failJob(slot, QStringLiteral("UNLHA32 ERR C=%1").arg(result));
    }
}

void TransferSender::onArchiverFinished(int id, int result)
{
    if (m_packing.contains(id)) {
        const QString archive = m_packing.take(id);
        const auto it = m_shared.find(sharedKey(archive));
        if (it == m_shared.end() || it->holders == 0) {
            // Every job of the item ended while it was packed; the archive has nowhere to go.
            if (it != m_shared.end())
                m_shared.erase(it);
            QFile::remove(archive);
        } else {
            // Busy means the pack never ran: the next job to try packs again.
            it->pack = result == 0                     ? SharedFile::Pack::Ready
                       : result == UnlhaLibrary::kBusy ? SharedFile::Pack::None
                                                       : SharedFile::Pack::Failed;
            it->packId = 0;
            it->result = result;
            for (int slot; (slot = firstInUse(m_jobs, &SendJob::archiverId, id)) >= 0;) {
                m_jobs[size_t(slot)].archiverId = 0;
                packingEnded(slot, result, true);
            }
        }
    }
    if (m_packing.isEmpty())
        m_packPace.stop();
    ArchiverWait::retryWaiting(m_jobs, *m_links.archiver, [this](int slot) { packOrWait(slot, true); });
}

void TransferSender::sendHeaderAndBody(int slot)
{
    SendJob &j = m_jobs[size_t(slot)];
    // Only an archive whose pack has finished is whole.
    const bool packed = !j.archiveName.isEmpty() &&
                        m_shared.value(sharedKey(archivePath(j))).pack == SharedFile::Pack::Ready &&
                        QFileInfo::exists(archivePath(j));
    lzh::StoredBehind behind;
    const bool storedBehind = packed && lzh::storedBehind(UnlhaLibrary::fsPath(archivePath(j)), behind);
    if (storedBehind) {
        j.size = qint64(behind.headerBytes + behind.dataBytes + 1);
    } else if (packed) {
        j.size = QFileInfo(archivePath(j)).size();
    } else if (QFileInfo(j.itemPath()).isFile()) {
        j.size = QFileInfo(j.itemPath()).size();
        dropArchive(j);
    } else {
        failJob(slot, QStringLiteral("ファイルが見つからない。"));
        return;
    }
    Running *r = m_running.value(j.socketIndex);
    if (!r)
        return;
    const QByteArray header = AnsiCodec::encode(HeaderText(j, m_ctx.LocalHostName));
    r->headerBytes = header.size();
    r->socket->write(header);
    r->pace.start(0);
    reportProgress(slot, TransferProgress::State::Moving, 0, j.size);
    SendJobBody(j.socketIndex, slot, storedBehind ? &behind : nullptr);
}

void TransferSender::SendJobBody(int socketIndex, int slot, const lzh::StoredBehind *behind)
{
    SendJob &j = m_jobs[size_t(slot)];
    Running *r = m_running.value(socketIndex);
    if (!r)
        return;
    const QString source = j.archiveName.isEmpty() ? j.itemPath() : archivePath(j);
    if (behind) {
        // The stored data comes from the item itself, behind the header the pack wrote.
        QFile headerFile(source);
        const QByteArray header = headerFile.open(QIODevice::ReadOnly) ? headerFile.readAll() : QByteArray();
        r->body = std::make_unique<StoredArchiveBody>(header, j.itemPath(), qint64(behind->dataBytes));
    } else {
        r->body = std::make_unique<QFile>(source);
    }
    if (!r->body->open(QIODevice::ReadOnly)) {
        failJob(slot, QStringLiteral("ファイルが見つからない。"));
        return;
    }
    r->bodyStarted = true;
    j.state = 3;
    pumpBody(socketIndex);
}

// The body is streamed from disk: only a bounded amount waits in the socket at a time.
void TransferSender::pumpBody(int socketIndex)
{
    Running *r = m_running.value(socketIndex);
    const int slot = slotForSocket(socketIndex);
    if (!r || !r->body || slot < 0)
        return;
    const qint64 size = m_jobs[size_t(slot)].size;
    while (r->queuedBody < size && r->socket->bytesToWrite() < m_highWater) {
        const QByteArray chunk = r->body->read(qMin(kChunk, size - r->queuedBody));
        if (chunk.isEmpty()) {
            // The file shrank or became unreadable after its size was taken.
            m_jobs[size_t(slot)].errorText = r->body->errorString();
            r->body.reset();
            r->socket->abort();
            return;
        }
        r->socket->write(chunk);
        r->queuedBody += chunk.size();
    }
    if (r->queuedBody >= size)
        r->body.reset();
}

void TransferSender::onBytesWritten(int socketIndex, qint64 bytes)
{
    Running *r = m_running.value(socketIndex);
    const int slot = slotForSocket(socketIndex);
    if (!r || slot < 0)
        return;
    SendJob &j = m_jobs[size_t(slot)];
    r->written += bytes;
    j.bytesSent = qMax<qint64>(0, r->written - r->headerBytes);
    if (!r->bodyStarted)
        return;
    if (r->pace.due())
        reportProgress(slot, TransferProgress::State::Moving, j.bytesSent, j.size,
                       r->pace.bytesPerSecond(j.bytesSent));
    pumpBody(socketIndex);
    // A file cut short aborts the socket inside pumpBody, and the close handling that
    // runs at once frees both the job and `r`.
    if (m_running.value(socketIndex) != r || slotForSocket(socketIndex) != slot)
        return;
    // "Send complete": every byte of header and body has left the socket's buffer.
    if (r->queuedBody >= j.size && r->socket->bytesToWrite() == 0 && !r->completeSeen) {
        r->completeSeen = true;
        j.state = j.state < 4 ? 4 : 5;
    }
}

void TransferSender::onReadyRead(int socketIndex)
{
    handleReply(socketIndex);
}

// An error reply is "9999" + the length of the text in characters (4 digits) + the text.
bool TransferSender::handleReply(int socketIndex)
{
    Running *r = m_running.value(socketIndex);
    if (!r || r->socket->bytesAvailable() < 4)
        return false;
    const QByteArray waiting = r->socket->peek(64 * 1024);
    const QString text = AnsiCodec::decode(waiting);
    if (!text.startsWith(QLatin1String("9999"))) {
        r->socket->readAll();
        return false;
    }
    const int n = AnsiCodec::field(text, 5, 4).toInt();
    // Counted in whole characters: a reply cut inside a double-byte character waits for
    // the rest instead of losing its last character.
    const qsizetype replyBytes = TransferHeader::encodedLength(waiting, n + 8);
    if (replyBytes < 0)
        return false;
    const QString message = AnsiCodec::field(AnsiCodec::decode(waiting.first(replyBytes)), 9, n);
    r->socket->readAll();

    const int slot = slotForSocket(socketIndex);
    if (slot < 0)
        return true;
    SendJob &j = m_jobs[size_t(slot)];
    const QString dest = j.destination;
    const bool noArchiver = message.contains(QLatin1String("UNLHA32.DLL"));
    if (noArchiver && peerVersionNumber(dest) >= 260) {
        // The receiver can take the item unpacked: send it again, once, without packing.
        CloseSendSocket(socketIndex);
        j.state = 0;
        j.socketIndex = -1;
        j.packWanted = false;
        j.archiverBusy = false;
        j.archiverId = 0;
        j.size = 0;
        j.bytesSent = 0;
        j.errorText.clear();
        for (SendJob &other : m_jobs)
            if (other.inUse && other.destination == dest)
                other.packWanted = false;
        NxDtSendConReq(dest);
        return true;
    }
    report(j, false, message + QLatin1Char(' ') + (j.isFile() ? j.itemPath() : QString()));
    if (noArchiver) {
        for (int i = 0; i < kSendJobSlots; ++i) {
            SendJob &other = m_jobs[size_t(i)];
            if (i == slot || !other.inUse || other.destination != dest)
                continue;
            report(other, false,
                   message + QLatin1Char(' ') + (other.isFile() ? other.itemPath() : QString()));
            sendStop(other);
            const int otherSocket = other.socketIndex;
            DelSlist(i);
            if (otherSocket >= 0)
                CloseSendSocket(otherSocket);
        }
    }
    DelSlist(slot);
    CloseSendSocket(socketIndex);
    NxDtSendConReq(dest);
    return true;
}

void TransferSender::onDisconnected(int socketIndex)
{
    // An error reply may still wait in the buffer when the receiver hangs up.
    if (handleReply(socketIndex))
        return;
    closeHandling(socketIndex);
}

void TransferSender::onError(int socketIndex)
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

void TransferSender::closeHandling(int socketIndex)
{
    Running *r = m_running.value(socketIndex);
    const int slot = slotForSocket(socketIndex);
    QString dest = r ? r->remoteIp : QString();
    if (slot >= 0) {
        SendJob &j = m_jobs[size_t(slot)];
        dest = j.destination;
        const QString path = j.isFile() ? j.itemPath() : QString();
        const QString cut = QStringLiteral("転送中に切断されました。") + path;
        // Success needs every body byte to have left this side; a close before the
        // body was even handed over is never a success.
        const bool allSent = j.bytesSent >= j.size && (!r || r->queuedBody >= j.size);
        if (j.state == 1)
            report(j, false, j.errorText + QLatin1Char(' ') + path);
        else if (!j.errorText.isEmpty())
            report(j, false, j.errorText);
        else if (j.state == 2 || !allSent)
            report(j, false, cut);
        else
            report(j, true, path);
        DelSlist(slot);
    }
    CloseSendSocket(socketIndex);
    if (!dest.isEmpty())
        NxDtSendConReq(dest);
}

void TransferSender::failJob(int slot, const QString &message)
{
    SendJob &j = m_jobs[size_t(slot)];
    if (!j.inUse)
        return;
    qCDebug(lcNet) << "send to" << j.destination << "failed:" << message;
    report(j, false, message + QLatin1Char(' ') + (j.isFile() ? j.itemPath() : QString()));
    const QString dest = j.destination;
    const int socketIndex = j.socketIndex;
    DelSlist(slot);
    if (socketIndex >= 0)
        CloseSendSocket(socketIndex);
    NxDtSendConReq(dest);
}

void TransferSender::report(const SendJob &job, bool success, const QString &info)
{
    if (success && (job.notice == 1 || job.notice == 2))
        emit m_events.sendResultAdded(job.resultName, QString(job.kind), 0, info);
    else if (!success && (job.notice == 2 || job.notice == 3))
        emit m_events.sendResultAdded(job.resultName, QString(job.kind), 1, info);
}

void TransferSender::reportProgress(int slot, TransferProgress::State state, qint64 done, qint64 total,
                                    qint64 speed)
{
    SendJob &j = m_jobs[size_t(slot)];
    j.progressShown = true;
    TransferProgress p;
    p.sending = true;
    p.id = slot;
    p.state = state;
    p.name = j.resultName;
    p.kind = QString(j.kind);
    p.item = j.itemName;
    p.done = done;
    p.total = total;
    p.bytesPerSecond = speed;
    p.notice = j.notice;
    emit m_events.transferProgress(p);
}

bool TransferSender::DelSlist(int slot)
{
    if (slot < 0 || slot >= kSendJobSlots || !m_jobs[size_t(slot)].inUse)
        return false;
    m_delBusy = true;
    SendJob &j = m_jobs[size_t(slot)];
    if (j.progressShown)
        reportProgress(slot, TransferProgress::State::Ended, j.bytesSent, j.size);
    // Temporary pictures and archives die with the last job of their item.
    releaseSharedFile(j.itemPath());
    dropArchive(j);
    j = SendJob{};
    m_delBusy = false;
    emit jobsChanged();
    return true;
}

void TransferSender::CloseSendSocket(int socketIndex)
{
    Running *r = m_running.take(socketIndex);
    if (!r)
        return;
    r->socket->disconnect(this);
    r->socket->abort();
    r->socket->deleteLater();
    delete r;
}

void TransferSender::CancelSendJob(int slot)
{
    if (slot < 0 || slot >= kSendJobSlots || !m_jobs[size_t(slot)].inUse)
        return;
    const SendJob j = m_jobs[size_t(slot)];
    report(j, false, QStringLiteral("キャンセルしました。 ") + (j.isFile() ? j.itemPath() : QString()));
    DelSlist(slot);
    // The stop goes before the hang-up, so the receiver can tell a cancel from a cut.
    sendStop(j);
    if (j.socketIndex >= 0)
        CloseSendSocket(j.socketIndex);
    NxDtSendConReq(j.destination);
}

void TransferSender::EndAllForQuit()
{
    for (int slot = 0; slot < kSendJobSlots; ++slot) {
        const SendJob j = m_jobs[size_t(slot)];
        if (!j.inUse)
            continue;
        if (!j.archiveName.isEmpty())
            sendStop(j);
        DelSlist(slot);
        if (j.socketIndex >= 0)
            CloseSendSocket(j.socketIndex);
    }
}

void TransferSender::onGoodbyeDatagram(const QString &ip)
{
    for (int i = 0; i < kSendJobSlots; ++i) {
        const SendJob j = m_jobs[size_t(i)];
        if (!j.inUse || j.destination != ip)
            continue;
        report(j, false, peerQuitText() + QLatin1Char(' ') + (j.isFile() ? j.itemPath() : QString()));
        DelSlist(i);
        if (j.socketIndex >= 0)
            CloseSendSocket(j.socketIndex);
    }
}

void TransferSender::CloseAll()
{
    const QList<int> keys = m_running.keys();
    for (int idx : keys)
        CloseSendSocket(idx);
}

int TransferSender::peerVersionNumber(const QString &ip) const
{
    return m_links.peerVersion ? m_links.peerVersion(ip).trimmed().toInt() : 0;
}

// Only a job that reached the receiver has something there to stop; a stop for a queued
// job would cancel whatever this side sends next.
void TransferSender::sendStop(const SendJob &job)
{
    if (job.state > 0 && m_links.sendDatagram)
        m_links.sendDatagram(Protocol::kStop +
                                 AnsiCodec::fixedWidth(job.archiveName, Protocol::kStopNameChars),
                             job.destination);
}

// A pack still running for jobs that have ended writes its temporary file into the
// send folder; the folder is emptied once that has landed.
void TransferSender::onTimer3Timeout()
{
    // An engine without work folders (a test's, a benchmark's) would empty the current
    // folder instead.
    if (m_ctx.SendTempDir.isEmpty())
        return;
    if (!m_delBusy && !anyJobInUse() && m_packing.isEmpty()) {
        QDir dir(m_ctx.SendTempDir);
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
            dir.remove(name);
    }
}
