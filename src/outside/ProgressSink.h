#pragma once

#include <QString>

// Where a long job tells how far it is: the build, collect, upload and the reader report to one of
// these, whether a window's progress bar or the terminal's line shows it.
class ProgressSink
{
public:
    virtual ~ProgressSink() = default;
    // What the job is at now: a file, a host, a step.
    virtual void setStatus(const QString& text) = 0;
    // How far the current step is, in bytes; a sink may leave it unshown.
    virtual void setBytes(qint64 done, qint64 total)
    {
        Q_UNUSED(done);
        Q_UNUSED(total);
    }
};
