#include "app/Assembly.h"

#include "components/Registration.h"
#include "desktop/RegisterDesktop.h"
#include "diag/Debug.h"
#include "outside/Registry.h"

ComponentMakers assembleComponents()
{
    registerCoreComponents();
    registerDesktopComponents();
    ComponentMakers makers = Registry::makers();
    Debug::useLogSinks(makers.logSink);
    return makers;
}
