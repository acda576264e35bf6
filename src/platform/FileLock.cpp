#include "outside/FileLock.h"

#include "base/RuntimeError.h"
#include "outside/HostFunctions.h"
#include "outside/Interruption.h"
#include "platform/HostName.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString kSource = QStringLiteral("FileLock");

// How often a waiting lock looks again; a signal ends the pause at once.
constexpr long kPauseNanoseconds = 50'000'000;

} // namespace

FileLock::FileLock(const QString& path, PathKind kind, std::optional<std::chrono::milliseconds> patience)
{
    const std::optional<QString> host =
        kind == PathKind::Host ? std::optional<QString>(path) : Host::hostPathForReading(path);
    if (!host)
        raiseError(ErrorNumber::PathNotFound, QStringLiteral("Path not found: ") + path, kSource);
    m_fd.reset(::open(HostName::encode(*host).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!m_fd)
        raiseError(ErrorNumber::PermissionDenied,
                   QStringLiteral("Cannot open ") + path + QStringLiteral(": ") +
                       QString::fromLocal8Bit(std::strerror(errno)),
                   kSource);
    // Polled rather than blocking: a signal that came just before a blocking call would be seen
    // only once the holder lets go.
    const auto started = std::chrono::steady_clock::now();
    while (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR)
            raiseError(ErrorNumber::PermissionDenied,
                       QStringLiteral("Cannot lock ") + path + QStringLiteral(": ") +
                           QString::fromLocal8Bit(std::strerror(error)),
                       kSource);
        Interruption::check();
        if (patience && std::chrono::steady_clock::now() - started >= *patience) {
            m_fd.reset();
            return;
        }
        const timespec pause{0, kPauseNanoseconds};
        ::nanosleep(&pause, nullptr);
    }
}
