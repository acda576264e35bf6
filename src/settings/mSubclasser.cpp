#include "settings/mSubclasser.h"

#include "outside/IWindowPlacement.h"
#include "settings/AppConfig.h"

namespace mSubclasser {

void SaveWindowPlacement(const IWindowPlacement& window, AppConfig& config)
{
    const QRect normal = window.normalRectangle();
    config.setWindowLeft(normal.left());
    config.setWindowTop(normal.top());
    config.setWindowWidth(normal.width());
    config.setWindowHeight(normal.height());
}

} // namespace mSubclasser
