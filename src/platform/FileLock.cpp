#include "outside/FileLock.h"

#include "diag/RuntimeError.h"
#include "outside/HostFunctions.h"
#include "platform/HostName.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

FileLock::FileLock(const QString& path)
{
    const std::optional<QString> host = Host::HostPathForWriting(path);
    if (!host)
        Raise(ErrorNumber::PathNotFound, QStringLiteral("Path not found: ") + path,
              QStringLiteral("FileLock"));
    m_fd = ::open(HostName::Encode(*host).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0)
        Raise(ErrorNumber::PermissionDenied,
              QStringLiteral("Cannot open ") + path + QStringLiteral(": ") +
                  QString::fromLocal8Bit(std::strerror(errno)),
              QStringLiteral("FileLock"));
    while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing lets go of the lock
}
