#pragma once

#include "viewer/PackageFindings.h"

#include <QString>
#include <QStringList>

#include <vector>

// How many changed lines a diff shows of one entry, and of all entries together.
struct DiffLimits
{
    int linesPerEntry = 200;
    int linesInAll = 2000;
    quint64 maxTextSize = quint64(4) << 20; // larger text entries are compared by CRC only
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

struct PackageDiff
{
    std::vector<ManifestChange> manifest;
    QStringList manifestFilesAdded;
    QStringList manifestFilesRemoved;
    std::vector<EntryChange> entries;
    int linesShown = 0;
    int linesLeftOut = 0;
    bool equal() const
    {
        return manifest.empty() && manifestFilesAdded.isEmpty() && manifestFilesRemoved.isEmpty() &&
               entries.empty();
    }
};

// Compares two readable packages. Text entries that changed are compared line by line, a line
// holding a masked value (********) matching any value in its place; logs are compared by size and
// time span unless compareLogText.
PackageDiff diffPackages(const PackageFindings& older, const PackageFindings& newer, bool compareLogText,
                         const DiffLimits& limits = {});

// Whether two lines are equal, a mask in either standing for any value.
bool linesMatch(QStringView a, QStringView b);
