#pragma once

#include <QRect>

class AppConfig;
class IWindowPlacement;

namespace mSubclasser {

// Stores the window's normal rectangle (in pixels) in WindowLeft, WindowTop, WindowWidth and
// WindowHeight, in that order: the restored size persists even for a maximised window.
void SaveWindowPlacement(const IWindowPlacement& window, AppConfig& config);

// Stores a placement in pixels, in the same order.
void storePlacement(const QRect& normal, AppConfig& config);

} // namespace mSubclasser
