#include "components/zip/EntryPipeline.h"

#include "base/CHandle.h"
#include "base/RuntimeError.h"
#include "base/SystemError.h"
#include "components/zip/Compressors.h"
#include "masking/SecretMask.h"
#include "masking/TextMasker.h"
#include "outside/Interruption.h"
#include "platform/Descriptors.h"
#include "platform/HostName.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::chrono::milliseconds kWaitStep(50);
constexpr size_t kBatchFiles = 256;
constexpr size_t kQueued = 16; // batches in flight: enough to keep the workers busy, and no more
constexpr quint64 kZip64Threshold = 0xF0000000ULL; // stored blocks can make an entry a little larger
// Masks can make a text longer (a one-byte value becomes eight), though never three times as long:
// each stands for a key (three bytes at least), its separator and a value.
constexpr quint64 kMaskedZip64Threshold = kZip64Threshold / 3;

// The flags every input is opened with: never waiting (a pipe put in a file's place is found by
// fstat and never read), never becoming the controlling terminal.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

// The reason a file found below an add's folder could not be opened: a link put in its place is
// not followed.
QString openReason(int error)
{
    return error == ELOOP ? SourceCollector::linkReason() : errnoText(error);
}

bool lackOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

// Opens a file a pattern found, below the add's folder, and looks at what opened. Returns the
// descriptor, or none with the reason.
UniqueFd openFound(int root, const QByteArray& relative, struct stat& st, QString& reason)
{
    UniqueFd fd = Descriptors::openBeneath(root, relative, kReadFlags);
    if (!fd) {
        reason = openReason(errno);
        return {};
    }
    if (::fstat(fd.get(), &st) != 0) {
        reason = errnoText(errno);
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        reason = SourceCollector::notRegularReason();
        return {};
    }
    return fd;
}

// The first bytes of a file, for the guard to tell an earlier output by.
QByteArray headOf(const unsigned char* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data),
                      static_cast<qsizetype>(std::min<size_t>(size, OutputGuard::kHead)));
}

QByteArray headAt(int fd)
{
    QByteArray head(OutputGuard::kHead, Qt::Uninitialized);
    const ssize_t n = ::pread(fd, head.data(), static_cast<size_t>(head.size()), 0);
    head.resize(n > 0 ? n : 0);
    return head;
}

// Reads up to size bytes at offset; a read error ends the reading and is kept.
size_t readAt(int fd, unsigned char* buffer, size_t size, quint64 offset, QString& error)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, buffer + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            Interruption::check();
            continue;
        }
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

} // namespace

// What a job is to encode: a whole file or one chunk of a large one, read by the job (a file a
// pattern found, opened below its folder; or a chunk through a shared descriptor) or already read
// by the adding thread.
struct EntryPipeline::Piece
{
    std::shared_ptr<const UniqueFd> root; // a found file: the add's folder, and the file below it
    QByteArray relative;
    std::shared_ptr<const UniqueFd> file; // shared by the jobs that read the chunks of one file
    quint64 offset = 0;
    quint64 length = 0; // the most to read
    Bytes given;
    QString readError; // of given bytes
    bool isGiven = false;
    bool chunk = false;
    bool mask = false;                // a whole file to be masked
    std::shared_ptr<NameMap> names{}; // and its names replaced
    quint32 mode = 0;                 // of a given whole file
    qint64 modified = 0;
};

// What a job gives back for one piece.
struct EntryPipeline::Encoded
{
    quint32 mode = 0;
    qint64 modified = 0;
    QString readError{};  // reading stopped early with this error
    QString skipReason{}; // a whole file that could not be read at all
    Bytes data{};         // what goes into the archive
    bool deflated = false;
    quint32 crc = 0;
    quint64 size = 0;                    // the bytes read, or the masked bytes
    std::optional<MaskOutcome> masked{}; // a file to be masked: what was found
    // A found file, as its descriptor showed it: what the guard looks at.
    struct stat opened
    {};
    bool wasOpened = false;
    QByteArray head{}; // its first bytes
    // A found file larger now than a whole piece (it grew after it was listed), or one that could
    // not be opened for lack of descriptors: the adding thread reads it itself, in order.
    std::shared_ptr<const UniqueFd> late{};
    bool noDescriptor = false;
};

// A large file's entry, while its chunks come back.
struct EntryPipeline::Large
{
    EntryHead head;
    quint32 crc = 0;
    quint64 size = 0;
    QString readError;
    std::optional<MaskOutcome> masked; // a file to be masked: what was found
    bool begun = false;
    bool ended = false;
};

// The adding thread's note of one piece (or of one file left out), in add order.
struct EntryPipeline::Slot
{
    Origin origin{};
    EntryHead head{};
    std::shared_ptr<Large> large{}; // a chunk of this entry
    quint64 length = 0;             // a chunk's planned length
    bool lastChunk = false;
    QString skipReason{}; // no piece: left out before any reading
    bool found = false;   // a file a pattern found, read by a worker
    bool mask = false;
    std::shared_ptr<NameMap> names{};
    std::shared_ptr<const UniqueFd> root{}; // a found file: where it can be opened again
    QByteArray relative{};
};

struct EntryPipeline::Batch
{
    std::vector<Slot> slots;
    std::vector<Piece> pieces;
    quint64 bytes = 0;
    std::future<std::vector<Encoded>> results;
};

namespace {

// Opens and reads a found file the adding thread did not read: a whole file, unless it has grown
// past a whole piece since it was listed. False when there is nothing to encode.
bool readFound(const EntryPipeline::Piece& p, EntryPipeline::Encoded& e, Bytes& buffer)
{
    UniqueFd fd = Descriptors::openBeneath(p.root->get(), p.relative, kReadFlags);
    if (!fd) {
        const int error = errno;
        e.noDescriptor = lackOfDescriptors(error);
        e.skipReason = openReason(error);
        return false;
    }
    if (::fstat(fd.get(), &e.opened) != 0) {
        e.skipReason = errnoText(errno);
        return false;
    }
    if (!S_ISREG(e.opened.st_mode)) {
        e.skipReason = SourceCollector::notRegularReason();
        return false;
    }
    e.wasOpened = true;
    e.mode = e.opened.st_mode;
    e.modified = e.opened.st_mtim.tv_sec;
    const auto size = static_cast<quint64>(e.opened.st_size);
    if (size > EntryPipeline::kChunk) {
        e.late = std::make_shared<const UniqueFd>(std::move(fd));
        return false;
    }
    buffer.resize(size);
    buffer.resize(readAt(fd.get(), buffer.data(), size, 0, e.readError));
    e.head = headOf(buffer.data(), buffer.size());
    return true;
}

// Runs on a worker: a piece's CRC and its encoding, a complete stream or a chunk's blocks; a whole
// text to be masked is masked first.
EntryPipeline::Encoded encode(EntryPipeline::Piece& p)
{
    thread_local Bytes input;
    thread_local Bytes masked;
    thread_local Bytes packed;
    EntryPipeline::Encoded e{.mode = p.mode, .modified = p.modified, .readError = p.readError};
    if (p.root && !readFound(p, e, input))
        return e;
    if (p.file) {
        input.resize(p.length);
        input.resize(readAt(p.file->get(), input.data(), p.length, p.offset, e.readError));
    }
    Bytes* bytes = p.isGiven ? &p.given : &input;
    if (p.mask) {
        TextMasker masker(p.names);
        masked.clear();
        if (detectEncoding(bytes->data(), bytes->size()) != TextEncoding::Binary) {
            masker.feed(bytes->data(), bytes->size(), true, masked);
            bytes = &masked;
        }
        e.masked = MaskOutcome::of(masker);
    }
    e.size = bytes->size();
    e.crc = libdeflate_crc32(0, bytes->data(), bytes->size());
    if (p.chunk)
        Compressors::encodeChunk(bytes->data(), bytes->size(), packed);
    e.deflated = p.chunk || Compressors::deflateWhole(bytes->data(), bytes->size(), packed);
    if (e.deflated)
        e.data.assign(packed.begin(), packed.end());
    else if (bytes == &p.given)
        e.data = std::move(p.given);
    else
        e.data.assign(bytes->begin(), bytes->end());
    return e;
}

} // namespace

EntryPipeline::EntryPipeline(ArchiveFile& archive, const OutputGuard& guard, int workers,
                             std::function<void()> tick)
    : m_archive(archive), m_guard(guard), m_tick(std::move(tick)),
      m_largeAtOnce(std::clamp(Descriptors::spare() - workers - kDescriptorsOfTheAddingThread, 1,
                               static_cast<int>(kQueued))),
      m_open(std::make_unique<Batch>()), m_pool(workers)
{}

EntryPipeline::~EntryPipeline() = default;

int EntryPipeline::workers(int wanted)
{
    return std::clamp(Descriptors::spare() - kDescriptorsOfTheAddingThread - 1, 1, std::max(wanted, 1));
}

void EntryPipeline::add(const std::vector<Source>& sources)
{
    for (const Source& source : sources) {
        if (!source.skipReason.isEmpty()) {
            addSkip(originOf(source), source.skipReason);
            continue;
        }
        const QString entryName = source.entryName();
        const QByteArray name = HostName::encode(entryName);
        if (m_names.contains(name))
            continue; // a second add of a name is passed over
        m_names.insert(name);
        m_bytesFound += source.size;
        const bool utf8 = !HostName::hasRawBytes(entryName);
        if (source.named())
            addNamed(source, name, utf8);
        else
            addFound(source, name, utf8);
    }
}

void EntryPipeline::endAdd()
{
    submit();
    while (writeFront(false)) {
    }
}

void EntryPipeline::finish()
{
    submit();
    while (writeFront(true)) {
    }
}

void EntryPipeline::addText(const QString& name, const QByteArray& text)
{
    const QByteArray encoded = HostName::encode(name);
    if (m_names.contains(encoded))
        return;
    m_names.insert(encoded);
    Piece piece;
    piece.isGiven = true;
    piece.given.assign(text.cbegin(), text.cend());
    piece.mode = S_IFREG | 0644;
    piece.modified = std::time(nullptr);
    Encoded e = encode(piece);
    m_archive.addEntry({.name = encoded, .mode = e.mode, .modified = e.modified, .deflated = e.deflated},
                       e.data, e.crc, e.size);
}

QStringList EntryPipeline::commentLines() const
{
    // A line break or another control character in a name is shown as %0A and the like, so that a
    // name can never make a line of its own in the comment.
    const auto shown = [](const QString& path) {
        QString out;
        out.reserve(path.size());
        for (const QChar c : path)
            out += c.unicode() < 0x20 || c.unicode() == 0x7F
                       ? QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper()
                       : QString(c);
        return out;
    };
    // Files that could not be packed come first, then those left out on purpose (by age or size):
    // past the zip limit, the lines left out are the latter.
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(m_leftOut.size()));
    for (const bool onPurpose : {false, true})
        for (const PackageReport::LeftOut& file : m_leftOut)
            if (file.onPurpose == onPurpose)
                lines.append(shown(file.path) + QStringLiteral(": ") + file.reason);
    return lines;
}

EntryPipeline::Origin EntryPipeline::originOf(const Source& source)
{
    return {.handed = source.handedPath(),
            .host =
                source.folder->host.isEmpty() ? QString() : HostName::decode(source.hostPath().constData()),
            .onPurpose = source.onPurpose};
}

void EntryPipeline::addSkip(const Origin& origin, const QString& reason)
{
    m_open->slots.push_back({.origin = origin, .skipReason = reason});
}

void EntryPipeline::leaveOut(const Origin& origin, const QString& reason)
{
    m_leftOut.push_back({origin.handed, reason, origin.host, origin.onPurpose});
}

void EntryPipeline::noteMasked(const Origin& origin, const QByteArray& name, const MaskOutcome& outcome)
{
    const QString entry = HostName::decode(name.constData(), name.size());
    if (!outcome.checked) {
        m_notChecked.push_back(entry);
        return;
    }
    ++m_checked;
    if (outcome.values > 0 || outcome.names > 0)
        m_masked.push_back(
            {origin.handed, entry, outcome.values, outcome.names, encodingName(outcome.encoding)});
}

// Whether a file a pattern found goes in: not the package's temporary file, nor an earlier output
// it will replace (left out quietly). Any other file at an output's path fails the build.
bool EntryPipeline::admitFound(const struct stat& st, const QByteArray& head, const Origin& origin) const
{
    switch (m_guard.check(st)) {
    case OutputGuard::Hit::None:
        return true;
    case OutputGuard::Hit::Temporary:
        return false;
    case OutputGuard::Hit::EarlierOutput:
        break;
    }
    if (m_guard.isEarlierOutput(st, head))
        return false;
    raiseError(ErrorNumber::InvalidArgument, m_guard.inputReason(st, origin.handed));
}

// A named file is read here, through the descriptor it was found with, before the add returns.
void EntryPipeline::addNamed(const Source& source, const QByteArray& name, bool utf8)
{
    const std::shared_ptr<const UniqueFd>& file = source.opened;
    const auto size = static_cast<quint64>(source.size);
    struct stat st
    {};
    ::fstat(file->get(), &st);
    const EntryHead head{.name = name, .utf8 = utf8, .mode = st.st_mode, .modified = source.modified};
    if (size > kChunk)
        return addChunks(originOf(source), head, file, size, true, source.mask, source.names);
    Piece piece;
    piece.isGiven = true;
    piece.mask = source.mask;
    piece.names = source.names;
    piece.given.resize(size);
    piece.given.resize(readAt(file->get(), piece.given.data(), size, 0, piece.readError));
    piece.mode = st.st_mode;
    piece.modified = source.modified;
    m_open->bytes += size;
    m_open->pieces.push_back(std::move(piece));
    m_open->slots.push_back({.origin = originOf(source), .head = head});
}

// A file a pattern found: small ones go into the open batch and are opened and read by a worker;
// large ones are opened here and read in chunks by the workers.
void EntryPipeline::addFound(const Source& source, const QByteArray& name, bool utf8)
{
    const auto size = static_cast<quint64>(source.size);
    if (size <= kChunk) {
        if (m_open->bytes + size > kChunk || m_open->pieces.size() >= kBatchFiles)
            submit();
        Piece piece;
        piece.root = source.folder->root;
        piece.relative = source.relativePath();
        piece.length = size;
        piece.mask = source.mask;
        piece.names = source.names;
        m_open->bytes += size;
        m_open->pieces.push_back(std::move(piece));
        m_open->slots.push_back({.origin = originOf(source),
                                 .head = {.name = name, .utf8 = utf8},
                                 .found = true,
                                 .mask = source.mask,
                                 .names = source.names,
                                 .root = source.folder->root,
                                 .relative = source.relativePath()});
        return;
    }
    waitForLargeTurn();
    struct stat st
    {};
    QString reason;
    UniqueFd fd = openFound(source.folder->root->get(), source.relativePath(), st, reason);
    if (!fd)
        return addSkip(originOf(source), reason);
    if (!admitFound(st, headAt(fd.get()), originOf(source)))
        return;
    auto file = std::make_shared<const UniqueFd>(std::move(fd));
    m_largeFiles.push_back(file);
    addChunks(originOf(source),
              {.name = name, .utf8 = utf8, .mode = st.st_mode, .modified = st.st_mtim.tv_sec}, file,
              static_cast<quint64>(st.st_size), source.mask, source.mask, source.names);
}

// Large files hold a descriptor while their chunks are on their way: past a few at once, the
// oldest are written out first.
void EntryPipeline::waitForLargeTurn()
{
    const auto expired = [](const std::weak_ptr<const UniqueFd>& file) { return file.expired(); };
    m_largeFiles.erase(std::remove_if(m_largeFiles.begin(), m_largeFiles.end(), expired), m_largeFiles.end());
    while (static_cast<int>(m_largeFiles.size()) >= m_largeAtOnce) {
        submit();
        if (!writeFront(true))
            break;
        m_largeFiles.erase(std::remove_if(m_largeFiles.begin(), m_largeFiles.end(), expired),
                           m_largeFiles.end());
    }
}

// A large file in chunks, each a job of its own: read here (readHere), or by the workers through
// the shared descriptor. What is stored ends at the size the file had when it was opened, or where
// a chunk comes back short. A text to be masked is read here and masked chunk by chunk, in order.
void EntryPipeline::addChunks(const Origin& origin, EntryHead head,
                              const std::shared_ptr<const UniqueFd>& file, quint64 size, bool readHere,
                              bool mask, const std::shared_ptr<NameMap>& names)
{
    submit();
    head.zip64 = size >= (mask ? kMaskedZip64Threshold : kZip64Threshold);
    auto large = std::make_shared<Large>();
    large->head = head;
    std::optional<TextMasker> masker;
    if (mask)
        masker.emplace(names);
    const quint64 chunks = std::max<quint64>(1, (size + kChunk - 1) / kChunk);
    for (quint64 i = 0; i < chunks; ++i) {
        Piece piece;
        piece.chunk = true;
        piece.offset = i * kChunk;
        piece.length = std::min(kChunk, size - piece.offset);
        bool shortRead = false;
        if (readHere) {
            piece.isGiven = true;
            piece.given.resize(piece.length);
            piece.given.resize(
                readAt(file->get(), piece.given.data(), piece.length, piece.offset, piece.readError));
            shortRead = piece.given.size() < piece.length;
            if (masker) {
                Bytes masked;
                masker->feed(piece.given.data(), piece.given.size(), i + 1 == chunks || shortRead, masked);
                piece.given = std::move(masked);
                large->masked = MaskOutcome::of(*masker);
            }
        } else {
            piece.file = file;
        }
        // A chunk read here ends the entry by its flag; one read by a worker also by coming back short.
        m_open->slots.push_back({.origin = origin,
                                 .large = large,
                                 .length = readHere ? piece.given.size() : piece.length,
                                 .lastChunk = i + 1 == chunks || shortRead});
        m_open->bytes += piece.length;
        m_open->pieces.push_back(std::move(piece));
        submit();
        if (shortRead)
            break;
    }
}

// Hands the open batch to the workers, once there is room in the queue.
void EntryPipeline::submit()
{
    if (m_open->slots.empty())
        return;
    m_tick();
    while (m_queue.size() >= kQueued && writeFront(true)) {
    }
    Batch& batch = *m_open;
    if (!batch.pieces.empty()) {
        auto task = std::make_shared<std::packaged_task<std::vector<Encoded>()>>(
            [pieces = std::move(batch.pieces)]() mutable {
                std::vector<Encoded> results;
                results.reserve(pieces.size());
                for (Piece& piece : pieces)
                    results.push_back(encode(piece));
                return results;
            });
        batch.results = task->get_future();
        m_pool.submit([task] { (*task)(); });
    }
    m_queue.push_back(std::move(batch));
    m_open = std::make_unique<Batch>();
}

// Writes the oldest batch once its results are in; false when there is none, or (not waiting)
// when it is not ready yet.
bool EntryPipeline::writeFront(bool wait)
{
    if (m_queue.empty())
        return false;
    Batch& batch = m_queue.front();
    std::vector<Encoded> results;
    if (batch.results.valid()) {
        while (batch.results.wait_for(wait ? kWaitStep : std::chrono::milliseconds(0)) !=
               std::future_status::ready) {
            if (!wait)
                return false;
            m_tick();
        }
        results = batch.results.get(); // a worker's failure is thrown here
    }
    // The batch leaves the queue before its slots are written: a failure while writing them leaves
    // a queue that the next call can go on with, or drop.
    const Batch done = std::move(batch);
    m_queue.pop_front();
    size_t next = 0;
    for (const Slot& slot : done.slots) {
        if (!slot.skipReason.isEmpty())
            leaveOut(slot.origin, slot.skipReason);
        else
            writeSlot(slot, results.at(next++));
    }
    return true;
}

void EntryPipeline::writeSlot(const Slot& slot, Encoded& r)
{
    if (slot.large)
        return writeChunk(slot, r);
    if (slot.found && r.noDescriptor)
        return readFoundHere(slot); // a descriptor may be free by now
    if (!r.skipReason.isEmpty())
        return leaveOut(slot.origin, r.skipReason);
    if (slot.found && r.wasOpened &&
        !admitFound(r.opened, r.late ? headAt(r.late->get()) : r.head, slot.origin))
        return;
    EntryHead head = slot.head;
    head.mode = r.mode;
    head.modified = r.modified;
    if (r.late)
        return streamHere(slot.origin, head, *r.late, static_cast<quint64>(r.opened.st_size), slot.mask,
                          slot.names);
    head.deflated = r.deflated;
    m_archive.addEntry(head, r.data, r.crc, r.size);
    m_bytesWritten += r.size;
    if (r.masked)
        noteMasked(slot.origin, head.name, *r.masked);
    if (!r.readError.isEmpty())
        leaveOut(slot.origin, r.readError + QStringLiteral(" (only the first %1 bytes stored)").arg(r.size));
}

void EntryPipeline::writeChunk(const Slot& slot, Encoded& r)
{
    Large& large = *slot.large;
    if (large.ended)
        return; // past a chunk that came back short
    if (!large.begun)
        m_archive.beginEntry(large.head);
    large.begun = true;
    m_archive.append(r.data.data(), r.data.size());
    large.crc = static_cast<quint32>(crc32_combine64(large.crc, r.crc, static_cast<z_off64_t>(r.size)));
    large.size += r.size;
    m_bytesWritten += r.size;
    if (!r.readError.isEmpty())
        large.readError = r.readError;
    if (r.size < slot.length || slot.lastChunk) {
        m_archive.append(Compressors::kFinalBlock, sizeof Compressors::kFinalBlock);
        m_archive.endEntry(large.crc, large.size);
        large.ended = true;
        if (large.masked)
            noteMasked(slot.origin, large.head.name, *large.masked);
        if (!large.readError.isEmpty())
            leaveOut(slot.origin,
                     large.readError + QStringLiteral(" (only the first %1 bytes stored)").arg(large.size));
    }
}

// A found file a worker could not open for lack of descriptors: opened and read here, in order.
void EntryPipeline::readFoundHere(const Slot& slot)
{
    struct stat st
    {};
    QString reason;
    const UniqueFd fd = openFound(slot.root->get(), slot.relative, st, reason);
    if (!fd)
        return leaveOut(slot.origin, reason);
    if (!admitFound(st, headAt(fd.get()), slot.origin))
        return;
    EntryHead head = slot.head;
    head.mode = st.st_mode;
    head.modified = st.st_mtim.tv_sec;
    streamHere(slot.origin, head, fd, static_cast<quint64>(st.st_size), slot.mask, slot.names);
}

// Reads, masks and encodes a whole entry here, chunk by chunk, in memory that does not grow with
// the file: for the few files the workers hand back.
void EntryPipeline::streamHere(const Origin& origin, EntryHead head, const UniqueFd& file, quint64 size,
                               bool mask, const std::shared_ptr<NameMap>& names)
{
    head.zip64 = size >= (mask ? kMaskedZip64Threshold : kZip64Threshold);
    head.deflated = true;
    m_archive.beginEntry(head);
    std::optional<TextMasker> masker;
    if (mask)
        masker.emplace(names);
    Bytes input;
    Bytes masked;
    Bytes packed;
    quint32 crc = 0;
    quint64 stored = 0;
    QString readError;
    for (quint64 offset = 0; offset < size || offset == 0;) {
        m_tick();
        const quint64 length = std::min(kChunk, size - offset);
        input.resize(length);
        input.resize(readAt(file.get(), input.data(), length, offset, readError));
        const bool last = input.size() < length || offset + length >= size;
        const Bytes* bytes = &input;
        if (masker) {
            masked.clear();
            masker->feed(input.data(), input.size(), last, masked);
            bytes = &masked;
        }
        crc = libdeflate_crc32(crc, bytes->data(), bytes->size());
        stored += bytes->size();
        Compressors::encodeChunk(bytes->data(), bytes->size(), packed);
        m_archive.append(packed.data(), packed.size());
        offset += input.size();
        if (last)
            break;
    }
    m_archive.append(Compressors::kFinalBlock, sizeof Compressors::kFinalBlock);
    m_archive.endEntry(crc, stored);
    m_bytesWritten += stored;
    if (masker)
        noteMasked(origin, head.name, MaskOutcome::of(*masker));
    if (!readError.isEmpty())
        leaveOut(origin, readError + QStringLiteral(" (only the first %1 bytes stored)").arg(stored));
}
