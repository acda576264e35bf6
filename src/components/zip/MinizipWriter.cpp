#include "components/zip/MinizipWriter.h"

#include "components/zip/Compressors.h"
#include "platform/DirectoryCache.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"
#include "platform/Wildcard.h"

#include <QFile>
#include <QFileInfo>

#include <libdeflate.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kProbe = 64 * 1024;
constexpr uLong kUtf8Names = 1u << 11;
constexpr qint64 kZip64Threshold = 0xF0000000LL; // leaves room for a file that grows while read
constexpr int kMaxDepth = 4096;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool hasWildcard(const QString& name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

tm_zip zipTime(time_t seconds)
{
    tm local{};
    localtime_r(&seconds, &local);
    tm_zip t{};
    t.tm_sec = static_cast<uInt>(local.tm_sec);
    t.tm_min = static_cast<uInt>(local.tm_min);
    t.tm_hour = static_cast<uInt>(local.tm_hour);
    t.tm_mday = static_cast<uInt>(local.tm_mday);
    t.tm_mon = static_cast<uInt>(local.tm_mon);
    t.tm_year = static_cast<uInt>(local.tm_year + 1900);
    return t;
}

struct Fd
{
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// Reads until the buffer is full or the file ends; a read error ends the reading and is kept.
size_t readFully(int fd, unsigned char* buffer, size_t size, QString& error)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errnoText(errno);
            break;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

constexpr std::chrono::milliseconds kHookInterval(50);

} // namespace

struct MinizipWriter::Archive
{
    zipFile handle = nullptr;
    ~Archive()
    {
        if (handle)
            zipClose(handle, nullptr);
    }
};

struct MinizipWriter::Chunk
{
    Bytes data; // the input, then what goes into the archive
    uLong crc = 0;
    size_t size = 0;
    bool done = false;
};

struct MinizipWriter::Entry
{
    Candidate candidate;
    bool chunked = false;
    bool zip64 = false;
    bool deflated = false;
    time_t modified = 0;
    qint64 budget = 0; // bytes it holds in flight
    // A whole file, filled in by a worker (and read by the adding thread when the add named it).
    bool read = false;
    bool done = false;
    QString skipReason; // not empty: the file is skipped
    Bytes data;
    uLong crc = 0;
    quint64 size = 0;
    QString readError;
    // A file in chunks, filled in by the adding thread and the workers.
    std::deque<std::shared_ptr<Chunk>> chunks;
    bool allQueued = false;
    bool opened = false;
};

// Reads, checks and compresses one whole file on a worker.
void MinizipWriter::readWholeFile(Entry& e)
{
    const Fd file(::open(HostName::Encode(e.candidate.hostPath).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st
    {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        e.skipReason = errnoText(errno);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        e.skipReason = S_ISDIR(st.st_mode) ? errnoText(EISDIR) : QStringLiteral("Not a regular file");
        return;
    }
    e.modified = st.st_mtim.tv_sec;
    // Room for a file that grows while it is read, within a bound: it is stored as read.
    const auto capacity =
        static_cast<size_t>(std::min<qint64>(st.st_size + 65536, 2 * MinizipWriter::kWholeFileLimit));
    Bytes input(capacity);
    input.resize(readFully(file.fd, input.data(), input.size(), e.readError));
    e.size = input.size();
    e.data = std::move(input);
    e.read = true;
}

void MinizipWriter::compressWholeFile(Entry& e)
{
    if (!e.read)
        readWholeFile(e);
    if (!e.skipReason.isEmpty())
        return;
    e.crc = libdeflate_crc32(0, e.data.data(), e.data.size());
    Bytes packed;
    e.deflated = Compressors::DeflateWhole(e.data.data(), e.data.size(), packed);
    if (e.deflated)
        e.data = std::move(packed);
}

MinizipWriter::MinizipWriter(int workers, ZipOutputFactory output)
    : m_pool(std::make_unique<WorkerPool>(workers)), m_makeOutput(output)
{}

QString MinizipWriter::writeFailure() const
{
    return QStringLiteral("Cannot write the package: ") +
           (m_output && m_output->failed() ? m_output->errorText() : errnoText(errno));
}

MinizipWriter::~MinizipWriter()
{
    m_pool.reset(); // running jobs finish, the rest are dropped
    discard();
}

bool MinizipWriter::fail(const QString& why)
{
    m_lastError = why;
    return false;
}

// minizip counts entries in the 16-bit fields of the end record only; past 65,535 entries the
// zip64 end record and its locator go in before it, as readers then expect.
bool MinizipWriter::addZip64Directory()
{
    const Fd file(::open(HostName::Encode(m_tempPath).constData(), O_RDWR | O_CLOEXEC));
    struct stat st
    {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0)
        return fail(QStringLiteral("Cannot complete the package: ") + errnoText(errno));
    const qint64 size = st.st_size;
    const qint64 tailSize = std::min<qint64>(size, 22 + 65535 + 20);
    QByteArray tail(tailSize, '\0');
    if (::pread(file.fd, tail.data(), static_cast<size_t>(tailSize), size - tailSize) != tailSize)
        return fail(QStringLiteral("Cannot complete the package: ") + errnoText(errno));
    const auto u16 = [&](qsizetype at) {
        return static_cast<quint16>(static_cast<quint8>(tail[at]) | (static_cast<quint8>(tail[at + 1]) << 8));
    };
    const auto u32 = [&](qsizetype at) {
        return static_cast<quint32>(u16(at) | (static_cast<quint32>(u16(at + 2)) << 16));
    };
    qsizetype end = -1;
    for (qsizetype at = tailSize - 22; at >= 0 && end < 0; --at)
        if (u32(at) == 0x06054b50 && at + 22 + u16(at + 20) == tailSize)
            end = at;
    if (end < 0)
        return fail(QStringLiteral("Cannot complete the package: no end record"));
    if (end >= 20 && u32(end - 20) == 0x07064b50)
        return true; // minizip wrote the zip64 records itself
    const quint64 directorySize = u32(end + 12);
    const quint64 directoryOffset = u32(end + 16);
    const QByteArray comment = tail.mid(end + 22);
    const quint64 zip64At = static_cast<quint64>(size - tailSize + end);
    QByteArray records;
    const auto put = [&](quint64 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            records += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(0x06064b50, 4); // zip64 end of central directory record
    put(44, 8);
    put(45, 2);
    put(45, 2);
    put(0, 4);
    put(0, 4);
    put(m_entries, 8);
    put(m_entries, 8);
    put(directorySize, 8);
    put(directoryOffset, 8);
    put(0x07064b50, 4); // its locator
    put(0, 4);
    put(zip64At, 8);
    put(1, 4);
    put(0x06054b50, 4); // the end record, its counts saying "see zip64"
    put(0, 2);
    put(0, 2);
    put(0xFFFF, 2);
    put(0xFFFF, 2);
    put(directorySize, 4);
    put(directoryOffset, 4);
    put(static_cast<quint64>(comment.size()), 2);
    records += comment;
    if (::pwrite(file.fd, records.constData(), static_cast<size_t>(records.size()),
                 static_cast<off_t>(zip64At)) != records.size())
        return fail(QStringLiteral("Cannot complete the package: ") + errnoText(errno));
    return true;
}

void MinizipWriter::discard()
{
    m_archive.reset();
    m_output.reset();
    if (!m_tempPath.isEmpty())
        ::unlink(HostName::Encode(m_tempPath).constData());
    m_tempPath.clear();
}

bool MinizipWriter::SetArchivePath(const QString& path)
{
    discard();
    m_names.clear();
    m_skipped.clear();
    m_archivePath.clear();
    m_pending.clear();
    m_inFlight = 0;
    m_entries = 0;
    const std::optional<QString> host = HostPath::ForWriting(path);
    if (!host)
        return fail(QStringLiteral("The folder of the package does not exist: ") + path);
    if (HostName::IsDirectory(*host))
        return fail(QStringLiteral("The package path is a folder: ") + path);
    const qsizetype cut = host->lastIndexOf(QLatin1Char('/'));
    QByteArray temp = HostName::Encode(host->left(cut + 1) + QLatin1Char('.') + host->mid(cut + 1) +
                                       QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return fail(QStringLiteral("Cannot create the package ") + path + QStringLiteral(": ") +
                    errnoText(errno));
    ::close(fd);
    m_tempPath = HostName::Decode(temp);
    m_output = m_makeOutput ? m_makeOutput() : std::make_unique<ZipOutput>();
    zlib_filefunc64_def functions{};
    m_output->fillFunctions(functions);
    m_archive = std::make_unique<Archive>();
    m_archive->handle = zipOpen2_64(temp.constData(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!m_archive->handle) {
        const QString why = m_output->failed() ? m_output->errorText() : errnoText(errno);
        discard();
        return fail(QStringLiteral("Cannot create the package ") + path + QStringLiteral(": ") + why);
    }
    m_archivePath = *host;
    return true;
}

bool MinizipWriter::Add(const QString& source, bool includeSubfolders, bool keepFolderPath, const QString&)
{
    if (!m_archive)
        return fail(QStringLiteral("No package is open"));
    std::vector<Candidate> candidates;
    collect(source, includeSubfolders, keepFolderPath, candidates);
    for (const Candidate& candidate : candidates)
        if (!queue(candidate)) {
            discard();
            return false;
        }
    if (!drain(false)) {
        discard();
        return false;
    }
    return true;
}

void MinizipWriter::collect(const QString& source, bool includeSubfolders, bool keepFolderPath,
                            std::vector<Candidate>& out)
{
    const qsizetype cut =
        std::max(source.lastIndexOf(QLatin1Char('\\')), source.lastIndexOf(QLatin1Char('/')));
    const QString last = source.mid(cut + 1);
    if (hasWildcard(last)) {
        const QString handedFolder = source.left(std::max<qsizetype>(cut, 0));
        const std::optional<HostLocation> folder = HostPath::Resolve(handedFolder);
        if (!folder || !HostName::IsDirectory(folder->hostPath()))
            return;
        collectFolder(folder->hostPath(), handedFolder, last, includeSubfolders, keepFolderPath,
                      folder->entryName(), out, 0);
        return;
    }
    const std::optional<HostLocation> file = HostPath::Resolve(source);
    if (!file || HostName::IsDirectory(file->hostPath()))
        return; // nothing there, or a folder named without a pattern: adds nothing
    const QString name =
        keepFolderPath ? file->entryName() : file->components.value(file->components.size() - 1);
    out.push_back({file->hostPath(), name, source, true});
}

void MinizipWriter::collectFolder(const QString& hostFolder, const QString& handedFolder,
                                  const QString& pattern, bool includeSubfolders, bool keepFolderPath,
                                  const QString& entryFolder, std::vector<Candidate>& out, int depth)
{
    const std::shared_ptr<const DirectoryListing> listing = DirectoryCache::List(hostFolder);
    if (!listing)
        return;
    const QString folded = FoldName(pattern);
    std::vector<const DirectoryEntry*> subfolders;
    for (const DirectoryEntry& entry : listing->entries) {
        if (entry.name == QLatin1String(".") || entry.name == QLatin1String(".."))
            continue;
        const QString hostPath = hostFolder + QLatin1Char('/') + entry.name;
        if (entry.isDirectory) {
            struct stat st
            {};
            // Never into a link to a folder: it may lead anywhere, or round in a loop.
            if (includeSubfolders && ::lstat(HostName::Encode(hostPath).constData(), &st) == 0 &&
                S_ISDIR(st.st_mode))
                subfolders.push_back(&entry);
            continue;
        }
        if (!MatchesFoldedWildcard(folded, entry.folded))
            continue;
        out.push_back({hostPath, keepFolderPath ? entryFolder + QLatin1Char('/') + entry.name : entry.name,
                       handedFolder + QLatin1Char('\\') + entry.name});
    }
    if (depth >= kMaxDepth)
        return;
    for (const DirectoryEntry* sub : subfolders)
        collectFolder(hostFolder + QLatin1Char('/') + sub->name, handedFolder + QLatin1Char('\\') + sub->name,
                      pattern, includeSubfolders, keepFolderPath, entryFolder + QLatin1Char('/') + sub->name,
                      out, depth + 1);
}

bool MinizipWriter::queue(const Candidate& candidate)
{
    if (m_names.contains(candidate.entryName))
        return true; // a second add of a name is skipped
    m_names.insert(candidate.entryName);
    auto entry = std::make_shared<Entry>();
    entry->candidate = candidate;
    struct stat st
    {};
    if (::stat(HostName::Encode(candidate.hostPath).constData(), &st) != 0) {
        entry->skipReason = errnoText(errno);
        entry->done = true;
        m_pending.push_back(entry);
        return true;
    }
    m_bytesFound += S_ISREG(st.st_mode) ? st.st_size : 0;
    if (S_ISREG(st.st_mode) && st.st_size > kWholeFileLimit) {
        const int fd = ::open(HostName::Encode(candidate.hostPath).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            entry->skipReason = errnoText(errno);
            entry->done = true;
            m_pending.push_back(entry);
            return true;
        }
        const Fd file(fd);
        return queueChunked(entry, file.fd);
    }
    entry->budget = std::max<qint64>(st.st_size, 4096);
    if (!waitForRoom(entry->budget))
        return false;
    m_inFlight += entry->budget;
    m_pending.push_back(entry);
    if (candidate.named) {
        readWholeFile(*entry);
        if (!entry->skipReason.isEmpty()) {
            entry->done = true;
            return true;
        }
    }
    m_pool->Submit([this, entry] {
        try {
            compressWholeFile(*entry);
        } catch (const std::bad_alloc&) {
            entry->data.clear();
            entry->skipReason = QStringLiteral("Out of memory");
        }
        const std::lock_guard lock(m_mutex);
        entry->done = true;
        m_progress.notify_all();
    });
    return true;
}

bool MinizipWriter::queueChunked(const std::shared_ptr<Entry>& entry, int fd)
{
    struct stat st
    {};
    ::fstat(fd, &st);
    entry->chunked = true;
    entry->modified = st.st_mtim.tv_sec;
    entry->zip64 = st.st_size >= kZip64Threshold;
    m_pending.push_back(entry);

    Bytes current(kChunk);
    current.resize(readFully(fd, current.data(), kChunk, entry->readError));
    entry->deflated = Compressors::Compresses(current.data(), std::min(current.size(), kProbe));
    for (bool last = false; !last;) {
        Bytes next;
        if (entry->readError.isEmpty() && current.size() == kChunk) {
            next.resize(kChunk);
            next.resize(readFully(fd, next.data(), kChunk, entry->readError));
        }
        last = next.empty();
        auto chunk = std::make_shared<Chunk>();
        chunk->size = current.size();
        chunk->data = std::move(current);
        const auto bytes = static_cast<qint64>(chunk->size);
        if (!waitForRoom(bytes))
            return false;
        m_inFlight += bytes;
        {
            const std::lock_guard lock(m_mutex);
            entry->chunks.push_back(chunk);
            entry->budget += bytes;
        }
        const bool deflated = entry->deflated;
        m_pool->Submit([this, chunk, last, deflated] {
            chunk->crc = libdeflate_crc32(0, chunk->data.data(), chunk->size);
            if (deflated)
                chunk->data = Compressors::DeflateChunk(chunk->data.data(), chunk->size, last);
            const std::lock_guard lock(m_mutex);
            chunk->done = true;
            m_progress.notify_all();
        });
        current = std::move(next);
    }
    const std::lock_guard lock(m_mutex);
    entry->allQueued = true;
    return true;
}

bool MinizipWriter::waitForRoom(qint64 bytes)
{
    while (m_inFlight > 0 && m_inFlight + bytes > kBytesInFlight)
        if (!drain(true))
            return false;
    return true;
}

bool MinizipWriter::drain(bool waitForFront)
{
    while (!m_pending.empty()) {
        bool finished = false;
        if (!writeEntry(*m_pending.front(), finished, waitForFront))
            return false;
        if (!finished)
            return true;
        m_pending.pop_front();
        if (waitForFront)
            return true; // room was made
    }
    return true;
}

bool MinizipWriter::writeBytes(const unsigned char* data, size_t size)
{
    for (size_t at = 0; at < size;) {
        const auto part = static_cast<unsigned>(std::min<size_t>(size - at, 1u << 30));
        if (zipWriteInFileInZip(m_archive->handle, data + at, part) != ZIP_OK)
            return fail(writeFailure());
        at += part;
    }
    return true;
}

bool MinizipWriter::openEntry(Entry& e)
{
    zip_fileinfo info{};
    info.tmz_date = zipTime(e.modified);
    info.external_fa = 0x20; // archive attribute
    // A name that is not UTF-8 keeps its bytes, without the flag that would call it UTF-8.
    const bool utf8 = !HostName::HasRawBytes(e.candidate.entryName);
    const QByteArray name = HostName::Encode(e.candidate.entryName);
    if (zipOpenNewFileInZip4_64(m_archive->handle, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                e.deflated ? Z_DEFLATED : 0, e.deflated ? Compressors::kLevel : 0, 1,
                                -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0, utf8 ? kUtf8Names : 0,
                                e.zip64 ? 1 : 0) != ZIP_OK)
        return fail(writeFailure());
    e.opened = true;
    return true;
}

bool MinizipWriter::writeEntry(Entry& e, bool& finished, bool wait)
{
    const auto waitUntil = [&](const std::function<bool()>& ready) {
        std::unique_lock lock(m_mutex);
        while (!ready()) {
            if (!wait)
                return false;
            m_progress.wait_for(lock, kHookInterval);
            if (!ready() && m_busyHook) {
                lock.unlock();
                m_busyHook();
                lock.lock();
            }
        }
        return true;
    };
    const auto release = [&](qint64 bytes) {
        m_inFlight -= bytes;
        e.budget -= bytes;
    };
    finished = false;
    if (!e.chunked) {
        if (!waitUntil([&] { return e.done; }))
            return true;
        finished = true;
        release(e.budget);
        if (!e.skipReason.isEmpty()) {
            m_skipped.append(e.candidate.handedPath + QStringLiteral(": ") + e.skipReason);
            return true;
        }
        e.zip64 = e.size >= static_cast<quint64>(kZip64Threshold);
        if (!openEntry(e) || !writeBytes(e.data.data(), e.data.size()) ||
            zipCloseFileInZipRaw64(m_archive->handle, e.size, e.crc) != ZIP_OK)
            return m_lastError.isEmpty() ? fail(writeFailure()) : false;
        e.data = {};
        ++m_entries;
        m_bytesWritten += static_cast<qint64>(e.size);
    } else {
        if (!e.opened && !openEntry(e))
            return false;
        for (;;) {
            std::shared_ptr<Chunk> chunk;
            bool ended = false;
            const bool ready = waitUntil([&] {
                ended = e.chunks.empty() && e.allQueued;
                return ended || (!e.chunks.empty() && e.chunks.front()->done) ||
                       (e.chunks.empty() && !e.allQueued);
            });
            if (!ready)
                return true;
            {
                const std::lock_guard lock(m_mutex);
                if (e.chunks.empty()) {
                    if (!ended)
                        return true; // more chunks are still to be queued
                } else {
                    chunk = e.chunks.front();
                    e.chunks.pop_front();
                }
            }
            if (!chunk)
                break;
            if (!writeBytes(chunk->data.data(), chunk->data.size()))
                return false;
            e.crc = e.size == 0 ? chunk->crc
                                : crc32_combine64(e.crc, chunk->crc, static_cast<z_off64_t>(chunk->size));
            e.size += chunk->size;
            m_bytesWritten += static_cast<qint64>(chunk->size);
            release(static_cast<qint64>(chunk->size));
            wait = false; // one written: write on only what is ready
        }
        if (zipCloseFileInZipRaw64(m_archive->handle, e.size, e.crc) != ZIP_OK)
            return fail(writeFailure());
        ++m_entries;
        finished = true;
    }
    if (!e.readError.isEmpty())
        m_skipped.append(e.candidate.handedPath + QStringLiteral(": ") + e.readError +
                         QStringLiteral(" (only the first %1 bytes stored)").arg(e.size));
    return true;
}

bool MinizipWriter::Finish()
{
    if (!m_archive)
        return fail(QStringLiteral("No package is open"));
    while (!m_pending.empty())
        if (!drain(true)) {
            discard();
            return false;
        }
    QByteArray comment = m_skipped.join(QLatin1Char('\n')).toUtf8();
    if (comment.size() > 65000)
        comment = comment.left(65000);
    zipFile handle = m_archive->handle;
    m_archive->handle = nullptr;
    const int closed = zipClose(handle, comment.isEmpty() ? nullptr : comment.constData());
    if (closed != ZIP_OK || m_output->failed()) {
        const QString why = writeFailure();
        discard();
        return fail(why);
    }
    if (m_entries > 0xFFFF && !addZip64Directory()) {
        const QString why = m_lastError;
        discard();
        return fail(why);
    }
    const Fd synced(::open(HostName::Encode(m_tempPath).constData(), O_RDONLY | O_CLOEXEC));
    if (synced.fd < 0 || ::fsync(synced.fd) != 0) {
        const QString why = errnoText(errno);
        discard();
        return fail(QStringLiteral("Cannot write the package: ") + why);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(synced.fd, 0666 & ~mask); // as any new file of the user's; the temporary file was private
    if (::rename(HostName::Encode(m_tempPath).constData(), HostName::Encode(m_archivePath).constData()) !=
        0) {
        const QString why = errnoText(errno);
        discard();
        return fail(QStringLiteral("Cannot write the package: ") + why);
    }
    m_tempPath.clear();
    m_archive.reset();
    return true;
}
