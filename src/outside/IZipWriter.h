#pragma once

#include "outside/Component.h"

// Writes the package archive. add takes a file, or a folder followed by "\" and a wildcard pattern.
class IZipWriter : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.ZipWriter";

    virtual bool add(const QString& source, bool includeSubfolders, bool keepFolderPath,
                     const QString& unused) = 0;
    virtual bool finish() = 0;
    virtual bool setArchivePath(const QString& path) = 0;
};

#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

// A writer that may wait for work done elsewhere, or list a large folder, calls this hook now and
// then meanwhile, so the windows stay painted. A stop signal's run-time error raised by the hook
// (Interruption::check) ends the writer's operation: it drops its package and lets the error through.
class IBusyHook
{
public:
    virtual ~IBusyHook() = default;
    virtual void setBusyHook(std::function<void()> hook) = 0;
    // How far the archive is: the bytes of file data written into it so far, and the bytes of
    // the files the adds have found so far.
    virtual std::pair<qint64, qint64> bytesDone() const { return {0, 0}; }
};

// How the adds that follow treat the files they find, until the rules change. The plain rules,
// the default, pack every file as it is, in the order found.
struct AddRules
{
    enum class Masking
    {
        None,       // every file as it is
        Everything, // every text file of the add: secrets masked (binary files stay as they are)
    };
    Masking masking = Masking::None;
    // When either of these is set the files go in newest first (by modification time), and those
    // left out are listed in the comment with the reason given here.
    std::optional<qint64> notBefore{}; // seconds since 1970: files changed earlier are left out
    QString tooOld{};
    std::optional<qint64> budget{}; // bytes: the files stop before their total passes it
    QString overBudget{};
    // Host names, user names and addresses in the text replaced by placeholders too (masking on).
    bool names = false;
    bool operator==(const AddRules&) const = default;
};

// A writer that masks secrets and chooses files by age and size, on request. A writer that masks
// anything puts REDACTED.TXT at the package's root: per file, how many values were masked.
class IAddRules
{
public:
    virtual ~IAddRules() = default;
    virtual void setAddRules(const AddRules& rules) = 0;
    // With names replaced: reads the text files of an add (a file, or a folder and a pattern) and
    // learns the host names they define, packing nothing, so that the names of the configuration
    // are known before the logs that mention them are packed. Once the package is open.
    virtual bool discoverNames(const QString& source) = 0;
};

// What a package's writer is told of the files around the package: those written beside it (a
// checksum), which the build must never pack while it will replace them; and whether the
// package's SHA-256 is wanted, read back from the finished file before it takes its name, so that
// a stop signal while it is hashed leaves no package.
struct PackageOutputs
{
    QStringList besides{}; // host paths
    bool digest = false;
    // With names replaced (AddRules::names): where the map of placeholders goes (a host path beside
    // the package, never in it), and the names known from the start (the computer's, the user's).
    QString namesFile{};
    QStringList knownHosts{};
    QStringList knownUsers{};
    bool operator==(const PackageOutputs&) const = default;
};

// A writer that takes the outputs of the next package (before setArchivePath).
class IPackageOutputs
{
public:
    virtual ~IPackageOutputs() = default;
    virtual void setOutputs(const PackageOutputs& outputs) = 0;
};

// What a finished package holds besides its files' bytes.
struct PackageReport
{
    struct LeftOut
    {
        QString path; // as the add named or found it, Windows-style
        QString reason;
        QString hostPath{};     // where it is on the host, when known
        bool onPurpose = false; // by age or size, not for a fault
    };
    struct Masked
    {
        QString path; // as the add named or found it, Windows-style
        QString entry;
        int values = 0;     // secrets masked
        int names = 0;      // names replaced by placeholders
        QString encoding{}; // "UTF-16 LE" and the like; empty for UTF-8 and Latin-1
    };
    qint64 entries = 0;
    std::vector<LeftOut> leftOut;
    std::vector<Masked> masked; // only files where something was masked
    QByteArray sha256{};        // of the whole package, lower-case hex, when it was asked for
    QString namesFile{};        // the map of names written beside the package, when names were replaced
};

// A writer that tells what its last finished package holds.
class IPackageReport
{
public:
    virtual ~IPackageReport() = default;
    virtual PackageReport report() const = 0;
};
