// The send-job table: what the send dialog and the automatic transfer hand over for one
// job, how far each job got, and what the parts of the sending side ask of the table's
// owner. The outcome and progress reports of a job are written once here.
#pragma once

#include "net/TransferProgress.h"

#include <QChar>
#include <QString>
#include <array>

class EngineEvents;

inline constexpr int kSendJobSlots = 706;

// What the send dialog and the automatic transfer hand over for one job. Outcome
// notices: 0 none, 1 success only, 2 success and failure, 3 failure only.
struct SendRequest
{
    QString destination;
    QString resultName;
    QChar kind = QLatin1Char('I');
    QString folder; // a job's folder ends with "/"
    QString itemName;
    QString archiveName;
    bool packWanted = true;
    QChar faceDown = QLatin1Char('N');
    QChar openReceipt = QLatin1Char('N');
    QChar passwordLock = QLatin1Char('N');
    int notice = 2;

    bool isFile() const { return kind == QLatin1Char('F'); }
    QString itemPath() const { return folder + itemName; }
};

// One slot of the send-job table: the request as queued, and how far it got.
struct SendJob : SendRequest
{
    bool inUse = false;
    int socketIndex = -1;
    // 0 queued, 1 connecting, 2 preparing, 3 body handed over, 4 all data sent, 5 reported again
    int state = 0;
    // Packing was refused because the archiver was busy; the job waits for it to be free.
    bool archiverBusy = false;
    int busyRetries = 0;
    // The archiver command packing this job's item, 0 when none runs.
    int archiverId = 0;
    qint64 size = 0;
    qint64 bytesSent = 0; // body bytes the socket has taken out of its buffer
    QString errorText;
    QChar reserved = QLatin1Char(' ');
    // Its progress was reported, so its end is reported too.
    bool progressShown = false;

    // The item's path in failure lines: files name it, pictures do not.
    QString pathForLine() const { return isFile() ? itemPath() : QString(); }
};

// The 706 slots, by slot number.
using SendJobTable = std::array<SendJob, kSendJobSlots>;

namespace SendReport {
// A line of the send-result list, when the job's notice asks for that outcome.
void result(EngineEvents &events, const SendJob &job, bool success, const QString &info);
// The job's progress; marks it as shown, so that its end is reported too.
void progress(EngineEvents &events, int slot, SendJob &job, TransferProgress::State state, qint64 done,
              qint64 total, qint64 speed = 0);
} // namespace SendReport

// What the parts of the sending side (the connections, the packs) ask of the job table.
class SendHost
{
  public:
    virtual ~SendHost() = default;
    // The job ends with `message` and the item's path as its failure line.
    virtual void failJob(int slot, const QString &message) = 0;
    // Frees the slot (DelSlist); false when it was not in use.
    virtual bool endJob(int slot) = 0;
    // Starts the next queued job for `ip` (NxDtSendConReq).
    virtual void startNext(const QString &ip) = 0;
    // The receiver answered the job on `socketIndex` with an error reply.
    virtual void replied(int socketIndex, int slot, const QString &message) = 0;
    // The job's archive is whole (or it goes unpacked): its header and body go out.
    virtual void packReady(int slot) = 0;
};
