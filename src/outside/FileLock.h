#pragma once

#include "base/CHandle.h"

#include <QString>

#include <chrono>
#include <optional>

// An exclusive lock on an existing file or folder (no lock file is made), held while the object
// lives. Taking it waits for any other holder, in this process or another, to let go; a signal
// that asks the program to stop ends the wait with the run-time error of Interruption::check. A
// lock taken with patience gives up waiting after that long, and is then not held.
class FileLock
{
public:
    // Which kind of path names the file or folder.
    enum class PathKind
    {
        Windows,
        Host
    };

    // Takes the lock on the file or folder at the path; raises a run-time error when it cannot be
    // opened.
    explicit FileLock(const QString& path, PathKind kind = PathKind::Windows,
                      std::optional<std::chrono::milliseconds> patience = std::nullopt);
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return static_cast<bool>(m_fd); }

private:
    UniqueFd m_fd; // closing it lets go of the lock
};
