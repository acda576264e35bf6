#include "platform/FileReplacement.h"

#include "base/CHandle.h"
#include "base/SystemError.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int replaceFile(const QByteArray& target, const QByteArray& bytes, mode_t mode, std::optional<mode_t> exact)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folderPath = slash < 0    ? QByteArray(".")
                                  : slash == 0 ? QByteArray("/")
                                               : target.left(slash);
    // A place only: the folder need not be readable for its files to be replaced.
    const UniqueFd folder(::open(folderPath.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        return errno;
    return replaceFileAt(folder.get(), target.mid(slash + 1), bytes, mode, exact);
}

int replaceFileAt(int folder, const QByteArray& name, const QByteArray& bytes, mode_t mode,
                  std::optional<mode_t> exact)
{
    QByteArray temporary;
    UniqueFd file;
    while (!file) {
        temporary = ".ts6satchel-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        file.reset(::openat(folder, temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!file && errno != EEXIST)
            return errno;
    }
    int error = exact && ::fchmod(file.get(), *exact) != 0 ? errno : 0;
    if (error == 0)
        error = writeAll(file.get(), bytes);
    if (error == 0 && ::fsync(file.get()) != 0)
        error = errno;
    if (error == 0 && !file.close())
        error = errno;
    if (error == 0 && ::renameat(folder, temporary.constData(), folder, name.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlinkat(folder, temporary.constData(), 0);
        return error;
    }
    // The new name survives a crash; a folder that cannot be synced is no failure.
    const UniqueFd synced(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (synced)
        ::fsync(synced.get());
    return 0;
}
