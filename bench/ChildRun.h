#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// How a child process the benchmarks ran ended, and what it cost.
struct ChildRun
{
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0; // user and system: what a busy machine skews less than the wall time
    long peakKb = 0;
    QByteArray out; // what it wrote, read back from the files it wrote to
    QByteArray err;
};

// The whole of a file, or nothing.
QByteArray readAll(const QString& path);

// Runs command (a program and its arguments) with its output into outPath and errPath, and waits
// for exactly that child, so that its resource usage is its own. readOutput false leaves what it
// wrote in outPath unread: a child started later inherits this process's peak resident size
// (the kernel keeps it across the exec of a vfork), so a large output read here would count as
// that child's.
ChildRun runChild(const QStringList& command, const QString& outPath, const QString& errPath,
                  bool readOutput = true);
