#include "net/SendJob.h"

#include "net/EngineEvents.h"

void SendReport::result(EngineEvents &events, const SendJob &job, bool success, const QString &info)
{
    if (success && (job.notice == 1 || job.notice == 2))
        emit events.sendResultAdded(job.resultName, QString(job.kind), 0, info);
    else if (!success && (job.notice == 2 || job.notice == 3))
        emit events.sendResultAdded(job.resultName, QString(job.kind), 1, info);
}

void SendReport::progress(EngineEvents &events, int slot, SendJob &job, TransferProgress::State state, qint64 done,
                          qint64 total, qint64 speed)
{
    job.progressShown = true;
    TransferProgress p;
    p.sending = true;
    p.id = slot;
    p.state = state;
    p.name = job.resultName;
    p.kind = QString(job.kind);
    p.item = job.itemName;
    p.done = done;
    p.total = total;
    p.bytesPerSecond = speed;
    p.notice = job.notice;
    emit events.transferProgress(p);
}
