#include "platform/WorkerPool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <system_error>

namespace {

// How long a dropped pool waits for its running jobs before it lets them go.
constexpr std::chrono::milliseconds kGrace(300);

// Blocks the stop signals in this thread for the life of the guard; threads started meanwhile
// inherit the mask and keep it.
class StopSignalsBlocked
{
public:
    StopSignalsBlocked()
    {
        sigset_t stop;
        sigemptyset(&stop);
        for (const int number : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&stop, number);
        pthread_sigmask(SIG_BLOCK, &stop, &m_old);
    }
    ~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
    StopSignalsBlocked(const StopSignalsBlocked&) = delete;
    StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

private:
    sigset_t m_old;
};

} // namespace

struct WorkerPool::Shared
{
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<std::function<void()>> jobs;
    int running = 0;
    bool stopping = false;

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (stopping)
                return;
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            ++running;
            lock.unlock();
            job(); // jobs carry their own failures (std::packaged_task): nothing escapes here
            job = nullptr;
            lock.lock();
            if (--running == 0)
                idle.notify_all();
        }
    }
};

WorkerPool::WorkerPool(int workers) : m_shared(std::make_shared<Shared>())
{
    const StopSignalsBlocked blocked;
    const int count = std::max(1, workers);
    m_threads.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        try {
            m_threads.emplace_back([shared = m_shared] { shared->run(); });
        } catch (const std::system_error&) {
            if (m_threads.empty())
                throw;
            break; // fewer workers: slower, the same archive
        }
    }
}

WorkerPool::~WorkerPool()
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->jobs.clear();
    m_shared->wake.notify_all();
    const bool settled = m_shared->idle.wait_for(lock, kGrace, [this] { return m_shared->running == 0; });
    lock.unlock();
    for (std::thread& t : m_threads) {
        if (settled)
            t.join();
        else
            t.detach();
    }
}

void WorkerPool::submit(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->jobs.push_back(std::move(job));
    }
    m_shared->wake.notify_one();
}

int WorkerPool::defaultSize()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}
