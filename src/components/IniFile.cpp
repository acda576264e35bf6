#include "components/IniFile.h"

#include "base/SystemError.h"
#include "outside/Interruption.h"
#include "platform/HostName.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

IniFile::Stamp stampFrom(const struct stat& st)
{
    IniFile::Stamp stamp;
    stamp.kind = S_ISREG(st.st_mode) ? IniFile::Stamp::Kind::Regular : IniFile::Stamp::Kind::Other;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.seconds = st.st_mtim.tv_sec;
    stamp.nanoseconds = st.st_mtim.tv_nsec;
    return stamp;
}

bool isMissing(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

// Reads at most limit + 1 bytes, so that a file that grew past the limit since fstat is seen.
// 0, or the error number of the failure.
int readUpTo(int fd, std::int64_t limit, QByteArray& bytes)
{
    bytes.resize(static_cast<qsizetype>(limit + 1));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR) {
            Interruption::check();
            continue;
        }
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    return 0;
}

} // namespace

namespace IniFile {

Stamp stampOf(const QString& hostPath)
{
    struct stat st
    {};
    if (::stat(HostName::encode(hostPath).constData(), &st) == 0)
        return stampFrom(st);
    Stamp stamp;
    stamp.kind = isMissing(errno) ? Stamp::Kind::Missing : Stamp::Kind::Unknown;
    return stamp;
}

Contents read(const QString& hostPath)
{
    Contents contents;
    contents.stamp = stampOf(hostPath);
    if (contents.stamp.kind == Stamp::Kind::Missing) {
        contents.outcome = Contents::Outcome::Missing;
        return contents;
    }
    const UniqueFd fd = HostName::openRegularFile(hostPath, contents.error);
    struct stat st
    {};
    if (!fd)
        return contents;
    if (::fstat(fd.get(), &st) != 0) {
        contents.error = errnoText(errno);
        return contents;
    }
    contents.stamp = stampFrom(st);
    if (st.st_size > kMaxBytes) {
        contents.outcome = Contents::Outcome::TooLarge;
        return contents;
    }
    QByteArray bytes;
    if (const int error = readUpTo(fd.get(), kMaxBytes, bytes); error != 0) {
        contents.error = errnoText(error);
        return contents;
    }
    if (bytes.size() > kMaxBytes) {
        contents.outcome = Contents::Outcome::TooLarge;
        return contents;
    }
    contents.document = IniDocument::parse(bytes);
    contents.outcome = Contents::Outcome::Read;
    return contents;
}

} // namespace IniFile
