#include "case/HostState.h"

#include <QRegularExpression>
#include <QStringList>

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<HostState, const char*>, 14> kNames{{
    {HostState::Pending, "pending"},
    {HostState::Collected, "collected"},
    {HostState::Unreachable, "unreachable"},
    {HostState::Refused, "refused"},
    {HostState::Timeout, "timeout"},
    {HostState::HostKeyUnknown, "host-key-unknown"},
    {HostState::HostKeyChanged, "host-key-changed"},
    {HostState::Auth, "auth"},
    {HostState::Sudo, "sudo"},
    {HostState::ToolMissing, "tool-missing"},
    {HostState::ToolTooOld, "tool-too-old"},
    {HostState::RemoteFailed, "remote-failed"},
    {HostState::Corrupt, "corrupt"},
    {HostState::Interrupted, "interrupted"},
}};

// What ssh says for each kind of failed connection, looked for in this order: a changed key is
// also a failed verification, a timed-out banner also a timeout.
constexpr std::array<std::pair<const char*, HostState>, 13> kConnectionSigns{{
    {"REMOTE HOST IDENTIFICATION HAS CHANGED", HostState::HostKeyChanged},
    {"has changed and you have requested strict checking", HostState::HostKeyChanged},
    {"host key is known for", HostState::HostKeyUnknown},
    {"Host key verification failed", HostState::HostKeyUnknown},
    {"Permission denied (", HostState::Auth},
    {"Too many authentication failures", HostState::Auth},
    {"during banner exchange", HostState::Timeout},
    {"Connection refused", HostState::Refused},
    {"Connection closed by", HostState::Refused},
    {"Connection reset by", HostState::Refused},
    {"Could not resolve hostname", HostState::Unreachable},
    {"No route to host", HostState::Unreachable},
    {"timed out", HostState::Unreachable},
}};

} // namespace

QString stateName(HostState state)
{
    for (const auto& [s, name] : kNames)
        if (s == state)
            return QString::fromLatin1(name);
    return QStringLiteral("pending");
}

std::optional<HostState> stateFromName(const QString& name)
{
    for (const auto& [s, n] : kNames)
        if (name == QLatin1String(n))
            return s;
    return std::nullopt;
}

HostState classifyConnectionFailure(const QString& sshErrors)
{
    for (const auto& [sign, state] : kConnectionSigns)
        if (sshErrors.contains(QLatin1String(sign)))
            return state;
    return HostState::Unreachable;
}

QString lastWords(const QString& errors)
{
    const QStringList lines = errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString text = line->trimmed();
        if (!text.isEmpty() && !text.startsWith(QLatin1String("debug")) &&
            !text.startsWith(QLatin1String("Exit request sent")) && !text.startsWith(QLatin1Char('@')))
            return text;
    }
    return QString();
}


std::optional<std::pair<int, int>> toolVersion(const QString& versionLine)
{
    static const QRegularExpression form(
        QStringLiteral("^ts6satchel (\\d{1,4})\\.(\\d{1,4})(?:\\.\\d+)*\\s*$"));
    const QRegularExpressionMatch match = form.match(versionLine.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    return std::pair{match.captured(1).toInt(), match.captured(2).toInt()};
}
