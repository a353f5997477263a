#include "net/RecordPipeline.h"

#include <QThreadPool>
#include <atomic>
#include <mutex>

struct RecordPipeline::Record
{
    // The worker's alone until `state` leaves Waiting.
    QByteArray bytes;
    quint64 number = 0;
    bool final = false;
    enum State : int { Waiting, Done, Failed };
    std::atomic<int> state{Waiting};
};

// What the workers share with the pipeline; it outlives the pipeline while work runs.
struct RecordPipeline::Shared
{
    Shared(const SealedRecords::RecordKey &k, Work w) : key(k), work(w) {}
    const SealedRecords::RecordKey key;
    const Work work;
    std::mutex lock;
    // Null once the pipeline is gone: work not started yet is skipped.
    RecordPipeline *owner = nullptr;
    // A wake-up is on its way to the owner's thread; one is enough for any number of records.
    bool posted = false;
};

RecordPipeline::RecordPipeline(std::shared_ptr<QThreadPool> workers, const SealedRecords::RecordKey &key, Work work,
                               QObject *parent)
    : QObject(parent), m_workers(std::move(workers)), m_shared(std::make_shared<Shared>(key, work))
{
    m_shared->owner = this;
}

RecordPipeline::~RecordPipeline()
{
    // A wake-up posted before this is removed with the object; none is posted after it.
    std::lock_guard guard(m_shared->lock);
    m_shared->owner = nullptr;
}

int RecordPipeline::depth() const
{
    return 2 * qMax(1, m_workers->maxThreadCount());
}

void RecordPipeline::submit(quint64 number, bool final, QByteArray record)
{
    auto r = std::make_shared<Record>();
    r->bytes = std::move(record);
    // Detached here, so that the worker writes into a buffer nobody else shares.
    r->bytes.data();
    r->number = number;
    r->final = final;
    m_pendingBytes += r->bytes.size();
    m_records.push_back(r);
    // Held while the work is handed over, and taken first by the worker: what is set up here
    // is seen there through a lock of our own, also by race checkers that do not see into
    // the pool's.
    std::lock_guard handover(m_shared->lock);
    m_workers->start([shared = m_shared, r] {
        {
            std::lock_guard guard(shared->lock);
            if (!shared->owner)
                return;
        }
        bool ok = true;
        if (shared->work == Work::Seal)
            shared->key.seal(r->number, r->final, r->bytes);
        else
            ok = shared->key.open(r->number, r->bytes);
        r->state.store(ok ? Record::Done : Record::Failed, std::memory_order_release);
        std::lock_guard guard(shared->lock);
        if (shared->owner && !shared->posted) {
            shared->posted = true;
            QMetaObject::invokeMethod(shared->owner, &RecordPipeline::onWorkDone, Qt::QueuedConnection);
        }
    });
}

void RecordPipeline::onWorkDone()
{
    {
        std::lock_guard guard(m_shared->lock);
        m_shared->posted = false;
    }
    if (!m_records.empty() && m_records.front()->state.load(std::memory_order_acquire) != Record::Waiting)
        emit ready();
}

bool RecordPipeline::take(QByteArray &record, bool &ok)
{
    if (m_records.empty())
        return false;
    const int state = m_records.front()->state.load(std::memory_order_acquire);
    if (state == Record::Waiting)
        return false;
    record = std::move(m_records.front()->bytes);
    ok = state == Record::Done;
    m_pendingBytes -= record.size();
    m_records.pop_front();
    return true;
}
