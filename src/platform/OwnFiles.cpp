#include "platform/OwnFiles.h"

#include "base/SystemError.h"
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace OwnFiles {

namespace {

QString refused(const QString& path, const QString& reason)
{
    return QStringLiteral("%1 is not taken: %2").arg(path, reason);
}

} // namespace

QString whyUntrusted(const struct stat& status, bool folder)
{
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("it is a symbolic link");
    if (folder && !S_ISDIR(status.st_mode))
        return QStringLiteral("it is not a folder");
    if (!folder && !S_ISREG(status.st_mode))
        return QStringLiteral("it is not a regular file");
    if (status.st_uid != ::geteuid())
        return QStringLiteral("it belongs to another user");
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("others may write it");
    return {};
}

QString openFailure(const QString& shown, int error)
{
    return error == ELOOP ? refused(shown, QStringLiteral("it is a symbolic link"))
                          : QStringLiteral("%1: %2").arg(shown, errnoText(error));
}

bool isTrusted(int fd, bool folder, const QString& shown, QString* why)
{
    struct stat status
    {};
    if (::fstat(fd, &status) != 0) {
        if (why)
            *why = openFailure(shown, errno);
        return false;
    }
    if (const QString reason = whyUntrusted(status, folder); !reason.isEmpty()) {
        if (why)
            *why = refused(shown, reason);
        return false;
    }
    return true;
}

UniqueFd openOwnFileAt(int folder, const QByteArray& name, int flags, const QString& shown, QString* why,
                       mode_t mode)
{
    // O_NONBLOCK: a pipe planted where a file should be must not hold the open.
    UniqueFd fd(::openat(folder, name.constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode));
    if (!fd) {
        if (why)
            *why = openFailure(shown, errno);
        return {};
    }
    if (!isTrusted(fd.get(), false, shown, why))
        return {};
    const int statusFlags = ::fcntl(fd.get(), F_GETFL);
    if (statusFlags >= 0 && (flags & O_NONBLOCK) == 0)
        ::fcntl(fd.get(), F_SETFL, statusFlags & ~O_NONBLOCK);
    return fd;
}

UniqueFd openOwnFile(const QString& path, int flags, QString* why)
{
    return openOwnFileAt(AT_FDCWD, QFile::encodeName(path), flags, path, why);
}

std::optional<QByteArray> readOwnFileAt(int folder, const QByteArray& name, qint64 maxBytes,
                                        const QString& shown, QString* why)
{
    const UniqueFd fd = openOwnFileAt(folder, name, O_RDONLY, shown, why);
    if (!fd)
        return std::nullopt;
    QByteArray data;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            if (why)
                *why = openFailure(shown, errno);
            return std::nullopt;
        }
        if (got == 0)
            return data;
        if (data.size() + got > maxBytes) {
            if (why)
                *why = refused(shown, QStringLiteral("it is larger than %1 bytes").arg(maxBytes));
            return std::nullopt;
        }
        data.append(buffer, got);
    }
}

std::optional<QByteArray> readOwnFile(const QString& path, qint64 maxBytes, QString* why)
{
    return readOwnFileAt(AT_FDCWD, QFile::encodeName(path), maxBytes, path, why);
}

bool isOwnFolder(const QString& path, QString* why)
{
    struct stat status
    {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(path, errnoText(errno));
        return false;
    }
    if (const QString reason = whyUntrusted(status, true); !reason.isEmpty()) {
        if (why)
            *why = refused(path, reason);
        return false;
    }
    return true;
}

} // namespace OwnFiles
