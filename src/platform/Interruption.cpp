#include "outside/Interruption.h"

#include "base/RuntimeError.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The state a signal handler may touch: the signal, and the pipe that wakes an event loop.
std::atomic<int> g_signal{0};
std::atomic<int> g_wakeWrite{-1};
int g_wakeRead = -1;

extern "C" void noteSignal(int number)
{
    const int savedErrno = errno;
    g_signal.store(number);
    if (const int fd = g_wakeWrite.load(); fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1); // a full pipe is awake already
    }
    errno = savedErrno;
}

void openWakePipe()
{
    if (g_wakeRead >= 0)
        return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // signals are still noted; only the wake-up is missing
    g_wakeRead = fds[0];
    g_wakeWrite.store(fds[1]);
}

} // namespace

namespace Interruption {

void Install()
{
    openWakePipe();
    struct sigaction action
    {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked read or wait returns, and the build notices
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    // Past the file-size limit (ulimit -f) a write then fails with EFBIG, which the build reports,
    // instead of the signal killing the program with its temporary file open.
    ::signal(SIGXFSZ, SIG_IGN);
}

int Requested()
{
    return g_signal.load();
}

void Check()
{
    if (const int number = g_signal.load())
        Raise(ErrorNumber::Interrupted,
              QStringLiteral("Interrupted by signal %1 (%2)")
                  .arg(number)
                  .arg(QString::fromLocal8Bit(strsignal(number))),
              QStringLiteral("ts6satchel"));
}

int WakeFd()
{
    return g_wakeRead;
}

} // namespace Interruption
