#pragma once

#include "outside/IZipWriter.h"

#include <QByteArray>
#include <QString>

#include <optional>

// What a batch start tells a script about its run (--json): the package written, with its size,
// SHA-256 and entries, the files left out and the values masked, how long it took and how it ended.
struct RunSummary
{
    std::optional<QString> package{}; // its host path, when one was written
    qint64 bytes = 0;
    QByteArray sha256{}; // lower-case hex
    PackageReport report{};
    double seconds = 0;
    int status = 0;
    QString reason{}; // why no package was written, or what went wrong after it was
};

// One JSON object on one line: package, bytes, sha256 and entries (null without a package), names
// (the map of placeholders beside the package, or null),
// skipped (path and reason each), redacted (path, entry and count each), seconds, status, reason
// (null when nothing went wrong). Paths are host paths.
QByteArray summaryJson(const RunSummary& summary);

// Writes "<package>.sha256" beside the package, one line in the format sha256sum -c reads (the
// package's name without its folder, so the check runs in that folder): a new file, renamed over
// any earlier one only once it is complete. A failure raises a run-time error with the reason.
QString writeChecksumFile(const QString& packageHostPath, const QByteArray& sha256);

// Raises the error that the checksum file beside the package would meet at its name: a name past
// the host's limit, or something other than a regular file standing there.
void checkChecksumFileName(const QString& packageHostPath);
