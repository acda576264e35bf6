#pragma once

#include <QStringList>

// What show and diff are asked to read, and how to tell it.
struct ReadOptions
{
    QStringList paths;
    bool json = false; // the report as JSON on standard output
    bool logs = false; // diff: the lines of logs compared too
};

// "ts6satchel show PACKAGE|CASEDIR [--json]": what a package or case folder holds and whether it is
// intact; 0 when everything read is intact, 1 when anything is damaged, 2 when it cannot be read.
int runShow(const ReadOptions& options);

// "ts6satchel diff OLD NEW [--json] [--logs]": what changed between two packages; 0 when they are
// equal, 1 when they differ, 2 when one cannot be read.
int runDiff(const ReadOptions& options);
