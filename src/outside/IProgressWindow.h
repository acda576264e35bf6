#pragma once

#include "outside/ProgressSink.h"

// The progress window of a build: shown, given status texts and bytes, closed.
class IProgressWindow : public ProgressSink
{
public:
    virtual void Show() = 0;
    virtual void Close() = 0;
};
