#include "components/zip/ZipOutput.h"

#include <minizip/ioapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t kBufferSize = 1024 * 1024;

} // namespace

// The C hooks minizip calls; the opaque pointer is the ZipOutput.
struct ZipOutputHooks
{
    static ZipOutput& self(voidpf opaque) { return *static_cast<ZipOutput*>(opaque); }

    static voidpf ZCALLBACK open(voidpf opaque, const void* filename, int)
    {
        return self(opaque).open(static_cast<const char*>(filename)) ? opaque : nullptr;
    }
    static uLong ZCALLBACK read(voidpf, voidpf, void*, uLong) { return 0; }
    static uLong ZCALLBACK write(voidpf opaque, voidpf, const void* buf, uLong size)
    {
        return self(opaque).write(buf, size);
    }
    static ZPOS64_T ZCALLBACK tell(voidpf opaque, voidpf) { return self(opaque).tell(); }
    static long ZCALLBACK seek(voidpf opaque, voidpf, ZPOS64_T offset, int origin)
    {
        return self(opaque).seek(offset, origin);
    }
    static int ZCALLBACK close(voidpf opaque, voidpf) { return self(opaque).close(); }
    static int ZCALLBACK error(voidpf opaque, voidpf) { return self(opaque).failed() ? 1 : 0; }
};

ZipOutput::ZipOutput()
{
    m_buffer.reserve(kBufferSize);
}

ZipOutput::~ZipOutput()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ZipOutput::fillFunctions(zlib_filefunc64_def_s& f)
{
    f.zopen64_file = &ZipOutputHooks::open;
    f.zread_file = &ZipOutputHooks::read;
    f.zwrite_file = &ZipOutputHooks::write;
    f.ztell64_file = &ZipOutputHooks::tell;
    f.zseek64_file = &ZipOutputHooks::seek;
    f.zclose_file = &ZipOutputHooks::close;
    f.zerror_file = &ZipOutputHooks::error;
    f.opaque = this;
}

QString ZipOutput::errorText() const
{
    return QString::fromLocal8Bit(std::strerror(m_errno));
}

long ZipOutput::writeAt(int fd, const unsigned char* data, size_t size, std::uint64_t offset)
{
    return static_cast<long>(::pwrite(fd, data, size, static_cast<off_t>(offset)));
}

bool ZipOutput::open(const char* path)
{
    m_fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (m_fd < 0)
        m_errno = errno;
    return m_fd >= 0;
}

bool ZipOutput::writeOut(const unsigned char* data, size_t size, std::uint64_t offset)
{
    while (size > 0) {
        errno = 0;
        const long n = writeAt(m_fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_errno = errno != 0 ? errno : ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool ZipOutput::flush()
{
    if (m_buffer.empty())
        return !failed();
    const bool ok = writeOut(m_buffer.data(), m_buffer.size(), m_bufferStart);
    m_bufferStart += m_buffer.size();
    m_buffer.clear();
    return ok;
}

unsigned long ZipOutput::write(const void* data, unsigned long size)
{
    if (failed())
        return 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t remaining = size;
    std::uint64_t position = m_position;
    if (position < m_bufferStart) {
        // A header written before the buffer began: patched in the file itself.
        const size_t before =
            static_cast<size_t>(std::min<std::uint64_t>(remaining, m_bufferStart - position));
        if (!writeOut(bytes, before, position))
            return 0;
        bytes += before;
        remaining -= before;
        position += before;
    }
    if (remaining > 0) {
        if (position > m_bufferStart + m_buffer.size()) { // past the end: a new buffer there
            if (!flush())
                return 0;
            m_bufferStart = position;
        }
        const size_t at = static_cast<size_t>(position - m_bufferStart);
        const size_t overlap = std::min(remaining, m_buffer.size() - at);
        std::memcpy(m_buffer.data() + at, bytes, overlap);
        m_buffer.insert(m_buffer.end(), bytes + overlap, bytes + remaining);
        if (m_buffer.size() >= kBufferSize && !flush())
            return 0;
    }
    m_position += size;
    m_end = std::max(m_end, m_position);
    return size;
}

long ZipOutput::seek(std::uint64_t offset, int origin)
{
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        m_position = offset;
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        m_position += offset;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        m_position = m_end + offset;
        break;
    default:
        return -1;
    }
    return 0;
}

int ZipOutput::close()
{
    const bool ok = flush();
    if (m_fd >= 0 && ::close(m_fd) != 0 && ok)
        m_errno = errno;
    m_fd = -1;
    return ok && !failed() ? 0 : -1;
}
