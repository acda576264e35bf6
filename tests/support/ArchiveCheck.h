#pragma once

#include <QStringList>

// One entry as Python's zipfile reads it.
struct ArchiveEntry
{
    QString name;
    qint64 size = 0;
    QString modified;  // the DOS date and time, "YYYY-MM-DD hh:mm:ss"
    int mode = 0;      // the Unix type and permission bits
    int method = 0;    // 0 stored, 8 deflated
    QByteArray sha256; // of the content, in hex
};

// What tools written elsewhere say of an archive: Info-ZIP's "unzip -t", Python's zipfile (which
// reads every entry and checks its CRC) and "7zz t".
struct ArchiveReport
{
    bool allRead = false; // by every tool, with no complaint
    QStringList names;    // in archive order
    QList<ArchiveEntry> entries;
    QString comment;
    QString details; // what the tools printed, for failure messages
    bool valid() const { return allRead; }
};

ArchiveReport checkArchive(const QString& hostPath);
// One entry's bytes, read back by Python's zipfile.
QByteArray readEntry(const QString& hostPath, const QString& name);
