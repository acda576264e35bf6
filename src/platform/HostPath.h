#pragma once

#include "platform/DriveMap.h"

#include <QString>
#include <QStringList>

#include <optional>

// A Windows-style path placed on the host: the drive (or share) it lies on and the components
// below that drive's host folder.
struct HostLocation
{
    DriveRoot root;
    QStringList components;
    QString hostPath() const;
    // "C/Tess/logs/a.log" or "UNC/server/share/a": the name a file gets in the package.
    QString entryName() const;
};

namespace HostPath {

// Why a path names nothing on the host.
enum class Miss
{
    None,
    NotFound, // a component does not exist, the drive or share is not mapped
    BadName,  // a character Windows never allows in a name: NUL, control characters, <>:"|?*
    TooLong,  // a name or the whole host path is past the host's limit
};
// The reason as a person reads it ("File name too long").
QString missReason(Miss miss);

// Splits a Windows-style path ("\" or "/" separators) into drive and components, resolving "."
// and ".." by text and never above the drive's root; trailing blanks and dots of a component
// are dropped, as Windows drops them. A path without a drive is taken relative to the current
// directory (or the root of its drive). Nothing for an unmapped drive, a network path without
// server or share, or a name holding a character Windows never allows.
std::optional<HostLocation> parse(const QString& windowsPath, Miss* miss = nullptr);

// The existing file or folder that a Windows-style path names, every component looked up
// case-blind; nothing when any component is missing, and miss (when given) says why.
std::optional<HostLocation> resolve(const QString& windowsPath, Miss* miss = nullptr);

// The host path at which to create a file: the folder resolved case-blind, the name as given.
std::optional<QString> forWriting(const QString& windowsPath, Miss* miss = nullptr);
// The host path at which a file takes the place of what is there: the existing file's own spelling
// when one matches case-blind (so "PACKAGE.ZIP" replaces "package.zip"), else forWriting.
std::optional<QString> forReplacing(const QString& windowsPath, Miss* miss = nullptr);

// A host path as the program sees it: the drive whose folder is the longest prefix, then "\"
// separators; a trailing "/" becomes a trailing "\". A Windows-style text is kept as it stands.
QString toWindows(const QString& hostPath);

bool isWindowsStyle(const QString& path);

// A Windows-style path as a person on this host reads it: the host path of the file or folder it
// names (its on-disk spelling when it exists), the text unchanged when it lies on no mapped drive.
// For messages and standard error; the trace keeps the Windows-style text.
QString toHost(const QString& windowsPath);
// A text of the program with every Windows-style path in it as the host path a person reads. A
// Windows path runs to the next ":" (which no name may hold) or the end of the line.
QString inText(const QString& text);

} // namespace HostPath
