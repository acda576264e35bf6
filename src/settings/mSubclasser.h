#pragma once

class AppConfig;
class IWindowPlacement;

namespace mSubclasser {

// Stores the window's normal rectangle (in pixels) in WindowLeft, WindowTop, WindowWidth and
// WindowHeight, in that order: the restored size persists even for a maximised window.
void SaveWindowPlacement(const IWindowPlacement& window, AppConfig& config);

} // namespace mSubclasser
