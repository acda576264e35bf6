#pragma once

#include <QByteArray>

#include <optional>
#include <sys/types.h>

// Replaces the file at target (an encoded host path) with the bytes given, as a whole: they go to
// a new file of a short name of its own in target's folder (a name built on the target's could
// pass the name limit), are made durable, and the new file is renamed over the target. A reader
// sees the old file or the new one, never half of either. The new file is created with mode
// (the umask applies), or set to exactly the mode given as exact. 0, or the error number of the
// step that failed; the new file is then removed and the target left as it was.
int replaceFile(const QByteArray& target, const QByteArray& bytes, mode_t mode,
                std::optional<mode_t> exact = std::nullopt);

// The same for the file name (one component, no "/") in an open folder: nothing on the way to the
// folder is looked up again, and a link at name is replaced, never followed.
int replaceFileAt(int folder, const QByteArray& name, const QByteArray& bytes, mode_t mode,
                  std::optional<mode_t> exact = std::nullopt);
