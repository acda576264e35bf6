#include "platform/DirectoryCache.h"

#include "base/CHandle.h"
#include "platform/HostName.h"
#include "platform/Wildcard.h"

#include <QHash>

#include <algorithm>
#include <dirent.h>
#include <mutex>
#include <sys/stat.h>
#include <time.h>

namespace {

// A listing read less than this long after its folder last changed is read again at next use:
// the file system's clock is coarse, so a change in the same tick would leave the times alike.
constexpr long long kRacyWindowNs = 50'000'000;
constexpr qsizetype kMaxFolders = 4096;

long long toNs(const timespec& t)
{
    return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

struct Stamp
{
    dev_t device = 0;
    ino_t inode = 0;
    long long modified = 0;
    long long changed = 0;
    bool operator==(const Stamp&) const = default;
};

struct Cached
{
    Stamp stamp;
    long long readAt = 0;
    unsigned long long snapshot = 0; // the snapshot it was last used in; 0 for none
    std::shared_ptr<const DirectoryListing> listing;
};

struct Cache
{
    std::mutex mutex;
    QHash<QString, Cached> folders;
    int openSnapshots = 0;
    unsigned long long snapshot = 0; // the current snapshot while openSnapshots > 0
};

Cache& cache()
{
    static Cache instance;
    return instance;
}

long long nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return toNs(t);
}

std::optional<Stamp> stampOf(const QByteArray& path)
{
    struct stat st
    {};
    if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return Stamp{st.st_dev, st.st_ino, toNs(st.st_mtim), toNs(st.st_ctim)};
}

bool isDirectory(const QByteArray& folder, const dirent* entry)
{
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
        return false;
    struct stat st
    {};
    const QByteArray full = folder + '/' + entry->d_name;
    return ::stat(full.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::shared_ptr<DirectoryListing> readListing(const QByteArray& folder)
{
    const unique_c_ptr<DIR, ::closedir> dir(::opendir(folder.constData()));
    if (!dir)
        return nullptr;
    auto listing = std::make_shared<DirectoryListing>();
    while (const dirent* entry = ::readdir(dir.get())) {
        DirectoryEntry e;
        e.name = HostName::decode(entry->d_name);
        e.folded = foldName(e.name);
        e.isDirectory = isDirectory(folder, entry);
        listing->entries.push_back(std::move(e));
    }
    std::sort(listing->entries.begin(), listing->entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) {
                  const int byFolded = a.folded.compare(b.folded);
                  return byFolded != 0 ? byFolded < 0 : HostName::encode(a.name) < HostName::encode(b.name);
              });
    return listing;
}

// The snapshot under way, 0 for none; call with the mutex held.
unsigned long long snapshotOf(const Cache& c)
{
    return c.openSnapshots > 0 ? c.snapshot : 0;
}

Cached current(const QString& hostFolder)
{
    Cache& c = cache();
    {
        const std::lock_guard lock(c.mutex);
        const auto it = c.folders.constFind(hostFolder);
        if (it != c.folders.cend() && it->snapshot != 0 && it->snapshot == snapshotOf(c))
            return *it;
    }
    const QByteArray encoded = HostName::encode(hostFolder);
    const std::optional<Stamp> stamp = stampOf(encoded);
    if (!stamp)
        return {};
    {
        const std::lock_guard lock(c.mutex);
        const auto it = c.folders.find(hostFolder);
        if (it != c.folders.end() && it->stamp == *stamp && it->readAt - stamp->modified > kRacyWindowNs &&
            it->readAt - stamp->changed > kRacyWindowNs) {
            it->snapshot = snapshotOf(c);
            return *it;
        }
    }
    Cached fresh;
    fresh.stamp = *stamp;
    fresh.readAt = nowNs();
    auto listing = readListing(encoded);
    if (!listing)
        return {};
    fresh.listing = std::move(listing);
    const std::lock_guard lock(c.mutex);
    fresh.snapshot = snapshotOf(c);
    if (c.folders.size() >= kMaxFolders)
        c.folders.clear();
    c.folders.insert(hostFolder, fresh);
    return fresh;
}

} // namespace

const DirectoryEntry* DirectoryListing::find(const QString& folded) const
{
    const auto it = std::lower_bound(entries.begin(), entries.end(), folded,
                                     [](const DirectoryEntry& e, const QString& f) { return e.folded < f; });
    return it != entries.end() && it->folded == folded ? &*it : nullptr;
}

namespace DirectoryCache {

void beginSnapshot()
{
    Cache& c = cache();
    const std::lock_guard lock(c.mutex);
    if (c.openSnapshots++ == 0)
        ++c.snapshot;
}

void endSnapshot()
{
    Cache& c = cache();
    const std::lock_guard lock(c.mutex);
    --c.openSnapshots;
}

std::shared_ptr<const DirectoryListing> list(const QString& hostFolder)
{
    return current(hostFolder).listing;
}

std::optional<QString> lookup(const QString& hostFolder, const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    struct stat st
    {};
    const QString exact =
        hostFolder == QLatin1String("/") ? QLatin1Char('/') + name : hostFolder + QLatin1Char('/') + name;
    if (::lstat(HostName::encode(exact).constData(), &st) == 0)
        return name;
    const Cached c = current(hostFolder);
    if (!c.listing)
        return std::nullopt;
    const DirectoryEntry* entry = c.listing->find(foldName(name));
    if (!entry)
        return std::nullopt;
    return entry->name;
}

void clear()
{
    Cache& c = cache();
    const std::lock_guard lock(c.mutex);
    c.folders.clear();
}

} // namespace DirectoryCache
