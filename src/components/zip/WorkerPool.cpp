#include "components/zip/WorkerPool.h"

#include <algorithm>

WorkerPool::WorkerPool(int workers)
{
    const int count = std::max(1, workers);
    m_threads.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        m_threads.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

int WorkerPool::DefaultSize()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

void WorkerPool::Submit(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void WorkerPool::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}
