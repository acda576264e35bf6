#include "components/zip/MinizipWriter.h"

#include "platform/DirectoryCache.h"
#include "platform/HostPath.h"
#include "platform/Wildcard.h"

#include <QFile>
#include <QFileInfo>

#include <minizip/zip.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kChunk = 256 * 1024;
constexpr size_t kProbe = 64 * 1024;
constexpr int kLevel = 6;
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

struct Deflater
{
    z_stream stream{};
    bool ready = false;
    Deflater() { ready = deflateInit2(&stream, kLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater()
    {
        if (ready)
            deflateEnd(&stream);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

std::vector<unsigned char> deflateWhole(const unsigned char* data, size_t size)
{
    Deflater deflater;
    std::vector<unsigned char> out(deflateBound(&deflater.stream, static_cast<uLong>(size)) + 16);
    deflater.stream.next_in = const_cast<unsigned char*>(data);
    deflater.stream.avail_in = static_cast<uInt>(size);
    deflater.stream.next_out = out.data();
    deflater.stream.avail_out = static_cast<uInt>(out.size());
    deflate(&deflater.stream, Z_FINISH);
    out.resize(deflater.stream.total_out);
    return out;
}

// Whether a sample shrinks by at least 2% at the fastest level: incompressible data is stored.
bool compresses(const unsigned char* data, size_t size)
{
    std::vector<unsigned char> out(compressBound(static_cast<uLong>(size)));
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return true;
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    const uLong produced = stream.total_out;
    deflateEnd(&stream);
    return produced < size - size / 50;
}

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

MinizipWriter::MinizipWriter() = default;

MinizipWriter::~MinizipWriter()
{
    discard();
}

bool MinizipWriter::fail(const QString& why)
{
    m_lastError = why;
    return false;
}

void MinizipWriter::discard()
{
    m_archive.reset();
    if (!m_tempPath.isEmpty())
        QFile::remove(m_tempPath);
    m_tempPath.clear();
}

bool MinizipWriter::SetArchivePath(const QString& path)
{
    discard();
    m_names.clear();
    m_skipped.clear();
    m_archivePath.clear();
    const std::optional<QString> host = HostPath::ForWriting(path);
    if (!host)
        return fail(QStringLiteral("The folder of the package does not exist: ") + path);
    const QFileInfo target(*host);
    if (target.isDir())
        return fail(QStringLiteral("The package path is a folder: ") + path);
    QByteArray temp = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                        QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return fail(QStringLiteral("Cannot create the package ") + path + QStringLiteral(": ") + errnoText(errno));
    ::close(fd);
    m_tempPath = QFile::decodeName(temp);
    m_archive = std::make_unique<Archive>();
    m_archive->handle = zipOpen64(temp.constData(), APPEND_STATUS_CREATE);
    if (!m_archive->handle) {
        const QString why = errnoText(errno);
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
        if (!addFile(candidate)) {
            discard();
            return false;
        }
    return true;
}

void MinizipWriter::collect(const QString& source, bool includeSubfolders, bool keepFolderPath,
                            std::vector<Candidate>& out)
{
    const qsizetype cut = std::max(source.lastIndexOf(QLatin1Char('\\')), source.lastIndexOf(QLatin1Char('/')));
    const QString last = source.mid(cut + 1);
    if (hasWildcard(last)) {
        const QString handedFolder = source.left(std::max<qsizetype>(cut, 0));
        const std::optional<HostLocation> folder = HostPath::Resolve(handedFolder);
        if (!folder || !QFileInfo(folder->hostPath()).isDir())
            return;
        collectFolder(folder->hostPath(), handedFolder, last, includeSubfolders, keepFolderPath, folder->entryName(),
                      out, 0);
        return;
    }
    const std::optional<HostLocation> file = HostPath::Resolve(source);
    if (!file || QFileInfo(file->hostPath()).isDir())
        return; // nothing there, or a folder named without a pattern: adds nothing
    const QString name = keepFolderPath ? file->entryName() : file->components.value(file->components.size() - 1);
    out.push_back({file->hostPath(), name, source});
}

void MinizipWriter::collectFolder(const QString& hostFolder, const QString& handedFolder, const QString& pattern,
                                  bool includeSubfolders, bool keepFolderPath, const QString& entryFolder,
                                  std::vector<Candidate>& out, int depth)
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
            struct stat st{};
            // Never into a link to a folder: it may lead anywhere, or round in a loop.
            if (includeSubfolders && ::lstat(QFile::encodeName(hostPath).constData(), &st) == 0 && S_ISDIR(st.st_mode))
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
        collectFolder(hostFolder + QLatin1Char('/') + sub->name, handedFolder + QLatin1Char('\\') + sub->name, pattern,
                      includeSubfolders, keepFolderPath, entryFolder + QLatin1Char('/') + sub->name, out, depth + 1);
}

bool MinizipWriter::addFile(const Candidate& candidate)
{
    if (m_names.contains(candidate.entryName))
        return true; // a second add of a name is skipped
    const auto skip = [&](const QString& why) {
        m_skipped.append(candidate.handedPath + QStringLiteral(": ") + why);
        return true;
    };
    const Fd file(::open(QFile::encodeName(candidate.hostPath).constData(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0)
        return skip(errnoText(errno));
    struct stat st{};
    if (::fstat(file.fd, &st) != 0)
        return skip(errnoText(errno));
    if (!S_ISREG(st.st_mode))
        return skip(S_ISDIR(st.st_mode) ? errnoText(EISDIR) : QStringLiteral("Not a regular file"));

    zip_fileinfo info{};
    info.tmz_date = zipTime(st.st_mtim.tv_sec);
    info.external_fa = 0x20; // archive attribute
    const QByteArray name = candidate.entryName.toUtf8();
    const int zip64 = st.st_size >= kZip64Threshold ? 1 : 0;

    std::vector<unsigned char> in(kChunk);
    QString readError;
    size_t got = readFully(file.fd, in.data(), in.size(), readError);
    const bool wholeFile = got < in.size() || !readError.isEmpty();
    // A file that fits one chunk is compressed in memory and stored instead when that is smaller;
    // a larger one is stored when a sample of its start does not compress.
    std::vector<unsigned char> packed;
    bool store = false;
    if (wholeFile) {
        packed = deflateWhole(in.data(), got);
        store = packed.size() >= got;
    } else {
        store = !compresses(in.data(), std::min(got, kProbe));
    }
    if (zipOpenNewFileInZip4_64(m_archive->handle, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                store ? 0 : Z_DEFLATED, store ? 0 : kLevel, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                nullptr, 0, 0, kUtf8Names, zip64) != ZIP_OK)
        return fail(QStringLiteral("Cannot write the package: ") + errnoText(errno));
    m_names.insert(candidate.entryName);
    const auto write = [&](const unsigned char* data, size_t size) {
        return size == 0 || zipWriteInFileInZip(m_archive->handle, data, static_cast<unsigned>(size)) == ZIP_OK;
    };

    uLong crc = crc32(0L, in.data(), static_cast<uInt>(got));
    quint64 total = got;
    if (wholeFile) {
        if (!(store ? write(in.data(), got) : write(packed.data(), packed.size())))
            return fail(QStringLiteral("Cannot write the package: ") + errnoText(errno));
    } else {
        Deflater deflater;
        if (!deflater.ready)
            return fail(QStringLiteral("Out of memory"));
        std::vector<unsigned char> out(store ? 0 : kChunk + kChunk / 8 + 64);
        for (bool last = false;;) {
            if (store) {
                if (!write(in.data(), got))
                    return fail(QStringLiteral("Cannot write the package: ") + errnoText(errno));
            } else {
                deflater.stream.next_in = in.data();
                deflater.stream.avail_in = static_cast<uInt>(got);
                do {
                    deflater.stream.next_out = out.data();
                    deflater.stream.avail_out = static_cast<uInt>(out.size());
                    deflate(&deflater.stream, last ? Z_FINISH : Z_NO_FLUSH);
                    if (!write(out.data(), out.size() - deflater.stream.avail_out))
                        return fail(QStringLiteral("Cannot write the package: ") + errnoText(errno));
                } while (deflater.stream.avail_out == 0);
            }
            if (last)
                break;
            got = readError.isEmpty() ? readFully(file.fd, in.data(), in.size(), readError) : 0;
            last = got < in.size();
            crc = crc32(crc, in.data(), static_cast<uInt>(got));
            total += got;
        }
    }
    if (zipCloseFileInZipRaw64(m_archive->handle, total, crc) != ZIP_OK)
        return fail(QStringLiteral("Cannot write the package: ") + errnoText(errno));
    if (!readError.isEmpty())
        m_skipped.append(candidate.handedPath + QStringLiteral(": ") + readError +
                         QStringLiteral(" (only the first %1 bytes stored)").arg(total));
    return true;
}

bool MinizipWriter::Finish()
{
    if (!m_archive)
        return fail(QStringLiteral("No package is open"));
    QByteArray comment = m_skipped.join(QLatin1Char('\n')).toUtf8();
    if (comment.size() > 65000)
        comment = comment.left(65000);
    zipFile handle = m_archive->handle;
    m_archive->handle = nullptr;
    const int closed = zipClose(handle, comment.isEmpty() ? nullptr : comment.constData());
    const int error = errno;
    if (closed != ZIP_OK) {
        discard();
        return fail(QStringLiteral("Cannot write the package: ") + errnoText(error));
    }
    const Fd synced(::open(QFile::encodeName(m_tempPath).constData(), O_RDONLY | O_CLOEXEC));
    if (synced.fd < 0 || ::fsync(synced.fd) != 0) {
        const QString why = errnoText(errno);
        discard();
        return fail(QStringLiteral("Cannot write the package: ") + why);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(synced.fd, 0666 & ~mask); // as any new file of the user's; the temporary file was private
    if (::rename(QFile::encodeName(m_tempPath).constData(), QFile::encodeName(m_archivePath).constData()) != 0) {
        const QString why = errnoText(errno);
        discard();
        return fail(QStringLiteral("Cannot write the package: ") + why);
    }
    m_tempPath.clear();
    m_archive.reset();
    return true;
}
