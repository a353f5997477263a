#include "net/WorkerThreads.h"

WorkerThreads::WorkerThreads(int count)
    : m_count(count > 0 ? count : int(std::max(1u, std::thread::hardware_concurrency())))
{
}

WorkerThreads::~WorkerThreads()
{
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void WorkerThreads::start(std::function<void()> job)
{
    {
        std::lock_guard guard(m_lock);
        m_jobs.push_back(std::move(job));
        // A thread more only while none waits and the set is not full.
        if (m_idle == 0 && int(m_threads.size()) < m_count)
            m_threads.emplace_back(&WorkerThreads::run, this);
    }
    m_wake.notify_one();
}

void WorkerThreads::run()
{
    std::unique_lock guard(m_lock);
    for (;;) {
        ++m_idle;
        m_wake.wait(guard, [this] { return m_stopping || !m_jobs.empty(); });
        --m_idle;
        if (m_stopping)
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        guard.unlock();
        job();
        guard.lock();
    }
}
