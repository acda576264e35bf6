#pragma once

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstring>
#include <unistd.h>

// The system's own text for an error number, in the user's language.
inline QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes all the bytes, again after a signal: 0, or the error number of the failure (ENOSPC when
// the system writes nothing and gives no reason).
inline int writeAll(int fd, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        done += n;
    }
    return 0;
}
