#include "case/ControlFolder.h"

#include "base/SystemError.h"

#include <QFile>
#include <QRandomGenerator>

#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kPrefix[] = "ts6c-";

using Directory = unique_c_ptr<DIR, ::closedir>;

// Removes every entry of the open folder that is no folder (a socket, a lock): false when a folder
// stands in it, which no run of ours leaves.
bool emptyFolder(int folder)
{
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const Directory dir(listed >= 0 ? ::fdopendir(listed) : nullptr);
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return false;
    }
    bool plain = true;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat status
        {};
        if (::fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(status.st_mode))
            plain = false;
        else
            ::unlinkat(folder, entry->d_name, 0);
    }
    return plain;
}

// Whether base/name is a control folder of a dead run: a private folder of the user's own, no link,
// that no run holds locked. Its descriptor, locked now by this run, when it is.
UniqueFd deadRunFolder(int base, const char* name)
{
    struct stat status
    {};
    if (::fstatat(base, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)
        return {};
    UniqueFd folder(::openat(base, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder || ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0)
        return {};
    return folder;
}

} // namespace

QStringList removeStaleControlFolders(const QString& base)
{
    QStringList removed;
    const UniqueFd baseFd(::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int listed = baseFd ? ::dup(baseFd.get()) : -1;
    const Directory dir(listed >= 0 ? ::fdopendir(listed) : nullptr);
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return removed;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strncmp(entry->d_name, kPrefix, sizeof kPrefix - 1) != 0)
            continue;
        const UniqueFd folder = deadRunFolder(baseFd.get(), entry->d_name);
        if (folder && emptyFolder(folder.get()) && ::unlinkat(baseFd.get(), entry->d_name, AT_REMOVEDIR) == 0)
            removed << QFile::decodeName(entry->d_name);
    }
    return removed;
}

std::optional<ControlFolder> ControlFolder::create(const QString& base, QString* why)
{
    removeStaleControlFolders(base);
    // Made under another name and locked before it takes its own, so that no other run ever sees
    // it unlocked.
    QByteArray made = QFile::encodeName(base) + "/ts6n-XXXXXX";
    if (::mkdtemp(made.data()) == nullptr) {
        *why = QStringLiteral("cannot make a private folder for the connections in %1: %2")
                   .arg(base, errnoText(errno));
        return std::nullopt;
    }
    UniqueFd folder(::open(made.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder || ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) {
        *why = QStringLiteral("cannot lock the folder %1: %2").arg(QFile::decodeName(made), errnoText(errno));
        ::rmdir(made.constData());
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name =
            QFile::encodeName(base) + '/' + kPrefix +
            QByteArray::number(QRandomGenerator::global()->generate64() % 2176782336ULL, 36);
        if (::renameat2(AT_FDCWD, made.constData(), AT_FDCWD, name.constData(), RENAME_NOREPLACE) == 0)
            return ControlFolder(QFile::decodeName(name), std::move(folder));
        if (errno != EEXIST)
            break;
    }
    *why = QStringLiteral("cannot name the folder %1: %2").arg(QFile::decodeName(made), errnoText(errno));
    ::rmdir(made.constData());
    return std::nullopt;
}

ControlFolder::~ControlFolder()
{
    remove();
}

ControlFolder& ControlFolder::operator=(ControlFolder&& other) noexcept
{
    if (this != &other) {
        remove();
        m_path = std::move(other.m_path);
        m_folder = std::move(other.m_folder);
    }
    return *this;
}

void ControlFolder::remove() noexcept
{
    if (!m_folder)
        return;
    // The sockets of masters that were stopped go with it.
    emptyFolder(m_folder.get());
    ::rmdir(QFile::encodeName(m_path).constData());
    m_folder.reset();
}
