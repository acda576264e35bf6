#pragma once

#include "case/CaseIndex.h"
#include "viewer/PackageFindings.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

// A host of a case and its package, read as show reads a package.
struct CaseHost
{
    HostRecord record;
    std::optional<PackageFindings> package; // for a host whose package the index names
    QString problem;                        // its package is missing, damaged or not the one the index names

    // Its state as the index says, but "package not read" for a host the index calls collected
    // whose package was refused, could not be read or holds no entry (not a zip, or empty).
    QString shownState() const;
};

// A field of the version manifests that not all hosts share: each host's value.
struct VersionSpread
{
    QString field;
    std::vector<std::pair<QString, QString>> byHost; // host, value
};

// A case folder (index.json, the hosts' packages), read whole.
struct CaseReport
{
    QString folder;
    QString openError; // the folder holds no readable case index
    CaseIndex index;
    std::vector<CaseHost> hosts;
    std::vector<VersionSpread> differences;
    QStringList damage; // every problem named, "host: what"

    bool readable() const { return openError.isEmpty(); }
    bool intact() const { return readable() && damage.isEmpty(); }
};

// Whether the path is a folder (a case folder is; a package never is).
bool isFolder(const QString& path);

CaseReport readCase(const QString& folder, const ReadChoice& choice = {});
