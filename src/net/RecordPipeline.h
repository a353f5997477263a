// Seals or opens the records of one direction on worker threads, several at once, and hands
// them back in the order they were given, on the thread that owns it: it says so with
// ready(), never by making that thread wait. Dropping it drops what has not started; a record
// under way finishes on its worker and is thrown away there.
#pragma once

#include "net/SealedStream.h"

#include <QByteArray>
#include <QObject>
#include <deque>
#include <memory>

class QSocketNotifier;
class WorkerThreads;

class RecordPipeline : public QObject
{
    Q_OBJECT
  public:
    enum class Work { Seal, Open };
    RecordPipeline(std::shared_ptr<WorkerThreads> workers, const SealedRecords::RecordKey &key, Work work,
                   QObject *parent = nullptr);
    ~RecordPipeline() override;

    // Record number `number`: for Seal a buffer from SealedRecords::layOut(), for Open the
    // record as it came, length word included.
    void submit(quint64 number, bool final, QByteArray record);
    // The oldest record once it is done, sealed or opened in place; false while it is not.
    // `ok` is false for a record that did not open.
    bool take(QByteArray &record, bool &ok);

    // Records given and not taken yet, and their bytes.
    int pending() const { return int(m_records.size()); }
    qint64 pendingBytes() const { return m_pendingBytes; }
    // How many records keep every worker busy with one waiting behind it.
    int depth() const;

  signals:
    // The oldest record is done.
    void ready();

  private:
    struct Record;
    struct Shared;
    void onWorkDone();

    std::shared_ptr<WorkerThreads> m_workers;
    std::shared_ptr<Shared> m_shared;
    QSocketNotifier *m_notifier = nullptr;
    std::deque<std::shared_ptr<Record>> m_records;
    qint64 m_pendingBytes = 0;
};
