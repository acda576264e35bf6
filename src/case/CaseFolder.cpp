#include "case/CaseFolder.h"

#include "base/SystemError.h"
#include "platform/FileReplacement.h"
#include "platform/OwnFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;

// The path without "." or ".." or a slash at its end: a slash there would follow a link at the end.
QString plainPath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

UniqueFd openOwnFolderAt(int folder, const QByteArray& name, const QString& shown, QString* why)
{
    UniqueFd fd(::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        struct stat status
        {};
        // A link asked for as a folder fails as "not a folder": it is told as the link it is.
        const bool link =
            ::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
        *why = OwnFiles::openFailure(shown, link ? ELOOP : error);
        return {};
    }
    if (!OwnFiles::isTrusted(fd.get(), true, shown, why))
        return {};
    return fd;
}

UniqueFd enterOwnFolderAt(int folder, const QByteArray& name, mode_t mode, const QString& shown, QString* why)
{
    if (::mkdirat(folder, name.constData(), mode) != 0 && errno != EEXIST) {
        *why = QStringLiteral("cannot make the folder %1: %2").arg(shown, errnoText(errno));
        return {};
    }
    return openOwnFolderAt(folder, name, shown, why);
}

std::optional<CaseFolder> CaseFolder::create(const QString& path, QString* why)
{
    const QString plain = plainPath(path);
    const QByteArray name = QFile::encodeName(plain);
    if (!QDir().mkpath(QFileInfo(plain).path())) {
        *why = QStringLiteral("cannot make the folder %1").arg(QFileInfo(plain).path());
        return std::nullopt;
    }
    if (::mkdir(name.constData(), kPrivateFolder) != 0 && errno != EEXIST) {
        *why = QStringLiteral("cannot make the case folder %1: %2").arg(path, errnoText(errno));
        return std::nullopt;
    }
    return open(path, why);
}

std::optional<CaseFolder> CaseFolder::open(const QString& path, QString* why)
{
    const QString plain = plainPath(path);
    UniqueFd fd(openOwnFolderAt(AT_FDCWD, QFile::encodeName(plain), path, why));
    if (!fd)
        return std::nullopt;
    return CaseFolder(plain, std::move(fd));
}

bool CaseFolder::holds(const QString& name) const
{
    struct stat status
    {};
    return ::fstatat(fd(), QFile::encodeName(name).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<QByteArray> CaseFolder::readFile(const QString& name, qint64 maxBytes, QString* why) const
{
    const QString shown = m_path + QLatin1Char('/') + name;
    return OwnFiles::readOwnFileAt(fd(), QFile::encodeName(name), maxBytes, shown, why);
}

bool CaseFolder::writeFile(const QString& name, const QByteArray& bytes, QString* why) const
{
    if (const int error = replaceFileAt(fd(), QFile::encodeName(name), bytes, kPrivateFile, kPrivateFile);
        error != 0) {
        *why = QStringLiteral("cannot write %1/%2: %3").arg(m_path, name, errnoText(error));
        return false;
    }
    return true;
}

UniqueFd CaseFolder::enterFolder(const QString& relative, QString* why) const
{
    UniqueFd at;
    QString shown = m_path;
    for (const QString& level : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        shown += QLatin1Char('/') + level;
        at = enterOwnFolderAt(at ? at.get() : fd(), QFile::encodeName(level), kPrivateFolder, shown, why);
        if (!at)
            return {};
    }
    return at;
}
