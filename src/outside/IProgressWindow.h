#pragma once

#include <QString>

// The progress window of a build: shown, given status texts, closed.
class IProgressWindow
{
public:
    virtual ~IProgressWindow() = default;
    virtual void Show() = 0;
    virtual void SetStatus(const QString& text) = 0;
    virtual void Close() = 0;
};
