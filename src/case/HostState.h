#pragma once

#include <QString>

#include <optional>

// How one host of a collect run ended; pending until it has.
enum class HostState
{
    Pending,
    Collected,
    Unreachable,
    Refused,
    Timeout,
    HostKeyUnknown,
    HostKeyChanged,
    Auth,
    Sudo,
    ToolMissing,
    ToolTooOld,
    RemoteFailed,
    Corrupt,
    Interrupted,
};

// The state's name in the index and on the terminal: "collected", "host-key-unknown"...
QString stateName(HostState state);
std::optional<HostState> stateFromName(const QString& name);

// What a failed ssh connection means, from what ssh said on standard error (exit status 255).
HostState classifyConnectionFailure(const QString& sshErrors);

// The last thing ssh or the remote said that is no debugging line: the reason of a failure.
QString lastWords(const QString& errors);


// "ts6satchel 6.1.2" from a remote --version: the major and minor version, or none.
std::optional<std::pair<int, int>> toolVersion(const QString& versionLine);
