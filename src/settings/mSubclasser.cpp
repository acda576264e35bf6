#include "settings/mSubclasser.h"

#include "outside/IWindowPlacement.h"
#include "settings/AppConfig.h"

namespace mSubclasser {

void SaveWindowPlacement(const IWindowPlacement& window, AppConfig& config)
{
    const QRect normal = window.NormalRectangle();
    config.SetWindowLeft(normal.left());
    config.SetWindowTop(normal.top());
    config.SetWindowWidth(normal.width());
    config.SetWindowHeight(normal.height());
}

} // namespace mSubclasser
