#pragma once

// Signals that ask the program to stop (interrupt, terminate, hang-up). A build that sees one ends
// through its error path: END, then ERROR, and no package. Nothing is done inside the signal
// handler but noting the signal and waking whoever waits on wakeFd.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace Interruption {

// Notes SIGINT, SIGTERM and SIGHUP from now on instead of ending the process at once. System calls
// are not restarted after them, so a wait in the kernel ends when one arrives. SIGPIPE and SIGXFSZ
// are ignored: the writes they would stop fail with their reason instead.
void install();
// The signal noted so far, or 0.
int requested();
// Raises the run-time error "Interrupted by signal N" when a signal was noted.
void check();
// A descriptor that becomes readable when a signal is noted (for an event loop to watch); -1
// before Install. Its bytes carry no meaning and may be read away.
int wakeFd();
// Reads away what woke wakeFd, so that a watch on it wakes again only at the next signal.
void drainWake();

// Calls onSignal from the event loop of the thread that made it when a signal is noted, wakeFd
// drained first, so that the loop does not spin. A signal noted since install() and before the
// watch began calls it as soon as the loop runs. Watches nothing before install().
class Watch
{
public:
    explicit Watch(std::function<void()> onSignal);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace Interruption
