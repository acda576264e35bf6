#include "settings/mSubclasser.h"

#include "outside/IWindowPlacement.h"
#include "settings/AppConfig.h"

namespace mSubclasser {

void SaveWindowPlacement(const IWindowPlacement& window, AppConfig& config)
{
    storePlacement(window.normalRectangle(), config);
}

void storePlacement(const QRect& normal, AppConfig& config)
{
    config.setWindowLeft(normal.left());
    config.setWindowTop(normal.top());
    config.setWindowWidth(normal.width());
    config.setWindowHeight(normal.height());
}

} // namespace mSubclasser
