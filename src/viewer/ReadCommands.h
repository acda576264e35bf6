#pragma once

#include <QStringList>

// "ts6satchel show PACKAGE|CASEDIR [--json]": what a package or case folder holds and whether it is
// intact; 0 when everything read is intact, 1 when anything is damaged, 2 when it cannot be read.
int runShow(const QStringList& arguments);

// "ts6satchel diff OLD NEW [--json] [--logs]": what changed between two packages; 0 when they are
// equal, 1 when they differ, 2 when one cannot be read.
int runDiff(const QStringList& arguments);

// The target of "ts6satchel open PACKAGE|CASEDIR": the path, or the status to end with (help, usage).
struct OpenCommand
{
    QString target;
    int status = -1; // >= 0: end with it at once
};
OpenCommand parseOpen(const QStringList& arguments);
