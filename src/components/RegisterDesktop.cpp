#include "components/RegisterDesktop.h"

void RegisterDesktopComponents()
{
}
