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
    const QByteArray folder = target.left(target.lastIndexOf('/') + 1);
    QByteArray temporary;
    UniqueFd file;
    while (!file) {
        temporary =
            folder + ".ts6satchel-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        file.reset(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
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
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return error;
    }
    // The new name survives a crash; a folder that cannot be synced is no failure.
    const UniqueFd directory(
        ::open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory)
        ::fsync(directory.get());
    return 0;
}
