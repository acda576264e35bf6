#include "platform/StopToken.h"

#include "outside/Interruption.h"

void StopToken::request()
{
    m_requested = true;
    const std::lock_guard lock(m_mutex);
    if (m_wake)
        m_wake();
}

bool StopToken::stopRequested() const
{
    return m_requested || Interruption::requested() != 0;
}

QString StopToken::reason() const
{
    if (const int signal = Interruption::requested(); signal != 0)
        return QStringLiteral("interrupted by signal %1").arg(signal);
    return m_requested ? QStringLiteral("cancelled") : QString();
}

void StopToken::setWake(std::function<void()> wake)
{
    const std::lock_guard lock(m_mutex);
    m_wake = std::move(wake);
}
