#pragma once

// Registers the outside components that reach the desktop (help topics open through it).
void RegisterDesktopComponents();
