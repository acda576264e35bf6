#pragma once

// Registers the program's own implementation of every outside component that needs no window.
void registerCoreComponents();
