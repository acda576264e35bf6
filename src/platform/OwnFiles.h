#pragma once

#include "base/CHandle.h"

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/stat.h>

// The files and folders of a case, which one user collects and another may resume, upload or read:
// what another user could have planted or changed is refused before the program acts on it. A
// path is taken only when it is no symbolic link (at its end), is of the expected kind, belongs to
// the user running the program and no one else may write it.
namespace OwnFiles {

// Why what has this status may not be trusted, in words for a message ("it is a symbolic link",
// "it belongs to another user", "others may write it"...); empty when it may.
QString whyUntrusted(const struct stat& status, bool folder);

// Why a path could not be opened, naming it as shown: a link at its end is told as the link it is.
QString openFailure(const QString& shown, int error);

// Whether what fd holds may be trusted (a folder or a regular file, as asked); the reason, naming
// shown, in why when not.
bool isTrusted(int fd, bool folder, const QString& shown, QString* why);

// Opens a regular file of the user's own, name relative to the open folder (or AT_FDCWD), without
// following a link at its end; flags are open(2)'s (O_NOFOLLOW, O_CLOEXEC and O_NONBLOCK are added,
// the last taken off again once open), mode is for O_CREAT. An empty descriptor and a reason in why
// (naming shown) when it is refused or cannot be opened.
UniqueFd openOwnFileAt(int folder, const QByteArray& name, int flags, const QString& shown, QString* why,
                       mode_t mode = 0600);
UniqueFd openOwnFile(const QString& path, int flags, QString* why);

// The whole of a regular file of the user's own of at most maxBytes.
std::optional<QByteArray> readOwnFileAt(int folder, const QByteArray& name, qint64 maxBytes,
                                        const QString& shown, QString* why);
std::optional<QByteArray> readOwnFile(const QString& path, qint64 maxBytes, QString* why);

// Whether path is a folder of the user's own, no link, that no one else may write.
bool isOwnFolder(const QString& path, QString* why);

} // namespace OwnFiles
