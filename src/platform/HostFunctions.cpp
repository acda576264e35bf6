#include "outside/HostFunctions.h"

#include "platform/DirectoryCache.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"
#include "platform/PeVersion.h"
#include "platform/Wildcard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool endsWithSeparator(const QString& path)
{
    return path.endsWith(QLatin1Char('\\')) || path.endsWith(QLatin1Char('/'));
}

// Splits "folder\pattern" at its last separator.
std::pair<QString, QString> splitLast(const QString& path)
{
    const qsizetype at = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    if (at < 0) {
        if (path.size() >= 2 && path.at(1) == QLatin1Char(':'))
            return {path.left(2), path.mid(2)};
        return {QString(), path};
    }
    return {path.left(at + 1), path.mid(at + 1)};
}

bool passes(const DirectoryEntry& entry, Host::ListFilter filter)
{
    switch (filter) {
    case Host::ListFilter::Everything:
        return true;
    case Host::ListFilter::FoldersAndFiles:
        return !entry.hidden();
    case Host::ListFilter::FilesOnly:
        return !entry.hidden() && !entry.isDirectory;
    }
    return false;
}

// Owned by this user and not writable by anyone else.
bool ownedAndPrivate(const struct stat& st)
{
    return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString windowsFolderOf(const QString& hostFolder)
{
    QString folder = HostPath::toWindows(hostFolder);
    while (folder.size() > 3 && folder.endsWith(QLatin1Char('\\')))
        folder.chop(1);
    if (folder.size() == 3 && folder.endsWith(QLatin1String(":\\")))
        folder.chop(1);
    return folder;
}

} // namespace

namespace Host {

ListingScope::ListingScope()
{
    DirectoryCache::beginSnapshot();
}

ListingScope::~ListingScope()
{
    DirectoryCache::endSnapshot();
}

bool pathExists(const QString& path)
{
    return HostPath::resolve(path).has_value();
}

std::optional<Attributes> getAttributes(const QString& path)
{
    const std::optional<HostLocation> location = HostPath::resolve(path);
    if (!location)
        return std::nullopt;
    const bool hidden =
        !location->components.isEmpty() && location->components.last().startsWith(QLatin1Char('.'));
    const QString host = location->hostPath();
    return Attributes{HostName::isDirectory(host), hidden, HostName::isRegularFile(host)};
}

QStringList findNames(const QString& folderAndPattern, ListFilter filter)
{
    if (folderAndPattern.isEmpty())
        return {};
    const auto [folder, pattern] = splitLast(folderAndPattern);
    const std::optional<HostLocation> location =
        HostPath::resolve(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (!location)
        return {};
    const std::shared_ptr<const DirectoryListing> listing = DirectoryCache::list(location->hostPath());
    if (!listing)
        return {};
    if (pattern.isEmpty())
        return {QStringLiteral(".")};
    const QString folded = foldName(pattern);
    QStringList names;
    for (const DirectoryEntry& entry : listing->entries)
        if (passes(entry, filter) && matchesFoldedWildcard(folded, entry.folded))
            names.append(entry.name);
    return names;
}

QString commonAppDataFolder()
{
    const QString configured = qEnvironmentVariable("TS6_PROGRAMDATA");
    return windowsFolderOf(configured.isEmpty() ? QStringLiteral("/var/lib") : configured);
}

QString tempFolder(QString* why)
{
    const QString problem = QStringLiteral("Cannot use the temporary folder ");
    const QString configured = HostName::decode(qgetenv("TMPDIR").constData());
    const QString base = configured.isEmpty() ? QStringLiteral("/tmp")
                                              : QDir::cleanPath(QDir::current().absoluteFilePath(configured));
    struct stat st
    {};
    if (::stat(HostName::encode(base).constData(), &st) == 0 && S_ISDIR(st.st_mode) && ownedAndPrivate(st))
        return windowsFolderOf(base);
    // Shared like /tmp: a folder of this user's own inside it, never one that someone else made.
    const QString own = base + QStringLiteral("/ts6satchel-") + QString::number(::geteuid());
    const QByteArray ownBytes = HostName::encode(own);
    const auto fail = [&](const QString& reason) {
        if (why)
            *why = problem + HostPath::toWindows(own) + QStringLiteral(": ") + reason;
        return QString();
    };
    if (::mkdir(ownBytes.constData(), 0700) != 0 && errno != EEXIST)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (::lstat(ownBytes.constData(), &st) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(st.st_mode))
        return fail(QStringLiteral("something other than a folder (a link?) stands at its name"));
    if (st.st_uid != ::geteuid())
        return fail(QStringLiteral("it belongs to another user"));
    if ((st.st_mode & 077) != 0 && ::chmod(ownBytes.constData(), 0700) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    return windowsFolderOf(own);
}

QString fileVersion(const QString& path)
{
    const std::optional<HostLocation> location = HostPath::resolve(path);
    if (!location)
        return {};
    QString error;
    UniqueFd fd = HostName::openRegularFile(location->hostPath(), error);
    QFile file;
    if (!fd || !file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return {};
    fd.release(); // the file closes it now
    const qint64 size = file.size();
    const uchar* mapped = size > 0 ? file.map(0, size) : nullptr;
    if (mapped)
        return readPeFileVersion(QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), size));
    return readPeFileVersion(file.readAll());
}

std::optional<QString> hostPathForReading(const QString& path, QString* whyNot)
{
    HostPath::Miss miss = HostPath::Miss::None;
    const std::optional<HostLocation> location = HostPath::resolve(path, &miss);
    if (whyNot)
        *whyNot = HostPath::missReason(miss);
    return location ? std::optional<QString>(location->hostPath()) : std::nullopt;
}

std::optional<QString> hostPathForWriting(const QString& path, QString* whyNot)
{
    HostPath::Miss miss = HostPath::Miss::BadName;
    const std::optional<QString> host =
        endsWithSeparator(path) ? std::nullopt : HostPath::forWriting(path, &miss);
    if (whyNot)
        *whyNot = HostPath::missReason(host ? HostPath::Miss::None : miss);
    return host;
}

} // namespace Host
