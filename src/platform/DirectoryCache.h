#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// One folder's entries in listing order: by name compared case-blind (upper case), then bytes.
struct DirectoryEntry
{
    QString name;
    QString folded;
    bool isDirectory = false;
    bool hidden() const
    {
        return name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") && name != QLatin1String("..");
    }
};

struct DirectoryListing
{
    std::vector<DirectoryEntry> entries;
    // The entry a case-blind lookup of a folded name finds: the first in byte order.
    const DirectoryEntry* find(const QString& folded) const;
};

// Folder listings, each read once and kept while the folder is unchanged (its modification and
// change times, checked with one stat per use), so case-blind lookups and searches cost the
// same in a folder of fifty files or fifty thousand. Inside a snapshot, a listing is read once
// for the whole snapshot, however often its folder changes meanwhile.
namespace DirectoryCache {

// Between these (on any thread), each folder is listed at most once: a catalogue load or a build
// sees every folder as it first found it, and a folder that other programs keep changing costs
// no re-reading. Snapshots nest; the outermost end ends it. A name looked up exactly is still
// found when it appears later, so the files the program writes itself are found.
void beginSnapshot();
void endSnapshot();

// The listing of an existing host folder ("." and ".." included), or nothing.
std::shared_ptr<const DirectoryListing> list(const QString& hostFolder);

// The on-disk name in hostFolder that matches name: name itself when it exists, else the
// case-blind match.
std::optional<QString> lookup(const QString& hostFolder, const QString& name);

void clear();

} // namespace DirectoryCache
