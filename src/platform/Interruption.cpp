#include "outside/Interruption.h"

#include "diag/RuntimeError.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace {

// The one piece of state a signal handler may touch.
std::atomic<int> g_signal{0};

extern "C" void noteSignal(int number)
{
    g_signal.store(number);
}

} // namespace

namespace Interruption {

void Install()
{
    struct sigaction action
    {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked read or wait returns, and the build notices
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
}

void Uninstall()
{
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        std::signal(number, SIG_DFL);
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

void Reset()
{
    g_signal.store(0);
}

} // namespace Interruption
