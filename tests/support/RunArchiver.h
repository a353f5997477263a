// Runs an engine's archiver command to its end from a test, the event loop running
// meanwhile (the command itself runs on the archiver's worker thread).
#pragma once

#include "net/ArchiverQueue.h"
#include "net/NetEngine.h"

#include <QDeadlineTimer>
#include <QSignalSpy>

// The result that finished gives for `ticket`, or the refusal itself when the command did
// not start; -1 when its finished did not come in time.
inline int waitForArchiver(ArchiverQueue &archiver, const ArchiverTicket &ticket, int timeoutMs = 120000)
{
    if (!ticket.started())
        return ticket.result;
    QSignalSpy finished(&archiver, &ArchiverQueue::finished);
    const QDeadlineTimer deadline(timeoutMs);
    do {
        for (const QList<QVariant> &arguments : std::as_const(finished))
            if (arguments.at(0).toInt() == ticket.id)
                return arguments.at(1).toInt();
    } while (!deadline.hasExpired() && finished.wait(int(qMax<qint64>(1, deadline.remainingTime()))));
    return -1;
}

inline int runArchiver(NetEngine &engine, const QString &archivePath, const QString &secondPath, bool pack)
{
    return waitForArchiver(engine.archiver(), engine.RunArchiver(archivePath, secondPath, pack));
}
