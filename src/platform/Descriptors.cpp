#include "platform/Descriptors.h"

#include "base/Logging.h"

#include <QDir>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Whether the system resolves a whole path without links in one call (openat2, Linux 5.6); a
// kernel or a sandbox that refuses it is asked once.
std::atomic<bool> g_noOpenat2{false};

bool openat2Refused(int error)
{
    return error == ENOSYS || error == EPERM || error == E2BIG;
}

// A folder asked for where a link stands fails as "not a folder": it is told as the link it is.
UniqueFd linkTold(UniqueFd fd, int folder, const QByteArray& relative, int flags)
{
    const int error = errno;
    struct stat st
    {};
    if (!fd && error == ENOTDIR && (flags & O_DIRECTORY) &&
        ::fstatat(folder, relative.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        errno = ELOOP;
    else
        errno = error;
    return fd;
}

} // namespace

namespace Descriptors {

UniqueFd openBeneath(int folder, const QByteArray& relative, int flags)
{
    if (!g_noOpenat2.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<quint64>(flags | O_NOFOLLOW | O_CLOEXEC);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = ::syscall(SYS_openat2, folder, relative.constData(), &how, sizeof how);
        if (fd >= 0 || !openat2Refused(errno))
            return linkTold(UniqueFd(static_cast<int>(fd)), folder, relative, flags);
        g_noOpenat2.store(true, std::memory_order_relaxed);
        qCDebug(lcPlatform) << "openat2 refused:" << errno << "- folders are walked one name at a time";
    }
    return openBeneathByComponents(folder, relative, flags);
}

UniqueFd openBeneathByComponents(int folder, const QByteArray& relative, int flags)
{
    const QList<QByteArray> components = relative.split('/');
    UniqueFd at;
    for (qsizetype i = 0; i < components.size(); ++i) {
        const QByteArray& name = components.at(i);
        if (name == "..") { // never above the folder, as the walks never ask for it
            errno = EXDEV;
            return {};
        }
        const bool last = i + 1 == components.size();
        const int here = at ? at.get() : folder;
        const QByteArray step = name.isEmpty() ? QByteArray(".") : name;
        // A folder on the way is opened as a place only, and looked at: a link there ends the walk.
        UniqueFd next(::openat(here, step.constData(), (last ? flags : O_PATH) | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return linkTold(std::move(next), here, step, last ? flags : O_DIRECTORY);
        struct stat st
        {};
        if (!last && (::fstat(next.get(), &st) != 0 || !S_ISDIR(st.st_mode))) {
            errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
            return {};
        }
        at = std::move(next);
    }
    return at;
}

void raiseLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int spare()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1 << 20;
    // The listing itself takes one descriptor, counted among the entries.
    const qsizetype open = QDir(QStringLiteral("/proc/self/fd"))
                               .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                               .size();
    const auto spare = static_cast<qint64>(limit.rlim_cur) - (open > 0 ? open - 1 : 64);
    return static_cast<int>(std::clamp<qint64>(spare, 0, 1 << 20));
}

} // namespace Descriptors
