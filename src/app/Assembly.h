#pragma once

#include "outside/ComponentMakers.h"

// Where the program is assembled: registers its own implementation of every outside component,
// starts the trace on the registered log sink, and returns the makers the windows and their
// controller are built with.
ComponentMakers assembleComponents();
