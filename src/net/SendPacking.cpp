#include "net/SendPacking.h"

#include "base/ModZorvin.h"
#include "net/ArchiverQueue.h"
#include "net/TransferLinks.h"
#include "net/UnlhaLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString sharedKey(const QString &path)
{
    return QDir::cleanPath(path);
}

} // namespace

SendPacking::SendPacking(ModZorvin &ctx, EngineEvents &events, SendJobTable &jobs, SendHost &host,
                         ArchiverQueue *archiver, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_events(events), m_jobs(jobs), m_host(host), m_archiver(archiver)
{
    if (m_archiver)
        connect(m_archiver, &ArchiverQueue::finished, this, &SendPacking::onArchiverFinished);
    m_packPace.setInterval(int(ProgressPace::kProgressIntervalMs));
    connect(&m_packPace, &QTimer::timeout, this, &SendPacking::onPackPace);
}

QString SendPacking::archivePath(const SendJob &job) const
{
    return m_ctx.SendTempDir + job.archiveName;
}

bool SendPacking::archiveReady(const SendJob &job) const
{
    return !job.archiveName.isEmpty() && m_shared.value(sharedKey(archivePath(job))).pack == SharedFile::Pack::Ready &&
           QFileInfo::exists(archivePath(job));
}

bool SendPacking::isSharedFile(const QString &path) const
{
    return !path.isEmpty() && QDir::cleanPath(QFileInfo(path).path()) == QDir::cleanPath(m_ctx.SendTempDir);
}

void SendPacking::hold(const QString &path)
{
    if (isSharedFile(path))
        ++m_shared[sharedKey(path)].holders;
}

void SendPacking::release(const QString &path)
{
    const auto it = m_shared.find(sharedKey(path));
    if (it == m_shared.end() || --it->holders > 0)
        return;
    if (it->pack == SharedFile::Pack::Running) {
        // Nobody sends the archive any more: its pack stops, and its finished removes it.
        m_archiver->cancel(it->packId);
        return;
    }
    m_shared.erase(it);
    QFile::remove(path);
}

int SendPacking::holders(const QString &path) const
{
    return m_shared.value(sharedKey(path)).holders;
}

void SendPacking::dropArchive(SendJob &job)
{
    if (job.archiveName.isEmpty())
        return;
    release(archivePath(job));
    job.archiveName.clear();
}

// The first job of an item that gets here packs it; the others wait for that pack's
// finished, or go on at once once it has arrived. A retry that finds the archiver busy
// again counts towards the limit; the first refusal does not.
void SendPacking::packOrWait(int slot, bool retry)
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
    const ArchiverTicket ticket = m_archiver->startPackForSending(archive, j.itemPath());
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

void SendPacking::onPackPace()
{
    const ArchiverQueue *archiver = m_archiver;
    for (int slot = 0; slot < kSendJobSlots; ++slot) {
        SendJob &j = m_jobs[size_t(slot)];
        if (!j.inUse || j.archiverId == 0)
            continue;
        const qint64 total = QFileInfo(j.itemPath()).size();
        const qint64 read =
            archiver && archiver->runningId() == j.archiverId ? qint64(archiver->packInputRead()) : 0;
        SendReport::progress(m_events, slot, j, TransferProgress::State::Packing, qMin(read, total), total);
    }
}

void SendPacking::packingEnded(int slot, int result, bool counted)
{
    SendJob &j = m_jobs[size_t(slot)];
    if (result == 0) {
        m_host.packReady(slot);
    } else if (ArchiverWait::keepsWaiting(result, counted, j.busyRetries)) {
        // Tried again when the archiver reports its running command finished.
        j.archiverBusy = true;
    } else {
        m_host.failJob(slot, QStringLiteral("UNLHA32 ERR C=%1").arg(result));
    }
}

void SendPacking::onArchiverFinished(int id, int result)
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
    ArchiverWait::retryWaiting(m_jobs, *m_archiver, [this](int slot) { packOrWait(slot, true); });
}
