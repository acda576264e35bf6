#pragma once

#include "package/PackageSummary.h"

#include <QString>
#include <QStringList>

#include <functional>

class frmSatchel;
struct CommandLineOptions;

// How a start from the command line ends: the lines said on standard error, and the summary that
// --json prints. A package written is named with its size (and its checksum when asked for); a
// start that wrote none says why, in host paths. The exit status: 0 written, 1 not written, 2 a
// person was needed but there is no display.
class BatchStart
{
public:
    // say: where each line goes (standard error, prefixed with the program's name).
    explicit BatchStart(std::function<void(const QString&)> say) : m_say(std::move(say)) {}

    // After a start that built (or tried to build) a package and unloaded the window; personNeeded
    // lists what would have needed a person (a message, a question) had there been a display.
    RunSummary ending(const frmSatchel& controller, const QStringList& personNeeded,
                      const CommandLineOptions& options) const;
    // After a start whose command line led to no build: what it named could not be found, or the
    // start went wrong before. Returns what it said.
    QString whyNoPackage(const frmSatchel& controller) const;
    // Why the checksum file asked for could not be written beside the package, found before the
    // build so that a refusal leaves nothing behind; empty when nothing stands in its way.
    static QString checksumRefused(const CommandLineOptions& options);

    // Says why no package was written, and keeps the reason in the summary.
    void sayNone(RunSummary& run, const QString& reason) const;

private:
    void checksum(RunSummary& run, const CommandLineOptions& options) const;
    void sayLackOfDescriptors(const PackageReport& report) const;

    std::function<void(const QString&)> m_say;
};
