#pragma once

#include "base/CHandle.h"
#include "masking/NameMask.h"
#include "components/zip/OutputGuard.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// One folder of an add, shared by the files found in it.
struct SourceFolder
{
    // The folder the add names, open for the whole add: every file and subfolder found below it
    // is opened relative to it, never through a symbolic link. None for a named file's folder.
    std::shared_ptr<const UniqueFd> root{};
    QByteArray relative = "."; // this folder below root, "/" between components
    FileIdentity listed{};     // a subfolder as its folder's listing saw it
    QByteArray host{};         // its host path
    QString entry{};           // what entry names begin with ("C/Tess/logs"); empty without folder paths
    QString handed{};          // as the build handed it, for the comment
};

// A file that an add names or that its pattern finds; or something left out, and why.
struct Source
{
    std::shared_ptr<const SourceFolder> folder{};
    QString name{};   // on disk, within the folder
    QString handed{}; // a named file: the path as handed
    // A named file, open since it was found (links followed: the template's author chose it):
    // read before the add returns.
    std::shared_ptr<const UniqueFd> opened{};
    bool mask = false;                // packed with its secrets masked (when it is text)
    std::shared_ptr<NameMap> names{}; // and its names replaced, with the package's placeholders
    qint64 size = 0;                  // when it was found, for choosing; the bytes packed are those read
    qint64 modified = 0;              // seconds since 1970, when it was found
    QString skipReason{};             // not empty: left out, and listed in the comment with this reason
    bool onPurpose = false;           // left out by age or size, not for a fault

    bool named() const { return opened != nullptr; }
    QByteArray hostPath() const;
    QByteArray relativePath() const; // below folder->root
    QString entryName() const;
    QString handedPath() const;
};

// The first part of the package writer: turns an add into the files it packs, in the order of a
// Windows listing (names case-blind, files before subfolders), one folder at a time, so that the
// files of the first folder are on their way while the next is listed.
//
// A pattern's folder is walked through descriptors: the folder the add names is opened once
// (following a link there, the add's own choice), and everything below it is listed and opened
// relative to it without following any symbolic link, so a link put in place while the walk goes
// on never leads out of the tree. A link met in the walk, to a file or a folder, is left out with
// the reason "symbolic link, not followed"; so are pipes, sockets and devices ("not a regular
// file"), which are never opened, folders that cannot be listed, and paths too long for the host.
// A folder is listed and closed before the next is opened, so the walk holds two descriptors
// however deep the tree. A file the add names is opened at once, following links, and checked.
class SourceCollector
{
public:
    // tick is called now and then on long listings; it may throw to stop the work.
    SourceCollector(const OutputGuard& guard, std::function<void()> tick);

    using Sink = std::function<void(std::vector<Source>&&)>;
    // Hands the files of an add to the sink, a folder at a time.
    void collect(const QString& source, bool includeSubfolders, bool keepFolderPath, const Sink& sink);

    static QString linkReason();
    static QString notRegularReason();
    static QString replacedReason();

private:
    void collectNamed(const QString& source, bool keepFolderPath, std::vector<Source>& out);
    void collectFolder(const std::shared_ptr<const SourceFolder>& folder, const QString& foldedPattern,
                       bool includeSubfolders, const Sink& sink);

    const OutputGuard& m_guard;
    std::function<void()> m_tick;
};
