#pragma once

#include <QString>
#include <QStringList>

// Writes a support-package corpus below folder: many small configuration files, data files of
// records, large logs and some incompressible files; about totalMegabytes in all. Returns bytes.
qint64 writeCorpus(const QString& folder, int totalMegabytes);
// Writes count small files of 0.25 to 4 KB below folder. Returns bytes.
qint64 writeTinyFiles(const QString& folder, int count);
// Peak resident memory of a command, its wall time and its CPU time (user and system, which a busy
// machine skews less), measured by /usr/bin/time.
struct Measured
{
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMegabytes = 0;
    bool ok = false;
};
Measured measureCommand(const QString& program, const QStringList& arguments,
                        const QString& workingFolder = {});
