#pragma once

#include <QString>

#include <memory>

// An exclusive lock on a lock file, held while the object lives; taking it waits for any other
// holder, in this process or another, to let go.
class FileLock
{
public:
    // Takes the lock on the file at a Windows-style path (made when missing); raises a run-time
    // error when the file cannot be opened.
    explicit FileLock(const QString& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd = -1;
};
