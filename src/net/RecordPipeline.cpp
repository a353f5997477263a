#include "net/RecordPipeline.h"

#include "net/WorkerThreads.h"

#include <QSocketNotifier>
#include <atomic>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

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
    Shared(const SealedRecords::RecordKey &k, Work w)
        : key(k), work(w), wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
    }
    ~Shared()
    {
        if (wake >= 0)
            ::close(wake);
    }
    Shared(const Shared &) = delete;
    Shared &operator=(const Shared &) = delete;

    void doWork(Record &r) const
    {
        bool ok = true;
        if (work == Work::Seal)
            key.seal(r.number, r.final, r.bytes);
        else
            ok = key.open(r.number, r.bytes);
        r.state.store(ok ? Record::Done : Record::Failed, std::memory_order_release);
    }

    const SealedRecords::RecordKey key;
    const Work work;
    // Workers wake the owner's thread through it: they touch nothing of Qt's, and the
    // descriptor lives as long as any of them may write to it.
    const int wake;
    std::mutex lock;
    // False once the pipeline is gone: work not started yet is skipped.
    bool wanted = true;
};

RecordPipeline::RecordPipeline(std::shared_ptr<WorkerThreads> workers, const SealedRecords::RecordKey &key,
                               Work work, QObject *parent)
    : QObject(parent), m_workers(std::move(workers)), m_shared(std::make_shared<Shared>(key, work))
{
    if (m_shared->wake >= 0) {
        m_notifier = new QSocketNotifier(m_shared->wake, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &RecordPipeline::onWorkDone);
    }
}

RecordPipeline::~RecordPipeline()
{
    std::lock_guard guard(m_shared->lock);
    m_shared->wanted = false;
}

int RecordPipeline::depth() const
{
    return 2 * m_workers->count();
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
    if (m_shared->wake < 0) {
        // Out of descriptors: the record is done here, and said so from the event loop as
        // the workers would.
        m_shared->doWork(*r);
        QMetaObject::invokeMethod(this, &RecordPipeline::onWorkDone, Qt::QueuedConnection);
        return;
    }
    m_workers->start([shared = m_shared, r] {
        {
            std::lock_guard guard(shared->lock);
            if (!shared->wanted)
                return;
        }
        shared->doWork(*r);
        const eventfd_t one = 1;
        // Fails only when the counter is full, and then a wake-up is waiting anyway.
        (void)::write(shared->wake, &one, sizeof one);
    });
}

void RecordPipeline::onWorkDone()
{
    eventfd_t count = 0;
    if (m_shared->wake >= 0)
        (void)::read(m_shared->wake, &count, sizeof count);
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
