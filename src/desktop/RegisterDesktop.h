#pragma once

#include <QString>

// Registers the outside components that reach the desktop (help topics open through it).
void registerDesktopComponents();

// Hands a web address, a mailto: text or a host file to the desktop's handler for it.
bool openOnDesktop(const QString& urlOrHostPath);
