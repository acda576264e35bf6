#pragma once

#include "outside/IWindowPlacement.h"

#include <QMargins>
#include <QString>

// The main window as its controller drives it: placement in twips, window state (0 normal,
// 1 minimised, 2 maximised; anything else is refused with a run-time error), the title label,
// the help-file setting, the status line, and unloading.
class IMainWindow : public IWindowPlacement
{
public:
    virtual void moveInTwips(double left, double top, double width, double height) = 0;
    // In pixels, the decoration around the window: as drawn, or a fair guess before the first show.
    virtual QMargins frameMargins() const = 0;
    virtual int windowStateCode() const = 0;
    virtual void setWindowStateCode(int state) = 0;
    virtual void setTitleCaption(const QString& caption) = 0;
    virtual void setHelpFile(const QString& path) = 0;
    // The one line of the status bar; empty clears it.
    virtual void showStatus(const QString& text) = 0;
    // Destroys the window after its controller has run its unload step.
    virtual void destroyWindow() = 0;
};
