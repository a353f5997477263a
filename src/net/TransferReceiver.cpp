#include "net/TransferReceiver.h"

#include "base/AnsiCodec.h"
#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "lzh/ByteStream.h"
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"
#include "net/ArchiverQueue.h"
#include "net/ArrivingArchive.h"
#include "net/EngineEvents.h"
#include "base/Protocol.h"
#include "net/FileMove.h"
#include "net/NetLog.h"
#include "net/SlotAdmission.h"
#include "net/SocketFacts.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace {

constexpr qint64 kReadChunk = 1024 * 1024;
// What one connection may hold unread; beyond it TCP flow control holds the sender.
constexpr qint64 kReadBuffer = 2 * 1024 * 1024;

QString product()
{
    return QString::fromUtf8(kProductName);
}

// Headers an archive of the archiver's path may hold before its size is taken as unknown;
// walking them seeks past the data, but each one is still a read.
constexpr int kHeadersWalked = 4096;

// What the entries named `item` in the complete archive declare, or -1 when the headers
// cannot be walked to the end within the limit.
qint64 declaredItemBytes(const QString &archive, const QString &item)
{
    std::FILE *file = std::fopen(QFile::encodeName(archive).constData(), "rb");
    if (!file)
        return -1;
    lzh::FileSource source(file);
    lzh::ArchiveReader reader(source);
    quint64 sum = 0;
    qint64 result = -1;
    for (int i = 0; i < kHeadersWalked; ++i) {
        lzh::EntryInfo info;
        bool end = false;
        if (reader.next(info, end) != lzh::Ok)
            break;
        if (end) {
            result = qint64(qMin<quint64>(sum, quint64(std::numeric_limits<qint64>::max() / 4)));
            break;
        }
        const std::string bare = lzh::bareName(info.name);
        if (AnsiCodec::decode(QByteArrayView(bare.data(), qsizetype(bare.size()))) == item)
            sum = qMin<quint64>(sum + info.originalSize, quint64(std::numeric_limits<qint64>::max() / 4));
    }
    std::fclose(file);
    return result;
}

// Replaces `to` by `from` in one step (or not at all), as QFile::rename does not.
bool replaceFile(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

struct TransferReceiver::Conn
{
    QTcpSocket *socket = nullptr;
    QString ip;
    std::unique_ptr<QFile> out;
    // A packed body passes through here; an archive of the item alone is unpacked on the way in.
    std::unique_ptr<ArrivingArchive> arriving;
    QTimer idle;
    QTimer headerDeadline;
    qint64 openedMs = 0;
    ProgressPace pace;
};

TransferReceiver::TransferReceiver(ModZorvin &ctx, EngineEvents &events, TransferLinks links, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_events(events), m_links(std::move(links)), m_server(this)
{
    if (m_links.archiver)
        connect(m_links.archiver, &ArchiverQueue::finished, this, &TransferReceiver::onArchiverFinished);
    connect(&m_server, &QTcpServer::newConnection, this, &TransferReceiver::onNewConnection);
    connect(&m_server, &QTcpServer::acceptError, this, &TransferReceiver::onServerAcceptError);
    m_clock.start();
    m_acceptPause.setSingleShot(true);
    m_acceptPause.setInterval(kAcceptPauseMs);
    connect(&m_acceptPause, &QTimer::timeout, &m_server, &QTcpServer::resumeAccepting);
    m_cutGrace.setSingleShot(true);
    connect(&m_cutGrace, &QTimer::timeout, this, [this] { listDueCutLines(false); });
}

TransferReceiver::~TransferReceiver()
{
    CloseAll();
}

bool TransferReceiver::Listen(QString *errorText, int *errorNumber)
{
    // A burst of senders must not overflow the accept queue.
    m_server.setMaxPendingConnections(kRecvSlots + 64);
    m_server.setListenBacklogSize(kRecvSlots);
    if (!m_server.listen(m_ctx.net.bindAddress, m_ctx.net.port)) {
        if (errorText)
            *errorText = m_server.errorString();
        if (errorNumber)
            *errorNumber = SocketFacts::errorNumber(m_server.serverError());
        return false;
    }
    if (m_ctx.LocalIp.isEmpty()) {
        const QHostAddress a = m_server.serverAddress();
        m_ctx.SetLocalIp(a == QHostAddress::AnyIPv4 || a == QHostAddress::Any ? QString()
                                                                              : SocketFacts::ipv4Text(a));
    }
    if (m_ctx.LocalHostName.isEmpty())
        m_ctx.LocalHostName = QHostInfo::localHostName();
    return true;
}

void TransferReceiver::CloseAll()
{
    listDueCutLines(true);
    const QList<int> keys = m_sockets.keys();
    for (int idx : keys)
        endReception(idx, false);
    m_reservations = DiskReservations();
    m_acceptPause.stop();
    m_server.close();
    if (m_unpacking.isEmpty())
        return;
    // The stopped unpacks end within a block of output; then nothing writes their files.
    // Their finished, should it still come, finds nothing to do.
    m_links.archiver->waitForRunning();
    for (const Unpacking &files : std::as_const(m_unpacking))
        removeUnpackOutput(files);
    m_unpacking.clear();
}

void TransferReceiver::endReception(int socketIndex, bool abort)
{
    const int slot = slotForSocket(socketIndex);
    if (slot >= 0) {
        const RecvSlot &s = m_slots[size_t(slot)];
        // An archive still waiting for the archiver goes with the transfer; one being
        // unpacked is stopped and goes, with what it unpacked, when the unpack ends.
        if (s.archiverBusy)
            QFile::remove(archivePath(s));
        if (s.archiverId != 0)
            m_links.archiver->cancel(s.archiverId);
    }
    // A copy into the receive folder stops and takes its partial copy with it.
    if (FileMove *move = m_moves.take(socketIndex)) {
        const QString source = move->source();
        delete move;
        QFile::remove(source);
    }
    // A body cut short leaves no partial file.
    dropOutput(socketIndex, true);
    FreeRecvSlot(socketIndex, slot);
    if (Conn *c = m_sockets.value(socketIndex); c && abort)
        c->socket->abort();
    CloseRecvSocket(socketIndex);
}

void TransferReceiver::removeUnpackOutput(const Unpacking &files)
{
    QFile::remove(files.archive);
    // The item stays when a running transfer writes a file of that name.
    bool itemTaken = false;
    for (const RecvSlot &s : m_slots)
        itemTaken = itemTaken || (s.inUse && m_ctx.RecvTempDir + s.header.itemName == files.item);
    if (!itemTaken)
        QFile::remove(files.item);
}

int TransferReceiver::slotsInUse() const
{
    int n = 0;
    for (const RecvSlot &s : m_slots)
        n += s.inUse ? 1 : 0;
    return n;
}

int TransferReceiver::unpacksOnArrival() const
{
    int n = 0;
    for (const Conn *c : m_sockets)
        n += c->arriving && c->arriving->mode() == ArrivingArchive::Mode::Unpacking ? 1 : 0;
    return n;
}

int TransferReceiver::slotForSocket(int socketIndex) const
{
    return firstInUse(m_slots, &RecvSlot::socketIndex, socketIndex);
}

int TransferReceiver::AllocRecvSlot(int socketIndex, const QString &ip, quint16 port)
{
    for (int i = 0; i < kRecvSlots; ++i) {
        RecvSlot &s = m_slots[size_t(i)];
        if (s.inUse)
            continue;
        s = RecvSlot{};
        s.inUse = true;
        s.socketIndex = socketIndex;
        s.senderIp = ip;
        s.senderPort = port;
        return i;
    }
    return kRecvSlots;
}

void TransferReceiver::FreeRecvSlot(int socketIndex, int slot)
{
    if (slot < 0 || slot >= kRecvSlots || m_slots[size_t(slot)].socketIndex != socketIndex)
        return;
    m_reservations.release(socketIndex);
    if (m_slots[size_t(slot)].progressShown)
        reportProgress(slot, TransferProgress::State::Ended);
    m_slots[size_t(slot)] = RecvSlot{};
}

void TransferReceiver::CloseRecvSocket(int socketIndex)
{
    Conn *c = m_sockets.take(socketIndex);
    if (!c)
        return;
    c->idle.stop();
    c->headerDeadline.stop();
    c->socket->disconnect(this);
    // Closing after everything arrived is how the sender learns of success.
    c->socket->disconnectFromHost();
    c->socket->deleteLater();
    delete c;
}

void TransferReceiver::dropOutput(int socketIndex, bool removeFile)
{
    Conn *c = m_sockets.value(socketIndex);
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

QString TransferReceiver::displayNameOf(const QString &ip) const
{
    return m_links.peerName ? m_links.peerName(ip) : QString();
}

QString TransferReceiver::errorReplyText(int code)
{
    switch (code) {
    case 1:
        return product() + QStringLiteral("のプロトコルバージョン不一致。");
    case 2:
    case kUnreadablePicture:
        return QStringLiteral("転送中にデーターエラー (不正フォーマット) が発生しました。");
    case 3:
        return QStringLiteral("相手側「") + product() + QStringLiteral("」で内部矛盾が発生しました。");
    case 4:
        return QStringLiteral("相手側「") + product() + QStringLiteral("」で UNLHA のエラーが発生しました。");
    case 100:
        return QStringLiteral("相手側「") + product() +
               QStringLiteral("」でファイル保存中にエラーが発生しました。");
    case 254:
        return QStringLiteral("相手側「") + product() + QStringLiteral("」の リソースが不足しています。");
    case 255:
        return QStringLiteral("相手側に ") + QStringLiteral("UNLHA32.DLL") +
               QStringLiteral(" がインストールされてません。");
    }
    return QString();
}

QByteArray TransferReceiver::errorReply(int code)
{
    const QString text = errorReplyText(code);
    // The length counts characters, not the bytes of the code page.
    return AnsiCodec::encode(QStringLiteral("9999%1").arg(text.size(), 4, 10, QLatin1Char('0')) + text);
}

void TransferReceiver::ReportRecvError(int socketIndex, int code, int archiverResult)
{
    const int slot = slotForSocket(socketIndex);
    if (slot < 0)
        return;
    RecvSlot &s = m_slots[size_t(slot)];
    if (s.errorReported)
        return;
    s.errorReported = true;
    qCDebug(lcNet) << "receive from" << s.senderIp << "of" << s.header.itemName << "refused with" << code
                   << archiverResult;
    s.archiverBusy = false;
    s.finishingUnpack = false;
    if (Conn *c = m_sockets.value(socketIndex))
        c->headerDeadline.stop();

    QString local;
    switch (code) {
    case 1:
        local = product() + QStringLiteral("プロトコルバージョン不一致。");
        break;
    case 2:
        local = QStringLiteral("不正データ受信。");
        break;
    case 3:
        local = QStringLiteral("内部ステータス不正｡  Stat=%1 Event = recv()").arg(s.state);
        break;
    case 4:
        local = QStringLiteral("UNLHA32 ERR C=%1").arg(archiverResult);
        break;
    case 100:
        local = QStringLiteral("ファイルを保存できません。");
        break;
    case kUnreadablePicture:
        local = QStringLiteral("未サポートのファイル形式です。");
        break;
    }
    if (!local.isEmpty())
        addFailureLine(s, local);
    // A refused transfer leaves nothing behind in the receive folder.
    dropOutput(socketIndex, true);
    m_reservations.release(socketIndex);
    if (s.packed() && s.state == 1)
        QFile::remove(archivePath(s));
    Conn *c = m_sockets.value(socketIndex);
    if (!c)
        return;
    // The sender closes once it has read the reply; one that never does is not kept, also
    // when it keeps sending.
    c->idle.start();
    // Handed to the system at once: a sender that has closed its sending side is seen as
    // gone by the next read, and a reply still in the socket's buffer would be lost.
    if (c->socket->state() == QAbstractSocket::ConnectedState) {
        c->socket->write(errorReply(code));
        c->socket->flush();
    }
}

QString TransferReceiver::senderName(const RecvSlot &s) const
{
    const QString who = displayNameOf(s.senderIp);
    return who.isEmpty() ? QStringLiteral("IPｱﾄﾞﾚｽ ") + s.senderIp : who;
}

void TransferReceiver::addFailureLine(const RecvSlot &s, const QString &detail)
{
    const QString kindText = s.header.isFile() ? QStringLiteral("ファイル") : QStringLiteral("画像");
    emit m_events.recvInfoAdded(senderName(s), 1,
                                kindText + QStringLiteral("受信中にエラーが発生しました。") + detail);
}

void TransferReceiver::reportProgress(int slot, TransferProgress::State state, qint64 speed)
{
    RecvSlot &s = m_slots[size_t(slot)];
    s.progressShown = true;
    TransferProgress p;
    p.sending = false;
    p.id = slot;
    p.state = state;
    p.name = senderName(s);
    p.kind = QString(s.header.kind);
    p.item = s.header.itemName;
    p.done = s.received;
    p.total = s.header.size;
    p.bytesPerSecond = speed;
    emit m_events.transferProgress(p);
}

bool TransferReceiver::endsShort(int socketIndex) const
{
    const int slot = slotForSocket(socketIndex);
    if (slot < 0)
        return false;
    const RecvSlot &s = m_slots[size_t(slot)];
    return s.state == 1 && !s.errorReported && !s.waitsForUnpack() && s.received < s.header.size;
}

void TransferReceiver::holdCutLine(const RecvSlot &s)
{
    m_cutLines.append({s.senderIp, s.header.archiveName, senderName(s),
                       s.header.isFile() ? QStringLiteral("ファイル") : QStringLiteral("画像"),
                       s.header.itemName, m_clock.elapsed() + kCutLineGraceMs});
    if (!m_cutGrace.isActive())
        m_cutGrace.start(kCutLineGraceMs);
}

void TransferReceiver::listDueCutLines(bool all)
{
    const qint64 now = m_clock.elapsed();
    while (!m_cutLines.isEmpty() && (all || m_cutLines.first().dueMs <= now)) {
        const CutLine line = m_cutLines.takeFirst();
        emit m_events.recvInfoAdded(line.who, 1,
                                    line.kindText + QStringLiteral("受信中にエラーが発生しました。") +
                                        QStringLiteral("転送中に切断されました。 ") + line.item);
    }
    if (!m_cutLines.isEmpty())
        m_cutGrace.start(int(qMax<qint64>(1, m_cutLines.first().dueMs - now)));
}

bool TransferReceiver::admit(const QString &ip)
{
    std::vector<SlotAdmission::Holder> holders;
    holders.reserve(size_t(m_sockets.size()));
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it) {
        const int slot = slotForSocket(it.key());
        const RecvSlot *held = slot >= 0 ? &m_slots[size_t(slot)] : nullptr;
        // One that was answered already only waits for its sender to read the reply: it
        // gives way before any other.
        const bool answered = !held || held->errorReported;
        const bool waiting = held && held->state == 0 && !answered;
        holders.push_back({it.key(), (*it)->ip, answered ? -1 : (*it)->openedMs, !waiting && !answered,
                           waiting ? (*it)->socket->bytesAvailable() : 0});
    }
    const SlotAdmission::Decision d =
        SlotAdmission::decide(ip, kRecvSlots - slotsInUse(), kConnectionsPerAddress, holders);
    if (d.kind == SlotAdmission::Decision::Kind::Refuse)
        return false;
    if (d.kind == SlotAdmission::Decision::Kind::Evict) {
        // The connection that gives way is told why, as a newcomer would be.
        if (Conn *victim = m_sockets.value(d.victim);
            victim && victim->socket->state() == QAbstractSocket::ConnectedState) {
            victim->socket->write(errorReply(254));
            victim->socket->flush();
        }
        endReception(d.victim, false);
    }
    return true;
}

void TransferReceiver::turnAway(QTcpSocket *socket)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // Closed as soon as the reply is written, so refused connections hold no descriptor;
    // a peer that takes nothing at all loses it after the idle time.
    QTimer::singleShot(m_idleMs, socket, &QTcpSocket::abort);
    socket->write(errorReply(254));
    socket->flush();
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

void TransferReceiver::onServerAcceptError()
{
    // The server stops accepting after a failed accept. Out of descriptors, the waiting
    // connection would fail again at once: rest a moment, so that transfers can end and
    // free theirs, then take it. Other failures (a connection reset before it was taken)
    // pass with the same short rest.
    m_server.pauseAccepting();
    m_acceptPause.start();
}

void TransferReceiver::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString ip = SocketFacts::ipv4Text(socket->peerAddress());
        do {
            if (m_socketCounter >= 32700)
                m_socketCounter = 0;
            ++m_socketCounter;
        } while (m_sockets.contains(m_socketCounter));
        const int idx = m_socketCounter;
        // No slot for it, or the address holds its share already: the connection is
        // answered and not served.
        if (!admit(ip) || AllocRecvSlot(idx, ip, socket->peerPort()) >= kRecvSlots) {
            turnAway(socket);
            continue;
        }
        auto *c = new Conn;
        c->socket = socket;
        c->ip = ip;
        c->openedMs = m_clock.elapsed();
        socket->setParent(this);
        socket->setReadBufferSize(kReadBuffer);
        m_sockets.insert(idx, c);

        connect(socket, &QTcpSocket::readyRead, this, [this, idx] { onReadyRead(idx); });
        connect(socket, &QTcpSocket::disconnected, this, [this, idx] { onDisconnected(idx); });
        c->idle.setSingleShot(true);
        c->idle.setInterval(m_idleMs);
        connect(&c->idle, &QTimer::timeout, this, [this, idx] { onIdle(idx); });
        c->idle.start();
        // Every byte restarts the idle watch; this one runs from the opening only.
        c->headerDeadline.setSingleShot(true);
        c->headerDeadline.setInterval(m_headerDeadlineMs);
        connect(&c->headerDeadline, &QTimer::timeout, this, [this, idx] { onIdle(idx); });
        c->headerDeadline.start();
    }
}

void TransferReceiver::onReadyRead(int socketIndex)
{
    Conn *c = m_sockets.value(socketIndex);
    if (!c || !c->socket->isOpen())
        return;
    QTcpSocket *socket = c->socket;
    const int slot = slotForSocket(socketIndex);
    if (slot < 0 || m_slots[size_t(slot)].errorReported) {
        // Already refused: the rest of the stream is not wanted, and keeps the connection
        // no longer than the idle time after the reply.
        socket->readAll();
        return;
    }
    RecvSlot &s = m_slots[size_t(slot)];
    if (s.waitsForUnpack())
        return; // everything arrived; the data left waiting is not ours to read
    c->idle.start();

    if (s.state == 0) {
        if (socket->bytesAvailable() < kHeaderChars)
            return;
        const ParsedTransferHeader parsed = TransferHeader::parse(socket->peek(2 * kHeaderChars));
        if (parsed.status == ParsedTransferHeader::Status::Incomplete)
            return;
        s.header = parsed.header;
        if (parsed.status == ParsedTransferHeader::Status::FormatError) {
            ReportRecvError(socketIndex, 2);
            socket->readAll();
            return;
        }
        if (parsed.status == ParsedTransferHeader::Status::VersionMismatch) {
            ReportRecvError(socketIndex, 1);
            socket->readAll();
            return;
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
        bool nameTaken = false;
        for (int i = 0; i < kRecvSlots; ++i) {
            const RecvSlot &o = m_slots[size_t(i)];
            nameTaken = nameTaken || (i != slot && o.inUse && o.state == 1 && o.bodyPath == s.bodyPath);
        }
        c->out = std::make_unique<QFile>(s.bodyPath);
        if (nameTaken || !m_reservations.reserve(socketIndex, folder, s.bodyPath, s.header.size) ||
            !c->out->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            c->out.reset();
            ReportRecvError(socketIndex, 100);
            socket->readAll();
            return;
        }
        socket->read(parsed.byteLength);
        // Without the archiver a packed body is refused once it is complete.
        if (s.packed() && m_ctx.ArchiverReady && m_links.archiver) {
            // What an unpack on arrival declares is held instead of the body's size, with
            // the archiver's margin, once its header has come.
            c->arriving = std::make_unique<ArrivingArchive>(
                s.header.size, s.header.itemName, s.bodyPath,
                [this, socketIndex, folder, path = s.bodyPath](qint64 declared) {
                    return m_reservations.reserve(socketIndex, folder, path, declared, kUnpackKeepFreeBytes);
                });
            // The unpack took some of what waited: the socket is read on.
            connect(c->arriving.get(), &ArrivingArchive::roomAvailable, this,
                    [this, socketIndex] { onReadyRead(socketIndex); });
            connect(c->arriving.get(), &ArrivingArchive::unpacked, this,
                    [this, socketIndex](int result) { onArrivingUnpacked(socketIndex, result); });
        }
        s.state = 1;
        c->headerDeadline.stop();
        c->pace.start(0);
        reportProgress(slot, TransferProgress::State::Moving);
    } else if (s.state != 1) {
        ReportRecvError(socketIndex, 3);
        return;
    }

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
            ReportRecvError(socketIndex, 100);
            socket->readAll();
            return;
        }
        s.received += chunk.size();
    }
    if (c->pace.due())
        reportProgress(slot, TransferProgress::State::Moving, c->pace.bytesPerSecond(s.received));
    if (s.received >= s.header.size && c->out) {
        // Bytes beyond the declared size belong to nothing.
        socket->readAll();
        const bool flushed = c->out->flush();
        c->out->close();
        c->out.reset();
        if (!flushed) {
            ReportRecvError(socketIndex, 100);
            return;
        }
        complete(socketIndex, slot);
    }
}

void TransferReceiver::complete(int socketIndex, int slot)
{
    if (!m_slots[size_t(slot)].packed()) {
        finish(socketIndex, slot, m_slots[size_t(slot)].bodyPath);
        return;
    }
    if (!m_ctx.ArchiverReady || !m_links.archiver) {
        ReportRecvError(socketIndex, 255);
        return;
    }
    Conn *c = m_sockets.value(socketIndex);
    if (c && c->arriving && c->arriving->mode() == ArrivingArchive::Mode::Unpacking) {
        // The connection stays open, without its idle watch, until the unpack has ended.
        m_slots[size_t(slot)].finishingUnpack = true;
        c->idle.stop();
        c->arriving->endOfBody();
        return;
    }
    // The connection stays open, without its idle watch, until the archive is unpacked.
    if (c)
        c->idle.stop();
    startUnpacking(slot, false);
}

void TransferReceiver::onArrivingUnpacked(int socketIndex, int result)
{
    const int slot = slotForSocket(socketIndex);
    const Conn *c = m_sockets.value(socketIndex);
    if (slot < 0 || !c || !c->arriving)
        return;
    if (result == lzh::Ok)
        finishUnpacked(socketIndex, slot);
    else if (result == lzh::ErrOutputWrite)
        ReportRecvError(socketIndex, 100); // the disk, not the archive
    else
        ReportRecvError(socketIndex, 4, result);
}

// The entry was unpacked into the archive's place: it becomes the item, with the header's
// time, as the archiver's unpack would have made it. A file's body already sits beside its
// final place and is moved there by placeFile.
void TransferReceiver::finishUnpacked(int socketIndex, int slot)
{
    Conn *c = m_sockets.value(socketIndex);
    RecvSlot &s = m_slots[size_t(slot)];
    s.finishingUnpack = false;
    const qint64 modified = c->arriving->modified();
    c->arriving.reset();
    QString path = archivePath(s);
    if (path.startsWith(m_ctx.RecvTempDir)) {
        path = m_ctx.RecvTempDir + s.header.itemName;
        if (!replaceFile(archivePath(s), path)) {
            QFile::remove(archivePath(s));
            ReportRecvError(socketIndex, 4, lzh::ErrOutputReplace);
            return;
        }
    }
    std::error_code ec;
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(modified));
    std::filesystem::last_write_time(std::filesystem::path(QFile::encodeName(path).toStdString()),
                                     std::chrono::file_clock::from_sys(when), ec);
    finish(socketIndex, slot, path);
}

QString TransferReceiver::archivePath(const RecvSlot &s) const
{
    return s.bodyPath;
}

QString TransferReceiver::arrivalName(const QString &itemName, int socketIndex)
{
    return QStringLiteral(".%1.%2.zorvin-part").arg(itemName).arg(socketIndex);
}

// A retry that finds the archiver busy again counts towards the limit; the first
// refusal does not.
void TransferReceiver::startUnpacking(int slot, bool retry)
{
    RecvSlot &s = m_slots[size_t(slot)];
    s.archiverBusy = false;
    // Only the item is unpacked, and only when what its headers declare fits the disk
    // beside what the other arrivals may still write; that is held until the unpack ends.
    const QString item = m_ctx.RecvTempDir + s.header.itemName;
    if (!m_links.archiver->isBusy()) {
        const qint64 declared = declaredItemBytes(archivePath(s), s.header.itemName);
        if (!m_reservations.reserve(s.socketIndex, m_ctx.RecvTempDir, item, qMax<qint64>(0, declared),
                                    kUnpackKeepFreeBytes)) {
            unpackingEnded(slot, lzh::ErrOutputLimit, retry);
            return;
        }
    }
    const qint64 keepFree = kUnpackKeepFreeBytes + m_reservations.pendingOn(m_ctx.RecvTempDir, s.socketIndex);
    const ArchiverTicket ticket =
        m_links.archiver->start(archivePath(s), m_ctx.RecvTempDir, false, {s.header.itemName, keepFree});
    if (!ticket.started()) {
        unpackingEnded(slot, ticket.result, retry);
        return;
    }
    s.archiverId = ticket.id;
    m_unpacking.insert(ticket.id, {archivePath(s), m_ctx.RecvTempDir + s.header.itemName});
}

void TransferReceiver::unpackingEnded(int slot, int result, bool counted)
{
    RecvSlot &s = m_slots[size_t(slot)];
    if (result == 0) {
        QFile::remove(archivePath(s));
        finish(s.socketIndex, slot, m_ctx.RecvTempDir + s.header.itemName);
    } else if (ArchiverWait::keepsWaiting(result, counted, s.busyRetries)) {
        // Tried again when the archiver reports its running command finished.
        s.archiverBusy = true;
    } else if (result == lzh::ErrOutputLimit) {
        // The archive declares more than the disk can take: a save failure, not a fault
        // of the archiver.
        ReportRecvError(s.socketIndex, 100);
    } else {
        ReportRecvError(s.socketIndex, 4, result);
    }
}

void TransferReceiver::onArchiverFinished(int id, int result)
{
    if (m_unpacking.contains(id)) {
        const Unpacking files = m_unpacking.take(id);
        const int slot = firstInUse(m_slots, &RecvSlot::archiverId, id);
        if (slot >= 0) {
            m_slots[size_t(slot)].archiverId = 0;
            unpackingEnded(slot, result, true);
        } else {
            // The transfer ended while it was unpacked: nobody takes its files.
            removeUnpackOutput(files);
        }
    }
    ArchiverWait::retryWaiting(m_slots, *m_links.archiver, [this](int slot) { startUnpacking(slot, true); });
}

void TransferReceiver::finish(int socketIndex, int slot, const QString &path)
{
    const RecvSlot s = m_slots[size_t(slot)];
    const QString name = displayNameOf(s.senderIp);
    if (!QFileInfo(path).isFile()) {
        ReportRecvError(socketIndex, 100);
        return;
    }
    if (s.header.isFile()) {
        placeFile(socketIndex, slot, path);
        return;
    }
    if (!ImageArrived(path, s, name)) {
        QFile::remove(path);
        ReportRecvError(socketIndex, kUnreadablePicture);
        return;
    }
    FreeRecvSlot(socketIndex, slot);
    CloseRecvSocket(socketIndex);
}

// The sender learns of the outcome once the file is in place: the connection stays open,
// without its idle watch, while a copy runs.
void TransferReceiver::placeFile(int socketIndex, int slot, const QString &path)
{
    const Settings &set = m_ctx.settings;
    RecvSlot &s = m_slots[size_t(slot)];
    if (set.RecvFileSavePlace.isEmpty()) {
        QFile::remove(path);
        ReportRecvError(socketIndex, 100);
        return;
    }
    const QString folder = FolderPath::withSlash(set.RecvFileSavePlace);
    const QString target = folder + s.header.itemName;
    // Within one file system the arrival becomes the file in one step, replacing an older
    // one of that name.
    if (replaceFile(path, target)) {
        fileDelivered(s, s.header.itemName, folder);
        FreeRecvSlot(socketIndex, slot);
        CloseRecvSocket(socketIndex);
        return;
    }
    // Another file system (the archiver unpacks in the work folder): up to gigabytes to
    // copy, on a worker, under a temporary name that takes the file's only when complete.
    s.placingFile = true;
    if (Conn *c = m_sockets.value(socketIndex))
        c->idle.stop();
    auto *move = new FileMove(path, target, this);
    m_moves.insert(socketIndex, move);
    connect(move, &FileMove::finished, this,
            [this, socketIndex](bool ok, const QString &error) { onFilePlaced(socketIndex, ok, error); });
    move->start();
}

void TransferReceiver::onFilePlaced(int socketIndex, bool ok, const QString &error)
{
    FileMove *move = m_moves.take(socketIndex);
    if (!move)
        return;
    const QString source = move->source();
    const QString target = move->target();
    move->deleteLater();
    const int slot = slotForSocket(socketIndex);
    if (slot < 0)
        return;
    RecvSlot &s = m_slots[size_t(slot)];
    s.placingFile = false;
    if (!ok) {
        qCDebug(lcNet) << "received file not saved:" << error;
        QFile::remove(source);
        ReportRecvError(socketIndex, 100);
        return;
    }
    fileDelivered(s, QFileInfo(target).fileName(), QFileInfo(target).path() + u'/');
    FreeRecvSlot(socketIndex, slot);
    CloseRecvSocket(socketIndex);
}

void TransferReceiver::fileDelivered(const RecvSlot &s, const QString &fileName, const QString &folder)
{
    const Settings &set = m_ctx.settings;
    const QString displayName = displayNameOf(s.senderIp);
    const QString who = displayName.isEmpty() ? QStringLiteral("IPｱﾄﾞﾚｽ ") + s.senderIp : displayName;
    if (set.RecvFileSound == 1 || set.RecvFileSound == 2)
        emit m_events.soundRequested(set.RecvFileSound, set.RecvFileSoundPlace);
    emit m_events.recvInfoAdded(who, 0, fileName);
    if (set.FileRecvFolOP)
        emit m_events.folderOpenRequested(folder);
}

void TransferReceiver::RefuseArrivedImage()
{
    if (m_handingOver)
        m_pictureRefused = true;
}

bool TransferReceiver::ImageArrived(const QString &path, const RecvSlot &s, const QString &displayName)
{
    const QDateTime now = QDateTime::currentDateTime();
    ArrivedImage img;
    img.path = path;
    img.displayName = displayName;
    img.senderIp = s.senderIp;
    img.date = now.toString(QStringLiteral("yyyy/MM/dd"));
    img.time = now.toString(QStringLiteral("hh:mm:ss"));
    img.caption = product() + QStringLiteral(" From ") + displayName + QLatin1Char('/') + s.senderIp +
                  QStringLiteral(" [ Date: ") + img.date + QStringLiteral(" Time: ") + img.time +
                  QStringLiteral(" ]");
    img.machineName = s.header.hostName.section(QChar(0), 0, 0);
    if (img.machineName.isEmpty() && displayName.endsWith(QLatin1Char(')'))) {
        const qsizetype open = displayName.lastIndexOf(QLatin1Char('('));
        if (open >= 0)
            img.machineName = displayName.mid(open + 1, displayName.size() - open - 2);
    }
    if (m_ctx.settings.RecvPicWin) {
        img.displayKind = 9;
    } else if (s.header.faceDown != QLatin1Char('Y')) {
        img.displayKind = 0;
    } else {
        img.hideTime = QStringLiteral("Date: ") + img.date + QStringLiteral(" Time: ") + img.time;
        img.hideFrom = QStringLiteral("From: ") + (displayName.isEmpty() ? s.senderIp : displayName);
        img.openCheck = s.header.openReceipt == QLatin1Char('Y');
        img.displayKind = s.header.passwordLock == QLatin1Char('Y') ? 2 : 1;
    }
    m_pictureRefused = false;
    m_handingOver = true;
    emit m_events.imageArrived(img);
    m_handingOver = false;
    if (m_pictureRefused)
        return false;
    // The viewer holds the picture in memory; a bitmap from another machine is not kept.
    const bool fromHere = s.senderIp == m_ctx.LocalIp || s.senderIp == QLatin1String("127.0.0.1");
    if (!fromHere && path.toUpper().endsWith(QLatin1String("BMP")))
        QFile::remove(path);
    return true;
}

void TransferReceiver::onDisconnected(int socketIndex)
{
    // Take whatever arrived before the hang-up; a complete transfer is finished by it.
    onReadyRead(socketIndex);
    if (!m_sockets.contains(socketIndex))
        return;
    // Everything had arrived and was not delivered yet: the reception failed. A hang-up
    // during the body is the sender's own failure (or its cancel) and is not listed.
    const int slot = slotForSocket(socketIndex);
    if (slot >= 0 && m_slots[size_t(slot)].waitsForUnpack() && !m_slots[size_t(slot)].errorReported)
        addFailureLine(m_slots[size_t(slot)], QStringLiteral("転送中に切断されました。"));
    // A body cut short: a cancel, when the sender's stop request follows.
    if (endsShort(socketIndex))
        holdCutLine(m_slots[size_t(slot)]);
    endReception(socketIndex, false);
}

void TransferReceiver::onIdle(int socketIndex)
{
    if (endsShort(socketIndex)) {
        holdCutLine(m_slots[size_t(slotForSocket(socketIndex))]);
        listDueCutLines(true);
    }
    endReception(socketIndex, true);
}

void TransferReceiver::onStopDatagram(const QString &ip, const QString &datagram)
{
    const QString archive =
        AnsiCodec::field(datagram, Protocol::kStopNameFrom, Protocol::kStopNameChars).trimmed();
    const auto matches = [&](const QString &from, const QString &name) {
        return from == ip && (archive.isEmpty() || name.isEmpty() || name == archive);
    };
    const QString cancelled = QStringLiteral("送信側でキャンセルされました。 ");
    // The hang-up may have come first.
    for (qsizetype i = 0; i < m_cutLines.size(); ++i) {
        if (!matches(m_cutLines[i].ip, m_cutLines[i].archive))
            continue;
        const CutLine line = m_cutLines.takeAt(i);
        emit m_events.recvInfoAdded(line.who, 1, cancelled + line.item);
        return;
    }
    for (int i = 0; i < kRecvSlots; ++i) {
        const RecvSlot &s = m_slots[size_t(i)];
        if (!s.inUse || !matches(s.senderIp, s.header.archiveName))
            continue;
        if (s.state == 1 && !s.errorReported)
            emit m_events.recvInfoAdded(senderName(s), 1, cancelled + s.header.itemName);
        endReception(s.socketIndex, true);
        return;
    }
}
