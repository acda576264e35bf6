#include "components/zip/SourceCollector.h"

#include "base/RuntimeError.h"
#include "base/SystemError.h"
#include "platform/Descriptors.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"
#include "platform/Wildcard.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTickEvery = 512;

QByteArray joinHost(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray joinRelative(const QByteArray& folder, const QByteArray& name)
{
    return folder == "." ? name : folder + '/' + name;
}

bool hasWildcard(const QString& name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

// A path the host cannot open however it is spelled: too long in all, or in one name.
bool tooLongForHost(const HostLocation& place)
{
    if (HostName::encode(place.hostPath()).size() >= PATH_MAX)
        return true;
    return std::any_of(place.components.cbegin(), place.components.cend(),
                       [](const QString& c) { return HostName::encode(c).size() > NAME_MAX; });
}

QString entryBelow(const QString& folderEntry, const QString& name)
{
    return folderEntry.isEmpty() ? QString()
                                 : folderEntry + QLatin1Char('/') + HostName::entryComponent(name);
}

// A listed entry: its name and what the listing saw there (the link itself, never what it leads to).
struct Listed
{
    QByteArray raw;
    QString folded;
    struct stat st
    {};
    bool seen = false; // st holds what the listing saw; false when the entry vanished meanwhile
};

using DirPtr = unique_c_ptr<DIR, ::closedir>;

// Why a subfolder could not be opened: a link or something else put in its place since its folder
// was listed, or the system's reason.
QString folderOpenReason(int error)
{
    if (error == ELOOP)
        return SourceCollector::linkReason();
    return error == ENOTDIR ? SourceCollector::replacedReason() : errnoText(error);
}

} // namespace

QByteArray Source::hostPath() const
{
    return joinHost(folder->host, HostName::encode(name));
}

QByteArray Source::relativePath() const
{
    return joinRelative(folder->relative, HostName::encode(name));
}

QString Source::entryName() const
{
    const QString component = HostName::entryComponent(name);
    return folder->entry.isEmpty() ? component : folder->entry + QLatin1Char('/') + component;
}

QString Source::handedPath() const
{
    return !handed.isEmpty() ? handed : folder->handed + QLatin1Char('\\') + name;
}

SourceCollector::SourceCollector(const OutputGuard& guard, std::function<void()> tick)
    : m_guard(guard), m_tick(std::move(tick))
{}

QString SourceCollector::linkReason()
{
    return QStringLiteral("symbolic link, not followed");
}

QString SourceCollector::notRegularReason()
{
    return QStringLiteral("not a regular file");
}

QString SourceCollector::replacedReason()
{
    return QStringLiteral("replaced while the package was built");
}

void SourceCollector::collect(const QString& source, bool includeSubfolders, bool keepFolderPath,
                              const Sink& sink)
{
    const qsizetype cut =
        std::max(source.lastIndexOf(QLatin1Char('\\')), source.lastIndexOf(QLatin1Char('/')));
    const QString last = source.mid(cut + 1);
    if (!hasWildcard(last)) {
        std::vector<Source> out;
        collectNamed(source, keepFolderPath, out);
        sink(std::move(out));
        return;
    }
    const QString handedFolder = source.left(std::max<qsizetype>(cut, 0));
    const std::optional<HostLocation> place = HostPath::resolve(handedFolder);
    if (!place)
        return; // nothing there: adds nothing
    const QByteArray host = HostName::encode(place->hostPath());
    // The folder the add names is its author's choice: a link there is followed.
    auto root = std::make_shared<const UniqueFd>(
        ::open(host.constData(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC));
    if (!*root) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) { // there, but it cannot be listed
            auto folder =
                std::make_shared<const SourceFolder>(SourceFolder{.host = host, .handed = handedFolder});
            sink({Source{.folder = folder, .handed = handedFolder, .skipReason = errnoText(error)}});
        }
        return;
    }
    collectFolder(std::make_shared<const SourceFolder>(
                      SourceFolder{.root = std::move(root),
                                   .host = host,
                                   .entry = keepFolderPath ? place->entryName() : QString(),
                                   .handed = handedFolder}),
                  foldName(last), includeSubfolders, sink);
}

void SourceCollector::collectNamed(const QString& source, bool keepFolderPath, std::vector<Source>& out)
{
    const std::optional<HostLocation> place = HostPath::resolve(source);
    if (!place || place->components.isEmpty()) {
        const std::optional<HostLocation> parsed = HostPath::parse(source);
        if (parsed && !parsed->components.isEmpty() && tooLongForHost(*parsed))
            out.push_back({.folder = std::make_shared<const SourceFolder>(),
                           .name = parsed->components.last(),
                           .handed = source,
                           .skipReason = errnoText(ENAMETOOLONG)});
        return; // nothing there: adds nothing
    }
    HostLocation parent = *place;
    const QString name = parent.components.takeLast();
    Source file{.folder = std::make_shared<const SourceFolder>(
                    SourceFolder{.host = HostName::encode(parent.hostPath()),
                                 .entry = keepFolderPath ? parent.entryName() : QString()}),
                .name = name,
                .handed = source};
    struct stat st
    {};
    // Looked at before opening, so a pipe or a device is never opened; checked again on what opened.
    if (::stat(file.hostPath().constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return; // a folder named without a pattern adds nothing
    UniqueFd fd(::open(file.hostPath().constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        file.skipReason = errnoText(errno);
    } else if (::fstat(fd.get(), &st) != 0) {
        file.skipReason = errnoText(errno);
    } else if (S_ISDIR(st.st_mode)) {
        return;
    } else if (!S_ISREG(st.st_mode)) {
        file.skipReason = notRegularReason();
    } else {
        switch (m_guard.check(st)) {
        case OutputGuard::Hit::Temporary:
            return;
        case OutputGuard::Hit::EarlierOutput:
            raiseError(ErrorNumber::InvalidArgument, m_guard.inputReason(st, source));
        case OutputGuard::Hit::None:
            break;
        }
        file.size = st.st_size;
        file.modified = st.st_mtim.tv_sec;
        file.opened = std::make_shared<const UniqueFd>(std::move(fd));
    }
    out.push_back(std::move(file));
}

void SourceCollector::collectFolder(const std::shared_ptr<const SourceFolder>& folder,
                                    const QString& foldedPattern, bool includeSubfolders, const Sink& sink)
{
    m_tick();
    std::vector<Source> out;
    std::vector<Listed> listed;
    {
        UniqueFd fd = Descriptors::openBeneath(folder->root->get(), folder->relative,
                                               O_RDONLY | O_DIRECTORY | O_NOCTTY);
        if (!fd) {
            // A subfolder that vanished meanwhile adds nothing; one that is now a link, or that
            // cannot be listed, is named with the reason.
            if (const int error = errno; error != ENOENT)
                sink({Source{
                    .folder = folder, .handed = folder->handed, .skipReason = folderOpenReason(error)}});
            return;
        }
        struct stat opened
        {};
        const bool isRoot = folder->relative == ".";
        if (!isRoot && (::fstat(fd.get(), &opened) != 0 || FileIdentity::of(opened) != folder->listed)) {
            sink({Source{.folder = folder, .handed = folder->handed, .skipReason = replacedReason()}});
            return;
        }
        DirPtr dir(::fdopendir(fd.get()));
        if (!dir) {
            const int error = errno;
            sink({Source{.folder = folder, .handed = folder->handed, .skipReason = errnoText(error)}});
            return;
        }
        fd.release(); // the listing owns it now
        while (const dirent* e = ::readdir(dir.get())) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                continue;
            const QByteArray raw(e->d_name);
            Listed entry{.raw = raw, .folded = foldName(HostName::decode(raw.constData(), raw.size()))};
            entry.seen = ::fstatat(dirfd(dir.get()), e->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) == 0;
            listed.push_back(std::move(entry));
            if (listed.size() % kTickEvery == 0)
                m_tick();
        }
    } // closed before anything below it is opened
    std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        const int byFolded = a.folded.compare(b.folded);
        return byFolded != 0 ? byFolded < 0 : a.raw < b.raw;
    });

    std::vector<const Listed*> subfolders;
    for (const Listed& entry : listed) {
        if (entry.seen && S_ISDIR(entry.st.st_mode)) {
            if (includeSubfolders)
                subfolders.push_back(&entry);
            continue;
        }
        if (!matchesFoldedWildcard(foldedPattern, entry.folded))
            continue;
        Source file{.folder = folder, .name = HostName::decode(entry.raw.constData(), entry.raw.size())};
        if (!entry.seen)
            continue; // vanished between the listing and the look at it
        if (S_ISLNK(entry.st.st_mode))
            file.skipReason = linkReason();
        else if (!S_ISREG(entry.st.st_mode))
            file.skipReason = notRegularReason(); // never opened: opening a pipe or a device may block
        file.size = entry.st.st_size;
        file.modified = entry.st.st_mtim.tv_sec;
        out.push_back(std::move(file));
    }
    sink(std::move(out));
    for (const Listed* sub : subfolders) {
        const QString name = HostName::decode(sub->raw.constData(), sub->raw.size());
        collectFolder(std::make_shared<const SourceFolder>(
                          SourceFolder{.root = folder->root,
                                       .relative = joinRelative(folder->relative, sub->raw),
                                       .listed = FileIdentity::of(sub->st),
                                       .host = joinHost(folder->host, sub->raw),
                                       .entry = entryBelow(folder->entry, name),
                                       .handed = folder->handed + QLatin1Char('\\') + name}),
                      foldedPattern, includeSubfolders, sink);
    }
}
