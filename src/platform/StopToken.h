#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <list>
#include <mutex>

// Asks a long job to stop: a Cancel button calls request(), and a signal (SIGINT, SIGTERM, SIGHUP)
// counts as a request too. A job reads stopRequested() between its steps; one that sleeps in a wait
// of its own (curl, an event loop) holds a Wake for as long as it waits, which request() calls from
// whatever thread it runs on. Several jobs may share one token, each with its own wake.
class StopToken
{
public:
    // A wake for as long as it lives: its end takes back only its own.
    class Wake
    {
    public:
        Wake(const StopToken& token, std::function<void()> wake);
        ~Wake();
        Wake(const Wake&) = delete;
        Wake& operator=(const Wake&) = delete;

    private:
        const StopToken& m_token;
        std::list<std::function<void()>>::iterator m_at;
    };

    void request();
    bool stopRequested() const;
    // "cancelled", or "interrupted by signal N"; empty while nothing asked the job to stop.
    QString reason() const;

private:
    std::atomic<bool> m_requested{false};
    mutable std::mutex m_mutex;
    mutable std::list<std::function<void()>> m_wakes;
};
