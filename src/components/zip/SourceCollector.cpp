#include "components/zip/SourceCollector.h"

#include "base/CHandle.h"
#include "base/RuntimeError.h"
#include "base/SystemError.h"
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

QString notRegular()
{
    return QStringLiteral("not a regular file");
}

QByteArray joinHost(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

bool hasWildcard(const QString& name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

// A path the host cannot open however it is spelled: too long in all, or in one name.
bool tooLongForHost(const HostLocation& place)
{
    if (HostName::Encode(place.hostPath()).size() >= PATH_MAX)
        return true;
    return std::any_of(place.components.cbegin(), place.components.cend(),
                       [](const QString& c) { return HostName::Encode(c).size() > NAME_MAX; });
}

bool startsLikeAZip(const QByteArray& path)
{
    const UniqueFd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd)
        return false;
    char magic[4] = {};
    const bool read = ::pread(fd.get(), magic, sizeof magic, 0) == sizeof magic;
    return read && magic[0] == 'P' && magic[1] == 'K' && (magic[2] == 3 || magic[2] == 5);
}

struct Listed
{
    QByteArray raw;
    QString folded;
    unsigned char type = DT_UNKNOWN;
};

using DirPtr = unique_c_ptr<DIR, ::closedir>;

} // namespace

QByteArray Source::hostPath() const
{
    return joinHost(folder->host, HostName::Encode(name));
}

QString Source::entryName() const
{
    return folder->entry.isEmpty() ? name : folder->entry + QLatin1Char('/') + name;
}

QString Source::handedPath() const
{
    return !handed.isEmpty() ? handed : folder->handed + QLatin1Char('\\') + name;
}

SourceCollector::SourceCollector(FileIdentity temporary, std::optional<FileIdentity> replaced,
                                 std::function<void()> tick)
    : m_temporary(temporary), m_replaced(replaced), m_tick(std::move(tick))
{}

void SourceCollector::Collect(const QString& source, bool includeSubfolders, bool keepFolderPath,
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
    const std::optional<HostLocation> place = HostPath::Resolve(handedFolder);
    if (!place)
        return; // nothing there: adds nothing
    auto folder = std::make_shared<const SourceFolder>(
        SourceFolder{.host = HostName::Encode(place->hostPath()),
                     .entry = keepFolderPath ? place->entryName() : QString(),
                     .handed = handedFolder});
    collectFolder(folder, FoldName(last), includeSubfolders, sink);
}

void SourceCollector::collectNamed(const QString& source, bool keepFolderPath, std::vector<Source>& out)
{
    const std::optional<HostLocation> place = HostPath::Resolve(source);
    if (!place || place->components.isEmpty()) {
        const std::optional<HostLocation> parsed = HostPath::Parse(source);
        if (parsed && !parsed->components.isEmpty() && tooLongForHost(*parsed))
            out.push_back({.folder = std::make_shared<const SourceFolder>(),
                           .name = parsed->components.last(),
                           .handed = source,
                           .named = true,
                           .skipReason = ErrnoText(ENAMETOOLONG)});
        return; // nothing there: adds nothing
    }
    HostLocation parent = *place;
    const QString name = parent.components.takeLast();
    Source file{.folder = std::make_shared<const SourceFolder>(
                    SourceFolder{.host = HostName::Encode(parent.hostPath()),
                                 .entry = keepFolderPath ? parent.entryName() : QString()}),
                .name = name,
                .handed = source,
                .named = true};
    struct stat st
    {};
    if (::stat(file.hostPath().constData(), &st) != 0)
        file.skipReason = ErrnoText(errno);
    else if (S_ISDIR(st.st_mode))
        return; // a folder named without a pattern adds nothing
    else if (!S_ISREG(st.st_mode))
        file.skipReason = notRegular();
    else if (isPackage({st.st_dev, st.st_ino}, file))
        return;
    file.size = st.st_size;
    file.modified = st.st_mtim.tv_sec;
    out.push_back(std::move(file));
}

void SourceCollector::collectFolder(const std::shared_ptr<const SourceFolder>& folder,
                                    const QString& foldedPattern, bool includeSubfolders, const Sink& sink)
{
    m_tick();
    std::vector<Source> out;
    const DirPtr dir(::opendir(folder->host.constData()));
    if (!dir) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) // a folder that is there but cannot be listed
            out.push_back({.folder = folder, .handed = folder->handed, .skipReason = ErrnoText(error)});
        sink(std::move(out));
        return;
    }
    std::vector<Listed> listed;
    while (const dirent* e = ::readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        const QByteArray raw(e->d_name);
        listed.push_back({raw, FoldName(HostName::Decode(raw.constData(), raw.size())), e->d_type});
    }
    std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        const int byFolded = a.folded.compare(b.folded);
        return byFolded != 0 ? byFolded < 0 : a.raw < b.raw;
    });

    std::vector<const Listed*> subfolders;
    int count = 0;
    for (Listed& entry : listed) {
        if (++count % kTickEvery == 0)
            m_tick();
        struct stat st
        {};
        if (entry.type == DT_UNKNOWN &&
            ::fstatat(dirfd(dir.get()), entry.raw.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            entry.type = IFTODT(st.st_mode);
        if (entry.type == DT_DIR) {
            if (includeSubfolders)
                subfolders.push_back(&entry);
            continue;
        }
        if (!MatchesFoldedWildcard(foldedPattern, entry.folded))
            continue;
        Source file{.folder = folder, .name = HostName::Decode(entry.raw.constData(), entry.raw.size())};
        if (entry.type != DT_REG && entry.type != DT_LNK && entry.type != DT_UNKNOWN) {
            file.skipReason = notRegular(); // never opened: opening a pipe or a device may block
        } else if (::fstatat(dirfd(dir.get()), entry.raw.constData(), &st, 0) != 0) {
            file.skipReason = ErrnoText(errno); // vanished, a dangling link, a link loop
        } else if (S_ISDIR(st.st_mode)) {
            continue; // a link to a folder: not followed
        } else if (!S_ISREG(st.st_mode)) {
            file.skipReason = notRegular();
        } else if (isPackage({st.st_dev, st.st_ino}, file)) {
            continue;
        }
        file.size = st.st_size;
        file.modified = st.st_mtim.tv_sec;
        out.push_back(std::move(file));
    }
    sink(std::move(out));
    for (const Listed* sub : subfolders) {
        const QString name = HostName::Decode(sub->raw.constData(), sub->raw.size());
        collectFolder(
            std::make_shared<const SourceFolder>(SourceFolder{
                .host = joinHost(folder->host, sub->raw),
                .entry = folder->entry.isEmpty() ? QString() : folder->entry + QLatin1Char('/') + name,
                .handed = folder->handed + QLatin1Char('\\') + name}),
            foldedPattern, includeSubfolders, sink);
    }
}

bool SourceCollector::isPackage(const FileIdentity& file, const Source& source) const
{
    if (file == m_temporary)
        return true;
    if (!m_replaced || file != *m_replaced)
        return false;
    if (!source.named && startsLikeAZip(source.hostPath()))
        return true; // the earlier package at this path, which this one replaces
    Raise(ErrorNumber::InvalidArgument,
          QStringLiteral("The package path names a file that goes into the package: ") + source.handedPath());
}
