#include "net/ReceivedDelivery.h"

#include "base/AnsiCodec.h"
#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "base/Protocol.h"
#include "lzh/ByteStream.h"
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"
#include "net/ArchiverQueue.h"
#include "net/ArrivingArchive.h"
#include "net/EngineEvents.h"
#include "net/FileMove.h"
#include "net/NetLog.h"
#include "net/ReceiveReports.h"
#include "net/TransferLinks.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace {

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

ReceivedDelivery::ReceivedDelivery(ModZorvin &ctx, EngineEvents &events, ReceiveTable &table,
                                   ReceiveReports &reports, ReceiveHost &host, ArchiverQueue *archiver,
                                   QObject *parent)
    : QObject(parent), m_ctx(ctx), m_events(events), m_table(table), m_reports(reports), m_host(host),
      m_archiver(archiver)
{
    if (m_archiver)
        connect(m_archiver, &ArchiverQueue::finished, this, &ReceivedDelivery::onArchiverFinished);
}

void ReceivedDelivery::stop(int socketIndex, int slot)
{
    if (slot >= 0) {
        const RecvSlot &s = m_table.slot(slot);
        // An archive still waiting for the archiver goes with the transfer; one being
        // unpacked is stopped and goes, with what it unpacked, when the unpack ends.
        if (s.archiverBusy)
            QFile::remove(s.bodyPath);
        if (s.archiverId != 0)
            m_archiver->cancel(s.archiverId);
    }
    // A copy into the receive folder stops and takes its partial copy with it.
    if (FileMove *move = m_moves.take(socketIndex)) {
        const QString source = move->source();
        delete move;
        QFile::remove(source);
    }
}

void ReceivedDelivery::closeAll()
{
    if (m_unpacking.isEmpty())
        return;
    // The stopped unpacks end within a block of output; then nothing writes their files.
    // Their finished, should it still come, finds nothing to do.
    m_archiver->waitForRunning();
    for (const Unpacking &files : std::as_const(m_unpacking))
        removeUnpackOutput(files);
    m_unpacking.clear();
}

void ReceivedDelivery::removeUnpackOutput(const Unpacking &files)
{
    QFile::remove(files.archive);
    // The item stays when a running transfer writes a file of that name.
    if (!m_table.itemTaken(m_ctx.RecvTempDir, files.item))
        QFile::remove(files.item);
}

void ReceivedDelivery::bodyComplete(int socketIndex, int slot)
{
    if (!m_table.slot(slot).packed()) {
        finish(socketIndex, slot, m_table.slot(slot).bodyPath);
        return;
    }
    if (!m_ctx.ArchiverReady || !m_archiver) {
        m_host.refuse(socketIndex, 255);
        return;
    }
    ReceiveConnection *c = m_table.connection(socketIndex);
    if (c && c->arriving && c->arriving->mode() == ArrivingArchive::Mode::Unpacking) {
        // The connection stays open, without its idle watch, until the unpack has ended.
        m_table.slot(slot).finishingUnpack = true;
        c->idle.stop();
        c->arriving->endOfBody();
        return;
    }
    // The connection stays open, without its idle watch, until the archive is unpacked.
    if (c)
        c->idle.stop();
    startUnpacking(slot, false);
}

void ReceivedDelivery::onArrivingUnpacked(int socketIndex, int result)
{
    const int slot = m_table.slotForSocket(socketIndex);
    const ReceiveConnection *c = m_table.connection(socketIndex);
    if (slot < 0 || !c || !c->arriving)
        return;
    if (result == lzh::Ok)
        finishUnpacked(socketIndex, slot);
    else if (result == lzh::ErrOutputWrite)
        m_host.refuse(socketIndex, 100); // the disk, not the archive
    else
        m_host.refuse(socketIndex, 4, result);
}

// The entry was unpacked into the archive's place: it becomes the item, with the header's
// time, as the archiver's unpack would have made it. A file's body already sits beside its
// final place and is moved there by placeFile.
void ReceivedDelivery::finishUnpacked(int socketIndex, int slot)
{
    ReceiveConnection *c = m_table.connection(socketIndex);
    RecvSlot &s = m_table.slot(slot);
    s.finishingUnpack = false;
    const qint64 modified = c->arriving->modified();
    c->arriving.reset();
    QString path = s.bodyPath;
    if (path.startsWith(m_ctx.RecvTempDir)) {
        path = m_ctx.RecvTempDir + s.header.itemName;
        if (!replaceFile(s.bodyPath, path)) {
            QFile::remove(s.bodyPath);
            m_host.refuse(socketIndex, 4, lzh::ErrOutputReplace);
            return;
        }
    }
    std::error_code ec;
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(modified));
    std::filesystem::last_write_time(std::filesystem::path(QFile::encodeName(path).toStdString()),
                                     std::chrono::file_clock::from_sys(when), ec);
    finish(socketIndex, slot, path);
}

// A retry that finds the archiver busy again counts towards the limit; the first
// refusal does not.
void ReceivedDelivery::startUnpacking(int slot, bool retry)
{
    RecvSlot &s = m_table.slot(slot);
    s.archiverBusy = false;
    // Only the item is unpacked, and only when what its headers declare fits the disk
    // beside what the other arrivals may still write; that is held until the unpack ends.
    const QString item = m_ctx.RecvTempDir + s.header.itemName;
    if (!m_archiver->isBusy()) {
        const qint64 declared = declaredItemBytes(s.bodyPath, s.header.itemName);
        if (!m_table.reservations.reserve(s.socketIndex, m_ctx.RecvTempDir, item, qMax<qint64>(0, declared),
                                          kUnpackKeepFreeBytes)) {
            unpackingEnded(slot, lzh::ErrOutputLimit, retry);
            return;
        }
    }
    const qint64 keepFree = kUnpackKeepFreeBytes + m_table.reservations.pendingOn(m_ctx.RecvTempDir, s.socketIndex);
    const ArchiverTicket ticket = m_archiver->start(s.bodyPath, m_ctx.RecvTempDir, false, {s.header.itemName, keepFree});
    if (!ticket.started()) {
        unpackingEnded(slot, ticket.result, retry);
        return;
    }
    s.archiverId = ticket.id;
    m_unpacking.insert(ticket.id, {s.bodyPath, m_ctx.RecvTempDir + s.header.itemName});
}

void ReceivedDelivery::unpackingEnded(int slot, int result, bool counted)
{
    RecvSlot &s = m_table.slot(slot);
    if (result == 0) {
        QFile::remove(s.bodyPath);
        finish(s.socketIndex, slot, m_ctx.RecvTempDir + s.header.itemName);
    } else if (ArchiverWait::keepsWaiting(result, counted, s.busyRetries)) {
        // Tried again when the archiver reports its running command finished.
        s.archiverBusy = true;
    } else if (result == lzh::ErrOutputLimit) {
        // The archive declares more than the disk can take: a save failure, not a fault
        // of the archiver.
        m_host.refuse(s.socketIndex, 100);
    } else {
        m_host.refuse(s.socketIndex, 4, result);
    }
}

void ReceivedDelivery::onArchiverFinished(int id, int result)
{
    if (m_unpacking.contains(id)) {
        const Unpacking files = m_unpacking.take(id);
        const int slot = firstInUse(m_table.entries, &RecvSlot::archiverId, id);
        if (slot >= 0) {
            m_table.slot(slot).archiverId = 0;
            unpackingEnded(slot, result, true);
        } else {
            // The transfer ended while it was unpacked: nobody takes its files.
            removeUnpackOutput(files);
        }
    }
    ArchiverWait::retryWaiting(m_table.entries, *m_archiver, [this](int slot) { startUnpacking(slot, true); });
}

void ReceivedDelivery::finish(int socketIndex, int slot, const QString &path)
{
    const RecvSlot s = m_table.slot(slot);
    const QString name = m_reports.displayNameOf(s.senderIp);
    if (!QFileInfo(path).isFile()) {
        m_host.refuse(socketIndex, 100);
        return;
    }
    if (s.header.isFile()) {
        placeFile(socketIndex, slot, path);
        return;
    }
    if (!imageArrived(path, s, name)) {
        QFile::remove(path);
        m_host.refuse(socketIndex, ReceiveReports::kUnreadablePicture);
        return;
    }
    m_host.delivered(socketIndex, slot);
}

// The sender learns of the outcome once the file is in place: the connection stays open,
// without its idle watch, while a copy runs.
void ReceivedDelivery::placeFile(int socketIndex, int slot, const QString &path)
{
    const Settings &set = m_ctx.settings;
    RecvSlot &s = m_table.slot(slot);
    if (set.RecvFileSavePlace.isEmpty()) {
        QFile::remove(path);
        m_host.refuse(socketIndex, 100);
        return;
    }
    const QString folder = FolderPath::withSlash(set.RecvFileSavePlace);
    const QString target = folder + s.header.itemName;
    // Within one file system the arrival becomes the file in one step, replacing an older
    // one of that name.
    if (replaceFile(path, target)) {
        fileDelivered(s, s.header.itemName, folder);
        m_host.delivered(socketIndex, slot);
        return;
    }
    // Another file system (the archiver unpacks in the work folder): up to gigabytes to
    // copy, on a worker, under a temporary name that takes the file's only when complete.
    s.placingFile = true;
    if (ReceiveConnection *c = m_table.connection(socketIndex))
        c->idle.stop();
    auto *move = new FileMove(path, target, this);
    m_moves.insert(socketIndex, move);
    connect(move, &FileMove::finished, this,
            [this, socketIndex](bool ok, const QString &error) { onFilePlaced(socketIndex, ok, error); });
    move->start();
}

void ReceivedDelivery::onFilePlaced(int socketIndex, bool ok, const QString &error)
{
    FileMove *move = m_moves.take(socketIndex);
    if (!move)
        return;
    const QString source = move->source();
    const QString target = move->target();
    move->deleteLater();
    const int slot = m_table.slotForSocket(socketIndex);
    if (slot < 0)
        return;
    RecvSlot &s = m_table.slot(slot);
    s.placingFile = false;
    if (!ok) {
        qCDebug(lcNet) << "received file not saved:" << error;
        QFile::remove(source);
        m_host.refuse(socketIndex, 100);
        return;
    }
    fileDelivered(s, QFileInfo(target).fileName(), QFileInfo(target).path() + u'/');
    m_host.delivered(socketIndex, slot);
}

void ReceivedDelivery::fileDelivered(const RecvSlot &s, const QString &fileName, const QString &folder)
{
    const Settings &set = m_ctx.settings;
    if (set.RecvFileSound == 1 || set.RecvFileSound == 2)
        emit m_events.soundRequested(set.RecvFileSound, set.RecvFileSoundPlace);
    emit m_events.recvInfoAdded(m_reports.senderName(s), 0, fileName);
    if (set.FileRecvFolOP)
        emit m_events.folderOpenRequested(folder);
}

void ReceivedDelivery::refuseArrivedImage()
{
    if (m_handingOver)
        m_pictureRefused = true;
}

bool ReceivedDelivery::imageArrived(const QString &path, const RecvSlot &s, const QString &displayName)
{
    const QDateTime now = QDateTime::currentDateTime();
    ArrivedImage img;
    img.path = path;
    img.displayName = displayName;
    img.senderIp = s.senderIp;
    img.date = now.toString(QStringLiteral("yyyy/MM/dd"));
    img.time = now.toString(QStringLiteral("hh:mm:ss"));
    img.caption = QString::fromUtf8(kProductName) + QStringLiteral(" From ") + displayName + QLatin1Char('/') +
                  s.senderIp + QStringLiteral(" [ Date: ") + img.date + QStringLiteral(" Time: ") + img.time +
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
