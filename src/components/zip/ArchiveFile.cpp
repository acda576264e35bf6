#include "components/zip/ArchiveFile.h"

#include "diag/RuntimeError.h"
#include "outside/Interruption.h"
#include "platform/HostName.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBufferSize = 1024 * 1024;
constexpr quint64 kWriteBackStep = 8 * 1024 * 1024;
constexpr quint64 kMax32 = 0xFFFFFFFFu;
constexpr quint16 kMadeByUnix = (3 << 8) | 63;
constexpr quint16 kNeeds = 20;
constexpr quint16 kNeedsZip64 = 45;
constexpr quint16 kUtf8Name = 1 << 11;
constexpr qsizetype kCommentLimit = 65535;
constexpr qint64 kFileTimeOffset = 11644473600LL; // seconds from 1601 to 1970

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void failWrite(int error)
{
    Raise(ErrorNumber::DeviceIoError, QStringLiteral("Cannot write the package: ") + errnoText(error));
}

[[noreturn]] void failCreate(int error)
{
    Raise(ErrorNumber::DeviceIoError, errnoText(error));
}

void put16(QByteArray& out, quint64 v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void put32(QByteArray& out, quint64 v)
{
    put16(out, v & 0xFFFF);
    put16(out, (v >> 16) & 0xFFFF);
}

void put64(QByteArray& out, quint64 v)
{
    put32(out, v & kMax32);
    put32(out, v >> 32);
}

quint64 capped(quint64 v)
{
    return v >= kMax32 ? kMax32 : v;
}

// The DOS date and time of a moment in local time, clamped to the years DOS can hold.
std::pair<quint16, quint16> dosDateTime(qint64 seconds)
{
    const auto t = static_cast<time_t>(seconds);
    tm local{};
    if (!localtime_r(&t, &local) || local.tm_year < 80)
        return {(0 << 9) | (1 << 5) | 1, 0}; // 1980-01-01 00:00:00
    if (local.tm_year > 207)
        return {(127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29}; // 2107-12-31 23:59:58
    const auto date =
        static_cast<quint16>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    const auto time = static_cast<quint16>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    return {date, time};
}

// The exact time: Info-ZIP's extended timestamp where 32 bits hold it (signed before 1970,
// unsigned after 2038, as readers take it by the DOS date), else the NTFS times (64 bits).
QByteArray timeExtra(qint64 seconds)
{
    QByteArray out;
    if (seconds >= -0x80000000LL && seconds <= static_cast<qint64>(kMax32)) {
        put16(out, 0x5455);
        put16(out, 5);
        out += '\x01'; // the modification time only
        put32(out, static_cast<quint64>(seconds) & kMax32);
        return out;
    }
    const qint64 ticks = std::max<qint64>(0, seconds + kFileTimeOffset) * 10'000'000;
    put16(out, 0x000A);
    put16(out, 32);
    put32(out, 0);
    put16(out, 0x0001);
    put16(out, 24);
    for (int i = 0; i < 3; ++i) // modified, accessed, created
        put64(out, static_cast<quint64>(ticks));
    return out;
}

quint32 externalAttributes(quint32 mode)
{
    return (mode != 0 ? mode : (S_IFREG | 0644)) << 16;
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype cut = path.lastIndexOf('/');
    return cut <= 0 ? QByteArray("/") : path.left(cut);
}

QByteArray hiddenBeside(const QByteArray& path)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix;
    for (int i = 0; i < 6; ++i)
        suffix += kLetters[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kLetters - 1))];
    const qsizetype cut = path.lastIndexOf('/');
    return path.left(cut + 1) + '.' + path.mid(cut + 1) + '.' + suffix;
}

void syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // the new name survives a crash; a folder that cannot be synced is no failure
        ::close(fd);
    }
}

} // namespace

ArchiveFile::ArchiveFile(const QString& packageHostPath) : m_target(HostName::Encode(packageHostPath))
{
    if (::access("/proc/self/fd", X_OK) == 0) {
        m_fd = ::open(folderOf(m_target).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            failCreate(errno);
    }
    while (m_fd < 0) { // no unnamed files here: a hidden one beside the package
        m_temporary = hiddenBeside(m_target);
        m_fd = ::open(m_temporary.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST)
            failCreate(errno);
    }
    struct stat st
    {};
    ::fstat(m_fd, &st);
    m_identity = {st.st_dev, st.st_ino};
    m_buffer.reserve(kBufferSize);
}

ArchiveFile::~ArchiveFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
}

void ArchiveFile::writeAt(const char* data, size_t size, quint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            Interruption::Check();
            continue;
        }
        if (n <= 0)
            failWrite(n < 0 ? errno : ENOSPC);
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<quint64>(n);
    }
}

void ArchiveFile::flush()
{
    writeAt(reinterpret_cast<const char*>(m_buffer.data()), m_buffer.size(), m_written);
    m_written += m_buffer.size();
    m_buffer.clear();
    if (m_written - m_synced >= kWriteBackStep) {
        // Start writing back now, so that the fsync at the end has little left to wait for.
        ::sync_file_range(m_fd, static_cast<off_t>(m_synced), static_cast<off_t>(m_written - m_synced),
                          SYNC_FILE_RANGE_WRITE);
        m_synced = m_written;
    }
}

void ArchiveFile::put(const char* data, size_t size)
{
    if (m_buffer.size() + size > kBufferSize)
        flush();
    if (size >= kBufferSize) {
        writeAt(data, size, m_written);
        m_written += size;
        return;
    }
    m_buffer.insert(m_buffer.end(), data, data + size);
}

void ArchiveFile::patch(quint64 offset, const QByteArray& bytes)
{
    const auto size = static_cast<quint64>(bytes.size());
    const quint64 before = offset < m_written ? std::min(size, m_written - offset) : 0;
    if (before > 0)
        writeAt(bytes.constData(), before, offset);
    if (before < size)
        std::memcpy(m_buffer.data() + (offset + before - m_written), bytes.constData() + before,
                    size - before);
}

void ArchiveFile::writeHeader(const EntryHead& head, quint32 crc, quint64 packed, quint64 size)
{
    const auto [date, time] = dosDateTime(head.modified);
    QByteArray extra;
    if (head.zip64) {
        put16(extra, 0x0001);
        put16(extra, 16);
        put64(extra, size);
        put64(extra, packed);
    }
    extra += timeExtra(head.modified);
    QByteArray h;
    h.reserve(30 + head.name.size() + extra.size());
    put32(h, 0x04034b50);
    put16(h, head.zip64 ? kNeedsZip64 : kNeeds);
    put16(h, head.utf8 ? kUtf8Name : 0);
    put16(h, head.deflated ? 8 : 0);
    put16(h, time);
    put16(h, date);
    put32(h, crc);
    put32(h, head.zip64 ? kMax32 : packed);
    put32(h, head.zip64 ? kMax32 : size);
    put16(h, static_cast<quint64>(head.name.size()));
    put16(h, static_cast<quint64>(extra.size()));
    h += head.name;
    h += extra;
    put(h.constData(), static_cast<size_t>(h.size()));
}

void ArchiveFile::addCentral(const EntryHead& head, quint64 offset, quint32 crc, quint64 packed, quint64 size)
{
    const auto [date, time] = dosDateTime(head.modified);
    const bool bigSizes = head.zip64 || packed >= kMax32 || size >= kMax32;
    const bool bigOffset = offset >= kMax32;
    QByteArray extra;
    if (bigSizes || bigOffset) {
        put16(extra, 0x0001);
        put16(extra, (bigSizes ? 16 : 0) + (bigOffset ? 8 : 0));
        if (bigSizes) {
            put64(extra, size);
            put64(extra, packed);
        }
        if (bigOffset)
            put64(extra, offset);
    }
    extra += timeExtra(head.modified);
    QByteArray& c = m_central;
    put32(c, 0x02014b50);
    put16(c, kMadeByUnix);
    put16(c, bigSizes || bigOffset ? kNeedsZip64 : kNeeds);
    put16(c, head.utf8 ? kUtf8Name : 0);
    put16(c, head.deflated ? 8 : 0);
    put16(c, time);
    put16(c, date);
    put32(c, crc);
    put32(c, bigSizes ? kMax32 : packed);
    put32(c, bigSizes ? kMax32 : size);
    put16(c, static_cast<quint64>(head.name.size()));
    put16(c, static_cast<quint64>(extra.size()));
    put16(c, 0); // no entry comment
    put16(c, 0); // disk
    put16(c, 0); // internal attributes
    put32(c, externalAttributes(head.mode));
    put32(c, capped(offset));
    c += head.name;
    c += extra;
    ++m_entries;
}

void ArchiveFile::AddEntry(const EntryHead& head, const Bytes& data, quint32 crc, quint64 size)
{
    const quint64 offset = position();
    writeHeader(head, crc, data.size(), size);
    put(reinterpret_cast<const char*>(data.data()), data.size());
    addCentral(head, offset, crc, data.size(), size);
}

void ArchiveFile::BeginEntry(const EntryHead& head)
{
    m_open.head = head;
    m_open.offset = position();
    writeHeader(head, 0, 0, 0);
    m_open.dataStart = position();
}

void ArchiveFile::Append(const unsigned char* data, size_t size)
{
    put(reinterpret_cast<const char*>(data), size);
}

void ArchiveFile::EndEntry(quint32 crc, quint64 size)
{
    const quint64 packed = position() - m_open.dataStart;
    if (!m_open.head.zip64 && (packed >= kMax32 || size >= kMax32))
        Raise(ErrorNumber::DeviceIoError, QStringLiteral("Cannot write the package: an entry passed 4 GiB"));
    QByteArray fields;
    put32(fields, crc);
    put32(fields, m_open.head.zip64 ? kMax32 : packed);
    put32(fields, m_open.head.zip64 ? kMax32 : size);
    patch(m_open.offset + 14, fields);
    if (m_open.head.zip64) {
        QByteArray sizes;
        put64(sizes, size);
        put64(sizes, packed);
        patch(m_open.offset + 30 + static_cast<quint64>(m_open.head.name.size()) + 4, sizes);
    }
    addCentral(m_open.head, m_open.offset, crc, packed, size);
}

QByteArray ArchiveFile::Comment(const QStringList& lines)
{
    QByteArray all = lines.join(QLatin1Char('\n')).toUtf8();
    if (all.size() <= kCommentLimit)
        return all;
    const QString tail = QStringLiteral("... and %1 more not listed");
    const qsizetype room = kCommentLimit - tail.arg(lines.size()).size() - 1;
    QByteArray kept;
    qsizetype count = 0;
    for (const QString& line : lines) {
        const QByteArray bytes = line.toUtf8();
        if (kept.size() + (count > 0 ? 1 : 0) + bytes.size() > room)
            break;
        if (count++ > 0)
            kept += '\n';
        kept += bytes;
    }
    return kept + (count > 0 ? "\n" : "") + tail.arg(lines.size() - count).toUtf8();
}

void ArchiveFile::Complete(const QStringList& skipped)
{
    const quint64 start = position();
    put(m_central.constData(), static_cast<size_t>(m_central.size()));
    const auto size = static_cast<quint64>(m_central.size());
    m_central.clear();
    m_central.squeeze();
    QByteArray end;
    if (m_entries > 0xFFFF || start >= kMax32 || size >= kMax32) {
        const quint64 at = position();
        put32(end, 0x06064b50); // zip64 end of central directory record
        put64(end, 44);
        put16(end, kMadeByUnix);
        put16(end, kNeedsZip64);
        put32(end, 0);
        put32(end, 0);
        put64(end, m_entries);
        put64(end, m_entries);
        put64(end, size);
        put64(end, start);
        put32(end, 0x07064b50); // its locator
        put32(end, 0);
        put64(end, at);
        put32(end, 1);
    }
    const QByteArray comment = Comment(skipped);
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, std::min<quint64>(m_entries, 0xFFFF));
    put16(end, std::min<quint64>(m_entries, 0xFFFF));
    put32(end, capped(size));
    put32(end, capped(start));
    put16(end, static_cast<quint64>(comment.size()));
    end += comment;
    put(end.constData(), static_cast<size_t>(end.size()));
    flush();
    if (::fsync(m_fd) != 0)
        failWrite(errno);
    linkIn();
    syncFolder(folderOf(m_target));
}

void ArchiveFile::linkIn()
{
    if (!m_temporary.isEmpty()) {
        if (::rename(m_temporary.constData(), m_target.constData()) != 0)
            failWrite(errno);
        m_temporary.clear();
        return;
    }
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_target.constData(), AT_SYMLINK_FOLLOW) == 0)
        return;
    if (errno != EEXIST)
        failWrite(errno);
    // A file is there: link under a hidden name, then rename over it in one step.
    for (;;) {
        const QByteArray hidden = hiddenBeside(m_target);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, hidden.constData(), AT_SYMLINK_FOLLOW) == 0) {
            if (::rename(hidden.constData(), m_target.constData()) == 0)
                return;
            const int error = errno;
            ::unlink(hidden.constData());
            failWrite(error);
        }
        if (errno != EEXIST)
            failWrite(errno);
    }
}
