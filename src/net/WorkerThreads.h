// A few threads that run the jobs handed to them, oldest first. Every hand-over goes
// through standard locks, so race checkers follow it (they cannot see into Qt's pool).
// Dropping it drops the jobs not started and waits for the few under way.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerThreads
{
  public:
    // `count` threads at most, made when work first comes; 0 for one per core.
    explicit WorkerThreads(int count = 0);
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads &) = delete;
    WorkerThreads &operator=(const WorkerThreads &) = delete;

    void start(std::function<void()> job);
    int count() const { return m_count; }

  private:
    void run();

    const int m_count;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    int m_idle = 0;
    bool m_stopping = false;
};
