#include "net/TransferSender.h"

#include "base/AnsiCodec.h"
#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "base/Protocol.h"
#include "net/NetLog.h"

#include <QDir>

namespace {

QString peerQuitText()
{
    return QStringLiteral("相手側「") + QString::fromUtf8(kProductName) +
           QStringLiteral("」が終了しました。");
}

} // namespace

TransferSender::TransferSender(ModZorvin &ctx, EngineEvents &events, TransferLinks links, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_events(events), m_links(std::move(links)),
      m_packing(ctx, events, m_jobs, *this, m_links.archiver, this),
      m_connections(ctx, events, m_jobs, *this, m_packing, this)
{
    m_connections.setSealing(m_links.sealing);
    m_timer3.setInterval(60000);
    connect(&m_timer3, &QTimer::timeout, this, &TransferSender::onTimer3Timeout);
    m_timer3.start();
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

bool TransferSender::anyJobInUse() const
{
    for (const SendJob &j : m_jobs)
        if (j.inUse)
            return true;
    return false;
}

int TransferSender::jobsInUse() const
{
    return countInUse(m_jobs);
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
            holdSharedFile(m_packing.archivePath(j));
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
    if (slot >= 0)
        m_connections.open(slot);
}

void TransferSender::replied(int socketIndex, int slot, const QString &message)
{
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
        return;
    }
    SendReport::result(m_events, j, false, message + QLatin1Char(' ') + j.pathForLine());
    if (noArchiver) {
        for (int i = 0; i < kSendJobSlots; ++i) {
            SendJob &other = m_jobs[size_t(i)];
            if (i == slot || !other.inUse || other.destination != dest)
                continue;
            SendReport::result(m_events, other, false, message + QLatin1Char(' ') + other.pathForLine());
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
}

void TransferSender::failJob(int slot, const QString &message)
{
    SendJob &j = m_jobs[size_t(slot)];
    if (!j.inUse)
        return;
    qCDebug(lcNet) << "send to" << j.destination << "failed:" << message;
    SendReport::result(m_events, j, false, message + QLatin1Char(' ') + j.pathForLine());
    const QString dest = j.destination;
    const int socketIndex = j.socketIndex;
    DelSlist(slot);
    if (socketIndex >= 0)
        CloseSendSocket(socketIndex);
    NxDtSendConReq(dest);
}

bool TransferSender::DelSlist(int slot)
{
    if (slot < 0 || slot >= kSendJobSlots || !m_jobs[size_t(slot)].inUse)
        return false;
    m_delBusy = true;
    SendJob &j = m_jobs[size_t(slot)];
    if (j.progressShown)
        SendReport::progress(m_events, slot, j, TransferProgress::State::Ended, j.bytesSent, j.size);
    // Temporary pictures and archives die with the last job of their item.
    releaseSharedFile(j.itemPath());
    m_packing.dropArchive(j);
    j = SendJob{};
    m_delBusy = false;
    emit jobsChanged();
    return true;
}

void TransferSender::CancelSendJob(int slot)
{
    if (slot < 0 || slot >= kSendJobSlots || !m_jobs[size_t(slot)].inUse)
        return;
    const SendJob j = m_jobs[size_t(slot)];
    SendReport::result(m_events, j, false, QStringLiteral("キャンセルしました。 ") + j.pathForLine());
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
        SendReport::result(m_events, j, false, peerQuitText() + QLatin1Char(' ') + j.pathForLine());
        DelSlist(i);
        if (j.socketIndex >= 0)
            CloseSendSocket(j.socketIndex);
    }
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
        m_links.sendDatagram(Protocol::kStop + AnsiCodec::fixedWidth(job.archiveName, Protocol::kStopNameChars),
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
    if (!m_delBusy && !anyJobInUse() && !m_packing.packsRunning()) {
        QDir dir(m_ctx.SendTempDir);
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
            dir.remove(name);
    }
}
