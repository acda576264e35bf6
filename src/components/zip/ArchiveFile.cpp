#include "components/zip/ArchiveFile.h"

#include "base/PackageFormat.h"
#include "base/RuntimeError.h"
#include "base/SystemError.h"
#include "outside/Interruption.h"
#include "platform/HostName.h"

#include <QCryptographicHash>
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

[[noreturn]] void failWrite(int error)
{
    raiseError(ErrorNumber::DeviceIoError, QStringLiteral("Cannot write the package: ") + errnoText(error));
}

[[noreturn]] void failCreate(int error)
{
    raiseError(ErrorNumber::DeviceIoError, errnoText(error));
}

// Appends little-endian fields: each a value and its width in bytes.
void putFields(QByteArray& out, std::initializer_list<std::pair<quint64, int>> fields)
{
    for (const auto& [value, bytes] : fields)
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
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
        putFields(
            out, {{0x5455, 2}, {5, 2}, {1, 1}, {static_cast<quint64>(seconds) & kMax32, 4}}); // modified only
        return out;
    }
    const auto ticks = static_cast<quint64>(std::max<qint64>(0, seconds + kFileTimeOffset) * 10'000'000);
    putFields(out, {{0x000A, 2}, {32, 2}, {0, 4}, {0x0001, 2}, {24, 2}, {ticks, 8}, {ticks, 8}, {ticks, 8}});
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

// A hidden name in the package's folder, short whatever the package's name.
QByteArray hiddenBeside(const QByteArray& path)
{
    const qsizetype cut = path.lastIndexOf('/');
    return path.left(cut + 1) + ".ts6satchel-" +
           QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".zip";
}

void syncFolder(const QByteArray& folder)
{
    if (const UniqueFd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); fd)
        ::fsync(fd.get()); // the new name survives a crash; a folder that cannot be synced is no failure
}

} // namespace

ArchiveFile::ArchiveFile(const QString& packageHostPath) : m_target(HostName::encode(packageHostPath))
{
    if (::access("/proc/self/fd", X_OK) == 0) {
        m_fd.reset(::open(folderOf(m_target).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (!m_fd && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            failCreate(errno);
    }
    while (!m_fd) { // no unnamed files here: a hidden one beside the package
        m_temporary = hiddenBeside(m_target);
        m_fd.reset(::open(m_temporary.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!m_fd && errno != EEXIST)
            failCreate(errno);
    }
    struct stat st
    {};
    ::fstat(m_fd.get(), &st);
    m_identity = {st.st_dev, st.st_ino};
    m_buffer.reserve(kBufferSize);
}

ArchiveFile::~ArchiveFile()
{
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
}

void ArchiveFile::writeAt(const char* data, size_t size, quint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd.get(), data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            Interruption::check();
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
        ::sync_file_range(m_fd.get(), static_cast<off_t>(m_synced), static_cast<off_t>(m_written - m_synced),
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
    if (head.zip64)
        putFields(extra, {{0x0001, 2}, {16, 2}, {size, 8}, {packed, 8}});
    extra += timeExtra(head.modified);
    QByteArray h;
    putFields(h, {{PackageFormat::kLocalHeader, 4},
                  {head.zip64 ? kNeedsZip64 : kNeeds, 2},
                  {head.utf8 ? kUtf8Name : 0, 2},
                  {head.deflated ? 8 : 0, 2},
                  {time, 2},
                  {date, 2},
                  {crc, 4},
                  {head.zip64 ? kMax32 : packed, 4},
                  {head.zip64 ? kMax32 : size, 4},
                  {static_cast<quint64>(head.name.size()), 2},
                  {static_cast<quint64>(extra.size()), 2}});
    h += head.name;
    h += extra;
    put(h.constData(), static_cast<size_t>(h.size()));
}

void ArchiveFile::addCentral(const EntryHead& head, quint64 offset, quint32 crc, quint64 packed, quint64 size)
{
    const auto [date, time] = dosDateTime(head.modified);
    const bool bigSizes = head.zip64 || packed >= kMax32 || size >= kMax32;
    const bool bigOffset = offset >= kMax32;
    QByteArray extra; // zip64: the sizes, the offset, or both
    if (bigSizes || bigOffset)
        putFields(extra, {{0x0001, 2}, {(bigSizes ? 16 : 0) + (bigOffset ? 8 : 0), 2}});
    if (bigSizes)
        putFields(extra, {{size, 8}, {packed, 8}});
    if (bigOffset)
        putFields(extra, {{offset, 8}});
    extra += timeExtra(head.modified);
    QByteArray& c = m_central;
    putFields(c, {{PackageFormat::kCentralHeader, 4},
                  {kMadeByUnix, 2},
                  {bigSizes || bigOffset ? kNeedsZip64 : kNeeds, 2},
                  {head.utf8 ? kUtf8Name : 0, 2},
                  {head.deflated ? 8 : 0, 2},
                  {time, 2},
                  {date, 2},
                  {crc, 4},
                  {bigSizes ? kMax32 : packed, 4},
                  {bigSizes ? kMax32 : size, 4},
                  {static_cast<quint64>(head.name.size()), 2},
                  {static_cast<quint64>(extra.size()), 2},
                  {0, 2}, // no entry comment
                  {0, 2}, // disk
                  {0, 2}, // internal attributes
                  {externalAttributes(head.mode), 4},
                  {capped(offset), 4}});
    c += head.name;
    c += extra;
    ++m_entries;
}

void ArchiveFile::addEntry(const EntryHead& head, const Bytes& data, quint32 crc, quint64 size)
{
    const quint64 offset = position();
    writeHeader(head, crc, data.size(), size);
    put(reinterpret_cast<const char*>(data.data()), data.size());
    addCentral(head, offset, crc, data.size(), size);
}

void ArchiveFile::beginEntry(const EntryHead& head)
{
    m_open.head = head;
    m_open.offset = position();
    writeHeader(head, 0, 0, 0);
    m_open.dataStart = position();
}

void ArchiveFile::append(const unsigned char* data, size_t size)
{
    put(reinterpret_cast<const char*>(data), size);
}

void ArchiveFile::endEntry(quint32 crc, quint64 size)
{
    const quint64 packed = position() - m_open.dataStart;
    if (!m_open.head.zip64 && (packed >= kMax32 || size >= kMax32))
        raiseError(ErrorNumber::DeviceIoError,
                   QStringLiteral("Cannot write the package: an entry passed 4 GiB"));
    QByteArray fields;
    putFields(fields,
              {{crc, 4}, {m_open.head.zip64 ? kMax32 : packed, 4}, {m_open.head.zip64 ? kMax32 : size, 4}});
    patch(m_open.offset + 14, fields);
    if (m_open.head.zip64) { // and in the zip64 field that follows the name
        QByteArray sizes;
        putFields(sizes, {{size, 8}, {packed, 8}});
        patch(m_open.offset + 30 + static_cast<quint64>(m_open.head.name.size()) + 4, sizes);
    }
    addCentral(m_open.head, m_open.offset, crc, packed, size);
}

QByteArray ArchiveFile::comment(const QStringList& lines)
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

QByteArray ArchiveFile::complete(const QStringList& skipped, bool digest,
                                 const std::function<void()>& beforeName)
{
    const quint64 start = position();
    put(m_central.constData(), static_cast<size_t>(m_central.size()));
    const auto size = static_cast<quint64>(m_central.size());
    m_central.clear();
    m_central.squeeze();
    QByteArray end;
    if (m_entries > 0xFFFF || start >= kMax32 || size >= kMax32) {
        const quint64 at = position();
        putFields(end, {{PackageFormat::kZip64End, 4},
                        {44, 8},
                        {kMadeByUnix, 2},
                        {kNeedsZip64, 2},
                        {0, 4},
                        {0, 4}, // zip64 end record
                        {m_entries, 8},
                        {m_entries, 8},
                        {size, 8},
                        {start, 8}});
        putFields(end, {{PackageFormat::kZip64Locator, 4}, {0, 4}, {at, 8}, {1, 4}}); // its locator
    }
    const QByteArray text = comment(skipped);
    const quint64 count = std::min<quint64>(m_entries, 0xFFFF);
    putFields(end, {{PackageFormat::kEndOfDirectory, 4},
                    {0, 2},
                    {0, 2},
                    {count, 2},
                    {count, 2},
                    {capped(size), 4},
                    {capped(start), 4},
                    {static_cast<quint64>(text.size()), 2}});
    end += text;
    put(end.constData(), static_cast<size_t>(end.size()));
    flush();
    if (::fsync(m_fd.get()) != 0)
        failWrite(errno);
    QByteArray hash = digest ? sha256() : QByteArray();
    if (beforeName)
        beforeName();
    linkIn();
    syncFolder(folderOf(m_target));
    return hash;
}

QByteArray ArchiveFile::sha256() const
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (quint64 offset = 0; offset < m_written;) {
        Interruption::check();
        const ssize_t n =
            ::pread(m_fd.get(), block.data(), static_cast<size_t>(block.size()), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            raiseError(ErrorNumber::DeviceIoError,
                       QStringLiteral("Cannot read the package back: ") + errnoText(n < 0 ? errno : EIO));
        hash.addData(QByteArrayView(block.constData(), n));
        offset += static_cast<quint64>(n);
    }
    Interruption::check(); // a signal while the last block was read leaves no package either
    return hash.result().toHex();
}

void ArchiveFile::linkIn()
{
    if (!m_temporary.isEmpty()) {
        if (::rename(m_temporary.constData(), m_target.constData()) != 0)
            failWrite(errno);
        m_temporary.clear();
        return;
    }
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd.get());
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
