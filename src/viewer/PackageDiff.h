#pragma once

#include "viewer/PackageFindings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// How much of its packages a diff compares line by line, and shows. A run compares texts line by
// line until its budget is spent, in bytes of text (the old and the new entry together) and in
// steps of the search for the changed lines; the changed texts past it are compared by CRC and
// size, and said so: fifty changed texts of 4 MiB take a diff no longer than a few of them do.
struct DiffLimits
{
    int linesPerEntry = 200;
    int linesInAll = 2000;
    quint64 maxTextSize = quint64(4) << 20; // larger text entries are compared by CRC only
    quint64 textInAll = quint64(64) << 20;  // the run's budget of text compared line by line
    quint64 searchSteps = 200'000'000;      // the run's budget of steps finding changed lines
};

// A changed line of a text entry: '-' from the old package, '+' from the new one.
struct LineChange
{
    char kind = '-';
    int line = 0; // 1-based, in its own package's entry
    QString text;
};

struct EntryChange
{
    enum class Kind
    {
        Added,
        Removed,
        Changed,
    };
    Kind kind = Kind::Changed;
    QString name{};
    quint64 oldSize = 0;
    quint64 newSize = 0;
    quint32 oldCrc = 0;
    quint32 newCrc = 0;
    bool log = false;
    std::optional<LogSpan> oldSpan{};
    std::optional<LogSpan> newSpan{};
    std::vector<LineChange> lines{}; // for a changed text entry, as far as the limits go
    int linesLeftOut = 0;            // changed lines past the limits
    QString note{};                  // why no lines are shown: binary, too large, damaged, masked values only
};

struct ManifestChange
{
    QString key;
    QString oldValue;
    QString newValue;
};

// How the version manifests of two packages differ.
struct ManifestDiff
{
    std::vector<ManifestChange> fields;
    QStringList filesAdded;
    QStringList filesRemoved;
    bool empty() const { return fields.empty() && filesAdded.isEmpty() && filesRemoved.isEmpty(); }
};
ManifestDiff diffManifests(const Manifest& older, const Manifest& newer);

// What the comparison of the entries came to, beside the changes it handed out one by one.
struct EntriesDiff
{
    int added = 0;
    int removed = 0;
    int changed = 0;
    int linesShown = 0;
    int linesLeftOut = 0;
    int textsPastBudget = 0; // changed texts compared by CRC and size: the run's text budget was spent
    bool empty() const { return added == 0 && removed == 0 && changed == 0; }
};

// Compares the entries of two readable packages, handing each change to each as it is found (the
// removed entries first, then the added and changed ones in the new package's order): a diff of
// millions of entries never holds them all. Text entries that changed are compared line by line,
// a line holding a masked value (********) matching any value in its place; logs are compared by
// size and time span unless compareLogText. The manifest (TSVERSION.TXT) is left to diffManifests.
EntriesDiff diffEntries(const PackageFindings& older, const PackageFindings& newer, bool compareLogText,
                        const std::function<void(const EntryChange&)>& each, const DiffLimits& limits = {});

// Both comparisons, the changes collected, and whether either package is damaged: two packages are
// equal only when both are intact and nothing differs, so a package cut short is never equal.
struct PackageDiff
{
    ManifestDiff manifest;
    std::vector<EntryChange> entries;
    EntriesDiff counts;
    bool damaged = false;
    bool equal() const { return !damaged && manifest.empty() && counts.empty(); }
};
PackageDiff diffPackages(const PackageFindings& older, const PackageFindings& newer, bool compareLogText,
                         const DiffLimits& limits = {});

// Whether two lines are equal, a mask in either standing for any value.
bool linesMatch(QStringView a, QStringView b);
