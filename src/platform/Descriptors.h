#pragma once

#include "base/CHandle.h"

#include <QByteArray>

// File descriptors as the walks and reads of a build use them.
namespace Descriptors {

// Opens a path below an open folder without following any symbolic link on the way or at its
// end (the folder itself may have been reached through one), so a link swapped into a tree while
// it is walked never leads out of it. flags are open(2)'s; O_NOFOLLOW and O_CLOEXEC are added.
// The path is relative ("." for the folder itself), its components separated by "/". On failure
// the descriptor is empty and errno tells why: ELOOP when a symbolic link stands on the way.
UniqueFd openBeneath(int folder, const QByteArray& relative, int flags);
// The same, one component at a time: what openBeneath does where the system cannot resolve a
// whole path without links in one call.
UniqueFd openBeneathByComponents(int folder, const QByteArray& relative, int flags);

// Raises the soft limit on open descriptors to the hard one.
void raiseLimit();
// How many more descriptors the process may open now under its soft limit.
int spare();

} // namespace Descriptors
