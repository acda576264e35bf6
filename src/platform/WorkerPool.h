#pragma once

#include <functional>
#include <memory>
#include <thread>
#include <vector>

// A fixed set of worker threads taking jobs in the order they were handed in.
//
// The workers never take the stop signals (SIGINT, SIGTERM, SIGHUP): those go to the thread that
// can act on them. A pool that is dropped forgets the jobs not yet started and waits a short while
// for the running ones; a job still running then (reading a file on a stalled network share, say)
// is left to end on its own. Jobs therefore hold everything they touch themselves.
class WorkerPool
{
public:
    // Starts up to `workers` threads (at least one); throws std::system_error when none can start.
    explicit WorkerPool(int workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> job);

    // One worker per core.
    static int defaultSize();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::vector<std::thread> m_threads;
};
