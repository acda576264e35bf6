#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

// Asks a long job to stop: a Cancel button calls request(), and a signal (SIGINT, SIGTERM, SIGHUP)
// counts as a request too. A job reads stopRequested() between its steps; one that sleeps in a wait
// of its own (curl, a poll) gives a wake that request() calls, from whatever thread it runs on.
class StopToken
{
public:
    void request();
    bool stopRequested() const;
    // "cancelled", or "interrupted by signal N"; empty while nothing asked the job to stop.
    QString reason() const;
    // Called by request(), once for each request, while the job waits.
    void setWake(std::function<void()> wake);

private:
    std::atomic<bool> m_requested{false};
    mutable std::mutex m_mutex;
    std::function<void()> m_wake;
};
