#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What tools written elsewhere say of an archive: Info-ZIP's "unzip -t", Python's zipfile and "7zz t".
struct ArchiveReport
{
    bool unzipOk = false;
    bool pythonOk = false;
    bool sevenZipOk = false;
    bool allNamesUtf8 = false;
    QStringList names; // in archive order
    QString comment;
    QString details; // what the tools printed, for failure messages
    bool valid() const { return unzipOk && pythonOk && sevenZipOk; }
};

ArchiveReport CheckArchive(const QString& hostPath);
// One entry's bytes, read back by Python's zipfile.
QByteArray ReadEntry(const QString& hostPath, const QString& name);
