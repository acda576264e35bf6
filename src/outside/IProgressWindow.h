#pragma once

#include <QString>

// The progress window of a build: shown, given status texts, closed.
class IProgressWindow
{
public:
    virtual ~IProgressWindow() = default;
    virtual void Show() = 0;
    virtual void setStatus(const QString& text) = 0;
    virtual void Close() = 0;
    // How far a long step is, in bytes; a window may leave it unshown.
    virtual void setBytes(qint64 done, qint64 total)
    {
        Q_UNUSED(done);
        Q_UNUSED(total);
    }
};
