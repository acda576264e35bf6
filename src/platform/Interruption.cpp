#include "outside/Interruption.h"

#include "base/RuntimeError.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// The state a signal handler may touch: the signal, and the counter that wakes an event loop (one
// descriptor, so that a process with few to spare keeps them for its files).
std::atomic<int> g_signal{0};
std::atomic<int> g_wake{-1};

extern "C" void noteSignal(int number)
{
    const int savedErrno = errno;
    g_signal.store(number);
    if (const int fd = g_wake.load(); fd >= 0) {
        const eventfd_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one); // full: awake already
    }
    errno = savedErrno;
}

void openWake()
{
    if (g_wake.load() >= 0)
        return;
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd >= 0) // else signals are still noted; only the wake-up is missing
        g_wake.store(fd);
}

} // namespace

namespace Interruption {

void install()
{
    openWake();
    struct sigaction action
    {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked read or wait returns, and the build notices
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    // Past the file-size limit (ulimit -f) a write then fails with EFBIG, which the build reports,
    // instead of the signal killing the program with its temporary file open. A reader of standard
    // error or output that goes away (| head -1) makes a write fail with EPIPE, which changes
    // nothing that is built, instead of ending the run.
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
}

int requested()
{
    return g_signal.load();
}

void check()
{
    if (const int number = g_signal.load())
        raiseError(ErrorNumber::Interrupted,
                   QStringLiteral("Interrupted by signal %1 (%2)")
                       .arg(number)
                       .arg(QString::fromLocal8Bit(strsignal(number))),
                   QStringLiteral("ts6satchel"));
}

int wakeFd()
{
    return g_wake.load();
}

void drainWake()
{
    const int fd = g_wake.load();
    eventfd_t count = 0;
    while (fd >= 0 && ::eventfd_read(fd, &count) == 0) { // non-blocking: ends with EAGAIN once empty
    }
}

Watch::Watch(std::function<void()> onSignal)
{
    if (wakeFd() < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(wakeFd(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [onSignal = std::move(onSignal)] {
                         drainWake();
                         onSignal();
                     });
}

Watch::~Watch() = default;

} // namespace Interruption
