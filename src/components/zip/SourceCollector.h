#pragma once

#include "components/zip/ArchiveFile.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One folder of an add, shared by the files found in it.
struct SourceFolder
{
    QByteArray host{}; // its host path
    QString entry{};   // what entry names begin with ("C/Tess/logs"); empty without folder paths
    QString handed{};  // as the build handed it, for the comment
};

// A file that an add names or that its pattern finds; or something left out, and why.
struct Source
{
    std::shared_ptr<const SourceFolder> folder{};
    QString name{};       // on disk, within the folder
    QString handed{};     // a named file: the path as handed
    bool named = false;   // named by the add: read before the add returns
    bool mask = false;    // packed with its secrets masked (when it is text)
    qint64 size = 0;      // when it was listed
    qint64 modified = 0;  // seconds since 1970, when it was listed
    QString skipReason{}; // not empty: left out, and listed in the comment with this reason

    QByteArray hostPath() const;
    QString entryName() const;
    QString handedPath() const;
};

// The first part of the package writer: turns an add into the files it packs, in the order of a
// Windows listing (names case-blind, files before subfolders), one folder at a time, so that the
// files of the first folder are on their way while the next is listed. A filter or an ordering of
// an add's files takes them all before it hands them on. Only regular files are packed; a
// pipe, socket or device is never opened, a folder that cannot be listed, a file that vanished
// and a path too long for the host come back with their reason. Links to folders are not
// followed. The package never packs itself: its temporary file is passed over, and so is an
// earlier package at its path found by a pattern; a package path that names any other file to
// pack fails the add, and that file stays untouched.
class SourceCollector
{
public:
    // tick is called now and then on long listings; it may throw to stop the work.
    SourceCollector(FileIdentity temporary, std::optional<FileIdentity> replaced, std::function<void()> tick);

    using Sink = std::function<void(std::vector<Source>&&)>;
    // Hands the files of an add to the sink, a folder at a time.
    void Collect(const QString& source, bool includeSubfolders, bool keepFolderPath, const Sink& sink);

private:
    void collectNamed(const QString& source, bool keepFolderPath, std::vector<Source>& out);
    void collectFolder(const std::shared_ptr<const SourceFolder>& folder, const QString& foldedPattern,
                       bool includeSubfolders, const Sink& sink);
    // Whether a regular file found is the package itself (left out); throws when the package
    // would replace a file that goes into it.
    bool isPackage(const FileIdentity& file, const Source& source) const;

    FileIdentity m_temporary;
    std::optional<FileIdentity> m_replaced;
    std::function<void()> m_tick;
};
