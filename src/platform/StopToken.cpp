#include "platform/StopToken.h"

#include "outside/Interruption.h"

StopToken::Wake::Wake(const StopToken& token, std::function<void()> wake) : m_token(token)
{
    const std::lock_guard lock(m_token.m_mutex);
    m_at = m_token.m_wakes.insert(m_token.m_wakes.end(), std::move(wake));
}

StopToken::Wake::~Wake()
{
    const std::lock_guard lock(m_token.m_mutex);
    m_token.m_wakes.erase(m_at);
}

void StopToken::request()
{
    m_requested = true;
    const std::lock_guard lock(m_mutex); // a wake ends only once its call is over
    for (const std::function<void()>& wake : m_wakes)
        wake();
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
