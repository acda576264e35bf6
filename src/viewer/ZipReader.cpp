// Reading a zip archive that arrived from elsewhere, without trusting it.
//
// open() finds the end record in the last 64 KiB of the file, follows it (and the zip64 records) to
// the central directory and reads the directory through a window that moves forwards, so a large
// directory is never held whole. Each record becomes a ZipEntry whose name is decoded straight into
// the reader's blocks of names; the entries and the characters count against the run's ReadBudget.
//
// Then every entry's local header is read, in the order of the offsets, through the same kind of
// window, and held to the directory record: name, flags, method, CRC and sizes. The bytes of the
// archive are accounted for in that pass: each entry takes its local header, its compressed data as
// its sizes say (bounded by the file's own size first, so no size can wrap the sums) and its data
// descriptor, which must be there and agree with the directory; the next entry, or the directory,
// must start where the last one ends. A stretch that belongs to no entry is damage, since a reader
// that walks the local headers (a streaming extractor) finds whatever it holds; an entry whose data
// runs into another's is refused. What the pass cannot see is an entry hidden inside the data that a
// deflated entry claims after its stream has ended: read() finds that, since it learns where each
// stream ends.
//
// An archive cut short before its directory is read from its local headers from the start, as far
// as they go; an entry whose sizes follow its data is inflated to find where it ends, within the
// same budget for the whole archive that the sizes of a complete archive are held to.
//
// The reader is immutable once open() returns: read() and EntryStream may run on any thread; the
// one thread-local of this file holds the buffers of entries read whole.
#include "viewer/ZipReader.h"

#include "base/ByteSize.h"
#include "base/PackageFormat.h"
#include "base/SystemError.h"
#include "platform/HostName.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <libdeflate.h>
#include <numeric>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr qsizetype kShownNameLength = 200; // characters of a name quoted in a reason

using PackageFormat::kCentralHeader;
using PackageFormat::kDataDescriptor;
using PackageFormat::kEndOfDirectory;
using PackageFormat::kLocalHeader;
using PackageFormat::kZip64End;
using PackageFormat::kZip64Locator;
constexpr quint32 kMax32 = 0xffffffffu;
constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kLocalHeaderSize = 30;
constexpr qint64 kCentralHeaderSize = 46;
constexpr quint64 kMaxDirectorySize = quint64(1) << 30;
constexpr qint64 kBlock = 256 << 10;
constexpr qint64 kHeaderRead = 1024;      // a local header with its name and extra field, as a rule
constexpr qint64 kWindow = 256 << 10;     // the bytes read at once for headers
constexpr qsizetype kNameBlock = 1 << 20; // characters: a name has at most 65535
constexpr qsizetype kQuotedName = 200;    // characters of a name quoted in a text about damage
constexpr quint64 kGapsNamed = 20;        // stretches of hidden bytes named one by one
constexpr quint16 kSizesFollow = 0x0008;  // the CRC and sizes follow the data, in a descriptor
constexpr quint16 kUtf8Name = 0x0800;

quint16 get16(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<quint16>(b[0] | (b[1] << 8));
}

quint32 get32(const char* p)
{
    return quint32(get16(p)) | (quint32(get16(p + 2)) << 16);
}

quint64 get64(const char* p)
{
    return quint64(get32(p)) | (quint64(get32(p + 4)) << 32);
}

// A size a finding is about, to the byte: a size its headers give against the bytes it holds must show
// a difference of one byte.
QString byteCount(quint64 bytes)
{
    return QString::number(bytes) + QStringLiteral(" bytes");
}

// A read that fails says why.
bool failing(QString* why, const QString& reason)
{
    *why = reason;
    return false;
}

QString crcMismatch(quint32 got, quint32 said)
{
    return QStringLiteral("CRC mismatch: its bytes give %1, its headers say %2")
        .arg(got, 8, 16, QLatin1Char('0'))
        .arg(said, 8, 16, QLatin1Char('0'));
}

QString sizeMismatch(quint64 got, quint64 said)
{
    return QStringLiteral("it holds %1 where its headers say %2").arg(byteCount(got), byteCount(said));
}

QString moreThanSaid(quint64 said)
{
    return QStringLiteral("it holds more bytes than its headers say (%1)").arg(byteCount(said));
}

// A deflated entry whose stream ends before the compressed size its headers give: what lies between
// is read by no one here, and a streaming extractor, which goes on from where the stream ends,
// finds whatever it holds.
QString hiddenInside(const ZipEntry& entry, quint64 used)
{
    return QStringLiteral("its compressed data ends after %1 of the %2 its headers give: bytes %3 to %4 "
                          "of the archive are hidden inside it, where a streaming reader finds them")
        .arg(used)
        .arg(entry.packed)
        .arg(entry.dataOffset() + used)
        .arg(entry.dataOffset() + entry.packed - 1);
}

// A stored entry whose sizes follow its data, which a streaming reader ends early.
QString endsEarly(const ZipEntry& entry, quint64 end)
{
    return QStringLiteral(
               "a data descriptor inside its data, at byte %1 of the archive, ends it there for a "
               "streaming reader: bytes %1 to %2 are hidden inside it, where that reader finds them")
        .arg(entry.dataOffset() + end)
        .arg(entry.dataOffset() + entry.packed - 1);
}

bool streamingEndMatters(const ZipEntry& entry)
{
    return entry.method == 0 && (entry.flags & kSizesFollow);
}

// A name quoted in a text about damage: in quotes, and cut in the middle when long.
QString quoted(QStringView name)
{
    if (name.size() <= kQuotedName)
        return QLatin1Char('"') + name.toString() + QLatin1Char('"');
    return QLatin1Char('"') + name.left(kQuotedName / 2).toString() + QStringLiteral("...") +
           name.right(kQuotedName / 2).toString() + QLatin1Char('"');
}

// Entries up to this size are read whole, with one read of the archive and libdeflate; larger ones
// are streamed.
constexpr quint64 kWholeEntryLimit = quint64(8) << 20;

// The decompressor and buffers of a thread that reads entries whole: made once, kept for the next.
struct WholeEntryBuffers
{
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor{
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor};
    std::vector<char> raw;
    std::vector<char> bytes;
};

WholeEntryBuffers& wholeEntryBuffers()
{
    thread_local WholeEntryBuffers buffers;
    return buffers;
}

// DOS date and time are the local time of the machine that wrote them, taken here as this
// machine's zone. localtime_r reads the zone once, where a QDateTime in local time would ask the
// system again for every entry.
QDateTime dosTime(quint16 time, quint16 date)
{
    const QDate day(1980 + (date >> 9), (date >> 5) & 0x0f, date & 0x1f);
    const QTime clock((time >> 11) & 0x1f, (time >> 5) & 0x3f, (time & 0x1f) * 2);
    if (!day.isValid() || !clock.isValid())
        return {};
    const qint64 asUtc = QDateTime(day, clock, Qt::UTC).toSecsSinceEpoch();
    auto seconds = static_cast<time_t>(asUtc);
    struct tm local
    {};
    localtime_r(&seconds, &local);
    seconds = static_cast<time_t>(asUtc - local.tm_gmtoff); // once more at the result: a change of
    localtime_r(&seconds, &local);                          // daylight saving in between
    return QDateTime::fromSecsSinceEpoch(asUtc - local.tm_gmtoff, Qt::UTC);
}

// Decodes a name as the entry says it is written into out, which has room for length characters:
// UTF-8 with bit 11 or when its bytes are UTF-8, else the DOS code page, whose upper half is read as
// Latin-1 here (close enough to show it; its bytes are never used as a path). The characters
// written.
qsizetype decodeName(const char* bytes, qsizetype length, quint16 flags, char16_t* out)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QChar* const start = reinterpret_cast<QChar*>(out);
    const QChar* end = utf8.appendToBuffer(start, QByteArrayView(bytes, length));
    // Many writers put UTF-8 without saying so: valid UTF-8 is taken as such.
    if ((flags & kUtf8Name) || !utf8.hasError())
        return end - start;
    for (qsizetype i = 0; i < length; ++i)
        out[i] = static_cast<unsigned char>(bytes[i]);
    return length;
}

// Why a reader that extracts the entry where its name says could leave the folder it extracts into.
QString unsafeName(QStringView name)
{
    static const QString absolute = QStringLiteral("absolute path");
    static const QString dotDot = QStringLiteral("\"..\" in its path");
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')) ||
        (name.size() >= 2 && name.at(1) == QLatin1Char(':')))
        return absolute;
    qsizetype start = 0;
    for (qsizetype at = 0; at <= name.size(); ++at)
        if (at == name.size() || name.at(at) == QLatin1Char('/') || name.at(at) == QLatin1Char('\\')) {
            if (name.mid(start, at - start) == QLatin1String(".."))
                return dotDot;
            start = at + 1;
        }
    return {};
}

// What an entry made on Unix is when a reader extracting it makes something other than a file or a
// folder that matters: a link, which can lead anywhere, or a device. Empty otherwise; a pipe's mode
// is what zip records for data it read from standard input, and is read as a file.
QString specialKind(quint32 mode)
{
    switch (mode & S_IFMT) {
    case S_IFLNK:
        return QStringLiteral("a symbolic link");
    case S_IFCHR:
    case S_IFBLK:
        return QStringLiteral("a device");
    default:
        return {};
    }
}

// Whether entries made on this system keep a Unix type and mode in their attributes' upper half, as
// extractors read them: Unix, and those whose writers keep it the same way (VMS, Atari, BeOS, Mac
// OS X, AtheOS).
bool hasUnixMode(int system)
{
    switch (system) {
    case 2:
    case 3:
    case 5:
    case 16:
    case 19:
    case 30:
        return true;
    default:
        return false;
    }
}

// Walks the fields of an extra block: id, the field's bytes, its length.
template <typename Visit> void forEachExtra(const char* extra, qsizetype length, Visit visit)
{
    qsizetype at = 0;
    while (at + 4 <= length) {
        const quint16 id = get16(extra + at);
        const quint16 size = get16(extra + at + 2);
        if (at + 4 + size > length)
            return;
        visit(id, extra + at + 4, size);
        at += 4 + size;
    }
}

// The characters of a name that are ASCII, in order: what a name converted from one code page to
// another keeps.
QString asciiSkeleton(QStringView name)
{
    QString kept;
    for (const QChar c : name)
        if (c.unicode() < 0x80)
            kept += c;
    return kept;
}

// Holds an entry's Unicode path field, when it has one that applies (its CRC is that of the name
// in the header), to the name: some extractors write the entry under the field's name. A name read
// as UTF-8 must be the field's exactly; one read from a code page must keep the field's ASCII.
void checkUnicodePath(ZipEntry& entry, QByteArrayView rawName, const char* extra, qsizetype length)
{
    forEachExtra(extra, length, [&](quint16 id, const char* field, quint16 size) {
        if (id != 0x7075 || size < 5 || !entry.refused.isEmpty())
            return;
        if (get32(field + 1) !=
            static_cast<quint32>(libdeflate_crc32(0, rawName.data(), size_t(rawName.size()))))
            return; // no extractor takes a field written for another name
        const QString other = QString::fromUtf8(field + 5, size - 5);
        const bool readAsUtf8 = entry.name == QString::fromUtf8(rawName);
        if (readAsUtf8 ? other != entry.name : asciiSkeleton(other) != asciiSkeleton(entry.name))
            entry.refused = QStringLiteral("its Unicode path field names it \"%1\", which some readers "
                                           "extract it as; not read")
                                .arg(other.left(kShownNameLength));
    });
}

// The zip64 sizes and offset, and the exact modification time, that the extra block carries.
void applyExtra(ZipEntry& entry, const char* extra, qsizetype length, bool sizeWide, bool packedWide,
                bool offsetWide)
{
    forEachExtra(extra, length, [&](quint16 id, const char* field, quint16 size) {
        if (id == 0x0001) {
            qsizetype at = 0;
            const auto take = [&](bool wide, quint64& value) {
                if (wide && at + 8 <= size) {
                    value = get64(field + at);
                    at += 8;
                }
            };
            take(sizeWide, entry.size);
            take(packedWide, entry.packed);
            take(offsetWide, entry.headerOffset);
        } else if (id == 0x5455 && size >= 5 && (field[0] & 1)) {
            entry.modified = QDateTime::fromSecsSinceEpoch(static_cast<qint32>(get32(field + 1)), Qt::UTC);
        }
    });
}

// Reads the archive through a window that moves as it is asked: the headers of neighbouring
// entries, asked for in the order of their offsets, come from one read of the archive. A reader that
// knows the next bytes it wants lie far ahead asks for less, so that the headers of large entries
// cost a small read each, not a window each.
class ArchiveWindow
{
public:
    explicit ArchiveWindow(const ZipReader& zip) : m_zip(zip) {}

    // The bytes from offset on, count of them; null when the archive ends before them or cannot be
    // read (failed() tells which). When they must be read, ahead bytes are (up to a window).
    const char* at(quint64 offset, qint64 count, qint64 ahead = kWindow)
    {
        if (offset >= m_start && offset - m_start <= static_cast<quint64>(m_filled) &&
            static_cast<qint64>(offset - m_start) + count <= m_filled)
            return m_bytes.data() + (offset - m_start);
        const qint64 want = std::max(count, std::min(ahead, kWindow));
        if (static_cast<qint64>(m_bytes.size()) < want)
            m_bytes.resize(static_cast<size_t>(want));
        const qint64 got = m_zip.readAt(offset, m_bytes.data(), want);
        m_failed = got < 0;
        m_start = offset;
        m_filled = std::max<qint64>(got, 0);
        return got >= count ? m_bytes.data() : nullptr;
    }
    bool failed() const { return m_failed; }

private:
    const ZipReader& m_zip;
    std::vector<char> m_bytes;
    quint64 m_start = 0;
    qint64 m_filled = 0;
    bool m_failed = false;
};

// What a local header says of its entry.
struct LocalHeader
{
    ZipEntry fields; // flags, method, CRC, sizes (zip64 applied)
    const char* name = nullptr;
    qsizetype nameLength = 0;
    quint64 dataOffset = 0;
};

// The local header at offset, read through the window; none when there is none, or it is cut.
std::optional<LocalHeader> localHeaderAt(ArchiveWindow& window, quint64 offset, qint64 ahead)
{
    const char* h = window.at(offset, kLocalHeaderSize, ahead);
    if (!h || get32(h) != kLocalHeader)
        return std::nullopt;
    const qsizetype nameLength = get16(h + 26);
    const qsizetype extraLength = get16(h + 28);
    h = window.at(offset, kLocalHeaderSize + nameLength + extraLength);
    if (!h)
        return std::nullopt;
    LocalHeader local;
    ZipEntry& e = local.fields;
    e.headerOffset = offset;
    e.flags = get16(h + 6);
    e.method = get16(h + 8);
    e.crc = get32(h + 14);
    e.packed = get32(h + 18);
    e.size = get32(h + 22);
    e.modified = dosTime(get16(h + 10), get16(h + 12));
    applyExtra(e, h + kLocalHeaderSize + nameLength, extraLength, e.size == kMax32, e.packed == kMax32,
               false);
    local.name = h + kLocalHeaderSize;
    local.nameLength = nameLength;
    local.dataOffset = offset + kLocalHeaderSize + static_cast<quint64>(nameLength + extraLength);
    return local;
}

// How the local header disagrees with the directory record, field by field; empty when it agrees.
// Where the sizes follow the data, the local header may give zeros for the CRC and the sizes.
QString headerMismatch(const ZipEntry& central, const LocalHeader& local, QStringView localName)
{
    QStringList wrong;
    const ZipEntry& l = local.fields;
    if (localName != central.name) {
        const QString unsafe = unsafeName(localName);
        wrong.append(QStringLiteral("it names %1%2 where the directory says %3")
                         .arg(quoted(localName),
                              unsafe.isEmpty() ? QString()
                                               : QStringLiteral(" (a name that leads out of the folder it is "
                                                                "extracted into: %1)")
                                                     .arg(unsafe),
                              quoted(central.name)));
    }
    const auto differ = [&](const char* what, quint64 here, quint64 there) {
        wrong.append(QStringLiteral("its %1 is %2 where the directory says %3")
                         .arg(QLatin1String(what))
                         .arg(here)
                         .arg(there));
    };
    if (l.method != central.method)
        differ("compression method", l.method, central.method);
    if (l.flags != central.flags)
        wrong.append(QStringLiteral("its flags are %1 where the directory says %2")
                         .arg(l.flags, 4, 16, QLatin1Char('0'))
                         .arg(central.flags, 4, 16, QLatin1Char('0')));
    const bool zeroAllowed = (l.flags & kSizesFollow) != 0;
    if (l.crc != central.crc && !(zeroAllowed && l.crc == 0))
        wrong.append(QStringLiteral("its CRC is %1 where the directory says %2")
                         .arg(l.crc, 8, 16, QLatin1Char('0'))
                         .arg(central.crc, 8, 16, QLatin1Char('0')));
    if (l.packed != central.packed && !(zeroAllowed && l.packed == 0))
        differ("compressed size", l.packed, central.packed);
    if (l.size != central.size && !(zeroAllowed && l.size == 0))
        differ("size", l.size, central.size);
    if (wrong.isEmpty())
        return {};
    return QStringLiteral("its local header does not match its directory record: ") +
           wrong.join(QStringLiteral("; "));
}

// The length of the data descriptor at a buffer's start that gives the entry's CRC and sizes: its
// signature (optional), the CRC and the sizes in 4 bytes each, or in 8 for zip64; the form that
// ends at next when two would fit. None when no descriptor there gives them.
std::optional<qint64> descriptorLength(const char* d, qint64 got, const ZipEntry& entry, quint64 at,
                                       quint64 next)
{
    std::optional<qint64> found;
    for (const qint64 skip : {qint64(4), qint64(0)}) {
        if (skip == 4 && (got < 4 || get32(d) != kDataDescriptor))
            continue;
        const char* p = d + skip;
        if (got < skip + 12 || get32(p) != entry.crc)
            continue;
        for (const qint64 wide : {qint64(0), qint64(1)}) {
            const qint64 length = skip + (wide ? 20 : 12);
            if (got < length)
                continue;
            const bool agrees = wide ? get64(p + 4) == entry.packed && get64(p + 12) == entry.size
                                     : get32(p + 4) == entry.packed && get32(p + 8) == entry.size;
            if (!agrees)
                continue;
            if (at + static_cast<quint64>(length) == next)
                return length;
            if (!found)
                found = length;
        }
    }
    return found;
}

} // namespace

quint64 ZipLimits::archiveBudget(quint64 fileSize) const
{
    const quint64 byRatio =
        maxRatio != 0 && fileSize > ~quint64(0) / maxRatio ? ~quint64(0) : fileSize * maxRatio;
    return std::min(maxTotalSize, std::max(ratioFloor, byRatio));
}

std::shared_ptr<const ZipReader> ZipReader::open(const QString& path, QString* why)
{
    return open(path, {}, nullptr, why);
}

std::shared_ptr<const ZipReader> ZipReader::open(const QString& path, const ZipLimits& limits,
                                                 std::shared_ptr<ReadBudget> budget, QString* why,
                                                 std::shared_ptr<const StopToken> stop)
{
    std::shared_ptr<ZipReader> zip(new ZipReader);
    zip->m_path = path;
    zip->m_budget = budget ? std::move(budget) : std::make_shared<ReadBudget>();
    zip->m_stop = stop ? std::move(stop) : std::make_shared<const StopToken>();
    zip->m_fd.reset(::open(HostName::encode(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info
    {};
    if (!zip->m_fd || ::fstat(zip->m_fd.get(), &info) != 0) {
        *why = errnoText(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        *why = S_ISDIR(info.st_mode) ? QStringLiteral("it is a folder") : QStringLiteral("not a plain file");
        return nullptr;
    }
    zip->m_fileSize = static_cast<quint64>(info.st_size);
    zip->readDirectory(limits);
    return zip;
}

ZipReader::~ZipReader()
{
    if (m_budget)
        m_budget->give(m_entriesTaken, m_charactersTaken);
}

qint64 ZipReader::readAt(quint64 offset, char* into, qint64 count) const
{
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = ::pread(m_fd.get(), into + done, static_cast<size_t>(count - done),
                                  static_cast<off_t>(offset + static_cast<quint64>(done)));
        if (n < 0 && errno == EINTR && !m_stop->stopRequested())
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::optional<qsizetype> ZipReader::find(QStringView name) const
{
    const auto it = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                 [&](const ZipEntry& entry) { return entry.name == name; });
    if (it == m_entries.cend())
        return std::nullopt;
    return it - m_entries.cbegin();
}

// Keeps a name in the blocks of names, within the budget: none, keeping nothing, past it.
std::optional<QStringView> ZipReader::keepName(const char* bytes, qsizetype length, quint16 flags)
{
    // A name decodes to at most as many characters as it has bytes: that many are taken, and what
    // was not needed is given back.
    if (!m_budget->take(1, static_cast<quint64>(length)))
        return std::nullopt;
    if (m_nameBlocks.empty() || kNameBlock - m_blockUsed < length + 2) {
        m_nameBlocks.push_back(std::make_unique_for_overwrite<char16_t[]>(static_cast<size_t>(kNameBlock)));
        m_blockUsed = 0;
    }
    char16_t* const start = m_nameBlocks.back().get() + m_blockUsed;
    const qsizetype characters = decodeName(bytes, length, flags, start);
    m_budget->give(0, static_cast<quint64>(length - characters));
    m_blockUsed += characters;
    ++m_entriesTaken;
    m_charactersTaken += static_cast<quint64>(characters);
    return QStringView(start, characters);
}

// Refuses an entry's data for a reason; the first reason stays. The text counts against the budget
// like a name: past it, the entry is refused all the same, with a shorter text.
void ZipReader::refuse(ZipEntry& entry, const QString& why)
{
    if (!entry.refused.isEmpty())
        return;
    if (m_budget->take(0, static_cast<quint64>(why.size()))) {
        m_charactersTaken += static_cast<quint64>(why.size());
        entry.refused = why;
    } else {
        static const QString shorter =
            QStringLiteral("damaged (why is not kept: the texts of this run are past their budget)");
        entry.refused = shorter;
    }
}

// A stretch of the archive that no entry accounts for, from first to last.
void ZipReader::noteGap(quint64 first, quint64 last)
{
    ++m_gaps;
    if (m_gaps <= kGapsNamed)
        m_damage.append(QStringLiteral("bytes %1 to %2 belong to no entry: data hidden from this listing")
                            .arg(first)
                            .arg(last));
}

void ZipReader::forgetEntries()
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_nameBlocks.clear();
    m_blockUsed = 0;
    m_budget->give(m_entriesTaken, m_charactersTaken);
    m_entriesTaken = 0;
    m_charactersTaken = 0;
}

void ZipReader::readDirectory(const ZipLimits& limits)
{
    // The end record is in the last 64 KiB and 22 bytes: the last signature whose comment ends the file.
    const quint64 tailSize = std::min<quint64>(m_fileSize, kEndRecordSize + 0xffff);
    QByteArray tail(static_cast<qsizetype>(tailSize), '\0');
    const quint64 tailStart = m_fileSize - tailSize;
    if (readAt(tailStart, tail.data(), tail.size()) != tail.size()) {
        m_damage.append(QStringLiteral("cannot read the archive: ") + errnoText(errno));
        return;
    }
    qsizetype end = -1;
    for (qsizetype at = tail.size() - kEndRecordSize; at >= 0; --at)
        if (get32(tail.constData() + at) == kEndOfDirectory &&
            at + kEndRecordSize + get16(tail.constData() + at + 20) <= tail.size()) {
            end = at;
            break;
        }
    if (end < 0) {
        readLocalHeaders(limits);
        checkEntries(limits);
        return;
    }
    const char* record = tail.constData() + end;
    m_comment = tail.mid(end + kEndRecordSize, get16(record + 20));
    if (const qsizetype after = tail.size() - (end + kEndRecordSize + m_comment.size()); after > 0)
        m_damage.append(QStringLiteral("%1 bytes follow the end of the archive").arg(after));
    quint64 count = get16(record + 10);
    quint64 directorySize = get32(record + 12);
    quint64 directoryOffset = get32(record + 16);
    const quint64 endOffset = tailStart + static_cast<quint64>(end);
    quint64 directoryEnd = endOffset; // where the central directory must end: at the (zip64) end record
    if (endOffset >= 20) {
        char locator[20];
        if (readAt(endOffset - 20, locator, 20) == 20 && get32(locator) == kZip64Locator) {
            char zip64[56];
            const quint64 zip64At = get64(locator + 8);
            if (zip64At < endOffset && readAt(zip64At, zip64, 56) == 56 && get32(zip64) == kZip64End) {
                directoryEnd = zip64At;
                count = get64(zip64 + 32);
                directorySize = get64(zip64 + 40);
                directoryOffset = get64(zip64 + 48);
            } else {
                m_damage.append(QStringLiteral("the zip64 end record is missing or damaged"));
            }
        }
    }
    if (!readCentral(directoryOffset, directorySize, count)) {
        forgetEntries();
        m_partial = false;
        readLocalHeaders(limits);
    } else {
        m_directoryOffset = directoryOffset;
        if (directoryOffset + directorySize != directoryEnd)
            m_damage.append(QStringLiteral("the central directory does not end where its end record begins: "
                                           "data is hidden between them, or the records lie"));
        checkLocalHeaders();
    }
    checkEntries(limits);
}

bool ZipReader::readCentral(quint64 directoryOffset, quint64 directorySize, quint64 count)
{
    if (directorySize > kMaxDirectorySize || directoryOffset > m_fileSize ||
        directorySize > m_fileSize - directoryOffset) {
        m_damage.append(QStringLiteral("the central directory lies outside the file"));
        return false;
    }
    m_entries.reserve(
        static_cast<size_t>(std::min({count, directorySize / kCentralHeaderSize, m_budget->entryLimit()})));
    ArchiveWindow window(*this);
    const quint64 end = directoryOffset + directorySize;
    quint64 at = directoryOffset;
    while (end - at >= kCentralHeaderSize) {
        if (m_entries.size() % 4096 == 0 && interrupted())
            return true;
        const char* h = window.at(at, kCentralHeaderSize);
        if (!h || get32(h) != kCentralHeader)
            break;
        const qsizetype nameLength = get16(h + 28);
        const qsizetype extraLength = get16(h + 30);
        const qsizetype commentLength = get16(h + 32);
        const quint64 length = kCentralHeaderSize + nameLength + extraLength + commentLength;
        if (length > end - at || !(h = window.at(at, static_cast<qint64>(length))))
            break;
        ZipEntry entry;
        entry.flags = get16(h + 8);
        entry.method = get16(h + 10);
        entry.crc = get32(h + 16);
        entry.packed = get32(h + 20);
        entry.size = get32(h + 24);
        entry.headerOffset = get32(h + 42);
        if (hasUnixMode(get16(h + 4) >> 8))
            entry.mode = get32(h + 38) >> 16;
        const std::optional<QStringView> name = keepName(h + kCentralHeaderSize, nameLength, entry.flags);
        if (!name) {
            m_partial = true;
            const QString unread =
                m_entries.empty()
                    ? QStringLiteral("none of its entries is read")
                    : QStringLiteral("the entries after the first %1 are not read").arg(m_entries.size());
            m_damage.append(QStringLiteral("its directory goes past what one run reads (%1 entries, %2 "
                                           "characters of names, for all the packages read together): %3")
                                .arg(m_budget->entryLimit())
                                .arg(m_budget->characterLimit())
                                .arg(unread));
            return true;
        }
        entry.name = *name;
        checkUnicodePath(entry, QByteArrayView(h + kCentralHeaderSize, nameLength),
                         h + kCentralHeaderSize + nameLength, extraLength);
        applyExtra(entry, h + kCentralHeaderSize + nameLength, extraLength, entry.size == kMax32,
                   entry.packed == kMax32, entry.headerOffset == kMax32);
        if (!entry.modified.isValid())
            entry.modified = dosTime(get16(h + 12), get16(h + 14));
        m_entries.push_back(std::move(entry));
        at += length;
    }
    if (m_entries.size() != count) {
        m_damage.append(QStringLiteral("the central directory holds %1 entries where its end record says %2")
                            .arg(m_entries.size())
                            .arg(count));
        if (m_entries.empty())
            return false;
    }
    return true;
}

// Reads every entry's local header, in the order of the offsets, holds it to the directory record,
// and accounts for the archive's bytes from its start to the directory.
void ZipReader::checkLocalHeaders()
{
    std::vector<quint32> order(m_entries.size());
    std::iota(order.begin(), order.end(), 0u);
    const auto byOffset = [&](quint32 a, quint32 b) {
        return m_entries[a].headerOffset < m_entries[b].headerOffset;
    };
    if (!std::is_sorted(order.begin(), order.end(), byOffset))
        std::stable_sort(order.begin(), order.end(), byOffset);
    ArchiveWindow window(*this);
    std::vector<char16_t> localName(0x10000 + 2);
    quint64 accounted = 0; // where the bytes accounted for end
    bool known = true;     // false after an entry whose local header is lost
    ZipEntry* previous = nullptr;
    for (size_t k = 0; k < order.size(); ++k) {
        if (k % 4096 == 0 && interrupted())
            return;
        ZipEntry& entry = m_entries[order[k]];
        if (entry.headerOffset >= m_directoryOffset) {
            refuse(entry, QStringLiteral("its local header would start at byte %1, in or past the central "
                                         "directory")
                              .arg(entry.headerOffset));
            continue;
        }
        if (known && !m_partial && entry.headerOffset > accounted)
            noteGap(accounted, entry.headerOffset - 1);
        else if (previous && known && entry.headerOffset < accounted)
            refuse(*previous, previous->headerOffset == entry.headerOffset
                                  ? QStringLiteral("it shares its data with another entry")
                                  : QStringLiteral("its data overlaps the entry %1").arg(quoted(entry.name)));
        previous = &entry;
        // Read ahead as far as the next entry's header when it is near.
        const quint64 next = k + 1 < order.size()
                                 ? std::min(m_entries[order[k + 1]].headerOffset, m_directoryOffset)
                                 : m_directoryOffset;
        const auto aheadTo = [&](quint64 from) {
            return next > from && next - from < static_cast<quint64>(kWindow)
                       ? static_cast<qint64>(next - from) + kHeaderRead
                       : kHeaderRead;
        };
        const std::optional<LocalHeader> local =
            localHeaderAt(window, entry.headerOffset, aheadTo(entry.headerOffset));
        if (!local) {
            refuse(entry, window.failed()
                              ? QStringLiteral("cannot read its local header: ") + errnoText(errno)
                              : QStringLiteral("its local header is missing or damaged"));
            known = false;
            continue;
        }
        entry.headerLength = static_cast<quint32>(local->dataOffset - local->fields.headerOffset);
        const qsizetype characters =
            decodeName(local->name, local->nameLength, local->fields.flags, localName.data());
        if (const QString wrong = headerMismatch(entry, *local, QStringView(localName.data(), characters));
            !wrong.isEmpty())
            refuse(entry, wrong);
        // The data, bounded by the file before any sum is made of its size.
        quint64 end = entry.dataOffset();
        if (entry.dataOffset() > m_fileSize || entry.packed > m_fileSize - entry.dataOffset()) {
            refuse(entry, QStringLiteral("its compressed size, %1, runs past the end of the archive")
                              .arg(byteCount(entry.packed)));
            accounted = m_directoryOffset;
            known = true;
            continue;
        }
        end += entry.packed;
        if (entry.flags & kSizesFollow) {
            // Through the window as a rule; near the end of the file, what is left of it.
            char tail[24];
            const char* d = window.at(end, 24, aheadTo(end));
            const qint64 got = d ? 24 : std::max<qint64>(readAt(end, tail, 24), 0);
            const std::optional<qint64> length = descriptorLength(d ? d : tail, got, entry, end, next);
            if (length)
                end += static_cast<quint64>(*length);
            else
                refuse(entry, QStringLiteral("the data descriptor after its data is missing or does not "
                                             "match its directory record"));
        }
        accounted = known ? std::max(accounted, end) : end;
        known = true;
    }
    if (known && !m_partial && accounted < m_directoryOffset)
        noteGap(accounted, m_directoryOffset - 1);
    else if (known && previous && accounted > m_directoryOffset)
        refuse(*previous, QStringLiteral("its data runs into the central directory"));
    if (m_gaps > kGapsNamed)
        m_damage.append(
            QStringLiteral("and %1 more stretches of bytes belong to no entry").arg(m_gaps - kGapsNamed));
}

// Inflates an entry whose sizes follow its data, to find where its data ends: within the limits for
// one entry and what is left of the archive's budget. False when it cannot be found (the entry says
// why); the entries after it cannot be found then either.
bool ZipReader::probeEntry(ZipEntry& entry, const ZipLimits& limits, quint64& inflateLeft)
{
    EntryStream probe(std::shared_ptr<const ZipReader>(std::shared_ptr<const ZipReader>{}, this), entry);
    probe.m_entry.size = ~quint64(0);
    probe.m_entry.packed = m_fileSize - entry.dataOffset();
    std::vector<char> sink(kBlock);
    qint64 n = 0;
    while ((n = probe.read(sink.data(), kBlock)) > 0) {
        const quint64 out = probe.m_position;
        const quint64 taken = probe.m_inputTaken;
        if (out > limits.maxEntrySize ||
            (out > limits.ratioFloor && out / std::max<quint64>(taken, 1) > limits.maxRatio)) {
            refuse(entry, QStringLiteral("its sizes follow its data, and it inflates past the limits against "
                                         "bombs: the entries after it cannot be found"));
            return false;
        }
        if (out > inflateLeft) {
            refuse(entry, QStringLiteral("its sizes follow its data, and with the entries before it, it "
                                         "inflates past %1, the limit for this archive: the entries after it "
                                         "cannot be found")
                              .arg(byteSizeText(limits.archiveBudget(m_fileSize))));
            return false;
        }
    }
    if (n < 0) {
        refuse(entry, probe.error());
        return false;
    }
    inflateLeft -= probe.m_position;
    entry.packed = probe.m_inputTaken - probe.m_inflater.avail_in;
    entry.size = probe.m_position;
    return true;
}

// An archive without its central directory: the entries one after the other from the start, as far
// as their local headers go.
void ZipReader::readLocalHeaders(const ZipLimits& limits)
{
    m_fromLocalHeaders = true;
    quint64 inflateLeft = limits.archiveBudget(m_fileSize);
    ArchiveWindow window(*this);
    quint64 offset = 0;
    qint64 ahead = kWindow; // a window while the entries are small, a header's read after a large one
    for (;;) {
        if (m_entries.size() % 4096 == 0 && interrupted())
            return;
        std::optional<LocalHeader> local = localHeaderAt(window, offset, ahead);
        if (!local)
            break;
        const std::optional<QStringView> name = keepName(local->name, local->nameLength, local->fields.flags);
        if (!name) {
            m_damage.append(QStringLiteral("it goes past what one run reads (%1 entries, %2 characters of "
                                           "names, for all the packages read together): the entries after "
                                           "the first %3 are not read")
                                .arg(m_budget->entryLimit())
                                .arg(m_budget->characterLimit())
                                .arg(m_entries.size()));
            break;
        }
        ZipEntry entry = local->fields;
        entry.name = *name;
        entry.headerLength = static_cast<quint32>(local->dataOffset - local->fields.headerOffset);
        if (entry.flags & kSizesFollow) {
            // The sizes follow the data: only a deflated stream tells where it ends.
            if (entry.method != 8) {
                m_damage.append(QStringLiteral("%1: its sizes follow its data, and it is not deflated: the "
                                               "entries after it cannot be found")
                                    .arg(entry.name));
                break;
            }
            const bool found = !(entry.flags & 0x0001) && probeEntry(entry, limits, inflateLeft);
            if (!found) {
                refuse(entry, QStringLiteral("encrypted, and its sizes follow its data: the entries after "
                                             "it cannot be found"));
                m_entries.push_back(std::move(entry));
                break;
            }
            // The descriptor: its signature (optional), the CRC, and the sizes in 4 bytes each, or in
            // 8 for zip64: the form whose compressed size is the one just found.
            char descriptor[24];
            const quint64 after = entry.dataOffset() + entry.packed;
            const qint64 got = readAt(after, descriptor, 24);
            const qsizetype skip = got >= 4 && get32(descriptor) == kDataDescriptor ? 4 : 0;
            const bool wide = got >= skip + 20 && get64(descriptor + skip + 4) == entry.packed &&
                              get32(descriptor + skip + 4) != entry.packed;
            const qsizetype length = wide ? 20 : 12;
            if (got < skip + length) {
                refuse(entry, QStringLiteral("its data is cut short"));
                m_entries.push_back(std::move(entry));
                break;
            }
            const quint64 inflated = entry.size;
            entry.crc = get32(descriptor + skip);
            entry.size = wide ? get64(descriptor + skip + 12) : get32(descriptor + skip + 8);
            if (entry.size != inflated)
                refuse(entry, sizeMismatch(inflated, entry.size));
            offset = after + static_cast<quint64>(skip + length);
        } else {
            if (entry.dataOffset() > m_fileSize || entry.packed > m_fileSize - entry.dataOffset()) {
                refuse(entry, QStringLiteral("its data is cut short"));
                m_entries.push_back(std::move(entry));
                break;
            }
            offset = entry.dataOffset() + entry.packed;
        }
        ahead = offset - entry.headerOffset < static_cast<quint64>(kWindow / 4) ? kWindow : kHeaderRead;
        m_entries.push_back(std::move(entry));
    }
    if (m_entries.empty() && m_fileSize > 0)
        m_damage.append(QStringLiteral("not a zip archive"));
    else if (m_fileSize == 0)
        m_damage.append(QStringLiteral("the file is empty: not a zip archive"));
    else
        m_damage.append(QStringLiteral("the archive is cut short: it has no central directory; %1 read from "
                                       "their local headers")
                            .arg(m_entries.size() == 1 ? QStringLiteral("1 entry")
                                                       : QStringLiteral("%1 entries").arg(m_entries.size())));
}

// The limits against bombs, for each entry and for the archive as a whole, and names that could
// step out. The sizes were bounded by the file's own size when the local headers were read.
void ZipReader::checkEntries(const ZipLimits& limits)
{
    const quint64 budget = limits.archiveBudget(m_fileSize);
    quint64 total = 0;
    for (size_t k = 0; k < m_entries.size(); ++k) {
        if (k % 4096 == 0 && interrupted())
            return;
        ZipEntry& entry = m_entries[k];
        entry.unsafe = unsafeName(entry.name);
        if (!entry.refused.isEmpty())
            continue;
        if (const QString kind = specialKind(entry.mode); !kind.isEmpty())
            refuse(entry,
                   (entry.mode & S_IFMT) == S_IFLNK
                       ? QStringLiteral("it is a symbolic link, which a reader extracting it makes, "
                                        "leading wherever its target says; not read")
                       : QStringLiteral("it is %1, which a reader extracting it makes as such; not read")
                             .arg(kind));
        else if (entry.flags & 0x0001)
            refuse(entry, QStringLiteral("encrypted"));
        else if (entry.method != 0 && entry.method != 8)
            refuse(entry, QStringLiteral("compression method %1 is not read here").arg(entry.method));
        else if (entry.size > limits.maxEntrySize)
            refuse(entry, QStringLiteral("its size, %1, is past the limit of %2")
                              .arg(byteCount(entry.size), byteSizeText(limits.maxEntrySize)));
        else if (entry.size > limits.ratioFloor &&
                 entry.size / std::max<quint64>(entry.packed, 1) > limits.maxRatio)
            refuse(entry, QStringLiteral("it would inflate %1 bytes to %2, past the ratio of %3 to 1")
                              .arg(entry.packed)
                              .arg(entry.size)
                              .arg(limits.maxRatio));
        else if (entry.size > budget - total)
            refuse(entry, QStringLiteral("with the entries before it, it would inflate past %1, the limit "
                                         "for an archive of %2")
                              .arg(byteSizeText(budget), byteSizeText(m_fileSize)));
        else
            total += entry.size;
    }
}

bool ZipReader::interrupted()
{
    if (!m_stop->stopRequested())
        return false;
    if (const QString why = m_stop->reason(); !m_damage.contains(why))
        m_damage.append(why);
    return true;
}

bool ZipReader::read(const ZipEntry& entry, const std::function<bool(const char*, size_t)>& sink,
                     QString* why) const
{
    if (!entry.refused.isEmpty())
        return failing(why, entry.refused);
    if (m_stop->stopRequested())
        return failing(why, m_stop->reason());
    if (entry.size <= kWholeEntryLimit && entry.packed <= kWholeEntryLimit)
        return readWhole(entry, sink, why);
    EntryStream stream(std::shared_ptr<const ZipReader>(std::shared_ptr<const ZipReader>{}, this), entry);
    std::vector<char> piece(static_cast<size_t>(std::clamp<quint64>(entry.size + 1, 1, kBlock)));
    for (;;) {
        const qint64 n = stream.read(piece.data(), static_cast<qint64>(piece.size()));
        if (n < 0)
            return failing(why, stream.error());
        if (n == 0 || !sink(piece.data(), static_cast<size_t>(n)))
            return true;
    }
}

bool ZipReader::readWhole(const ZipEntry& entry, const std::function<bool(const char*, size_t)>& sink,
                          QString* why) const
{
    WholeEntryBuffers& buffers = wholeEntryBuffers();
    if (!buffers.decompressor)
        return failing(why, QStringLiteral("out of memory"));
    if (buffers.raw.size() < entry.packed)
        buffers.raw.resize(static_cast<size_t>(entry.packed));
    const qint64 got = readAt(entry.dataOffset(), buffers.raw.data(), static_cast<qint64>(entry.packed));
    if (got < 0)
        return failing(why, QStringLiteral("cannot read it: ") + errnoText(errno));
    if (static_cast<quint64>(got) < entry.packed)
        return failing(why, QStringLiteral("its data runs past the end of the archive"));
    const char* data = buffers.raw.data();
    size_t size = entry.packed;
    if (entry.method == 8) {
        if (buffers.bytes.size() < entry.size + 1)
            buffers.bytes.resize(static_cast<size_t>(entry.size + 1));
        size_t used = 0;
        switch (libdeflate_deflate_decompress_ex(buffers.decompressor.get(), data, entry.packed,
                                                 buffers.bytes.data(), entry.size, &used, &size)) {
        case LIBDEFLATE_SUCCESS:
            break;
        case LIBDEFLATE_INSUFFICIENT_SPACE:
            return failing(why, moreThanSaid(entry.size));
        default:
            return failing(why, QStringLiteral("its compressed data is damaged"));
        }
        if (used < entry.packed)
            return failing(why, hiddenInside(entry, used));
        data = buffers.bytes.data();
    }
    if (size != entry.size)
        return failing(why, size > entry.size ? moreThanSaid(entry.size) : sizeMismatch(size, entry.size));
    if (const auto crc = static_cast<quint32>(libdeflate_crc32(0, data, size)); crc != entry.crc)
        return failing(why, crcMismatch(crc, entry.crc));
    if (streamingEndMatters(entry)) {
        StreamingEnd streaming;
        streaming.add(data, size);
        if (streaming.end())
            return failing(why, endsEarly(entry, *streaming.end()));
    }
    if (size > 0)
        sink(data, size);
    return true;
}

void StreamingEnd::add(const char* data, size_t size)
{
    static constexpr char kSignature[] = {'P', 'K', '\x07', '\x08'};
    if (m_end || size == 0)
        return;
    // A signature that starts in the carry, with the piece's first bytes after it.
    std::array<char, 14> joint{};
    std::memcpy(joint.data(), m_carry.data(), m_carried);
    const size_t more = std::min<size_t>(7, size);
    std::memcpy(joint.data() + m_carried, data, more);
    for (size_t i = 0; i < m_carried && i + 8 <= m_carried + more; ++i)
        if (std::memcmp(joint.data() + i, kSignature, 4) == 0 &&
            get32(joint.data() + i + 4) ==
                static_cast<quint32>(crc32_z(m_crc, reinterpret_cast<const Bytef*>(m_carry.data()), i))) {
            m_end = m_taken + i;
            return;
        }
    m_crc = static_cast<quint32>(crc32_z(m_crc, reinterpret_cast<const Bytef*>(m_carry.data()), m_carried));
    m_taken += m_carried;
    m_carried = 0;
    // Signatures in the piece, each with its CRC after it.
    size_t at = 0; // the piece's bytes taken into m_crc
    for (const void* found = memmem(data, size, kSignature, 4); found;) {
        const size_t i = static_cast<size_t>(static_cast<const char*>(found) - data);
        if (i + 8 > size)
            break;
        m_crc = static_cast<quint32>(crc32_z(m_crc, reinterpret_cast<const Bytef*>(data + at), i - at));
        at = i;
        if (get32(data + i + 4) == m_crc) {
            m_end = m_taken + i;
            return;
        }
        found = memmem(data + i + 1, size - i - 1, kSignature, 4);
    }
    // The last bytes wait for the next piece.
    const size_t keepFrom = std::max(at, size - std::min<size_t>(7, size));
    m_crc = static_cast<quint32>(crc32_z(m_crc, reinterpret_cast<const Bytef*>(data + at), keepFrom - at));
    m_taken += keepFrom;
    m_carried = size - keepFrom;
    std::memcpy(m_carry.data(), data + keepFrom, m_carried);
}

std::optional<QByteArray> ZipReader::readAll(const ZipEntry& entry, quint64 cap, QString* why) const
{
    if (entry.size > cap) {
        *why = QStringLiteral("it holds %1, more than the %2 read here")
                   .arg(byteSizeText(entry.size), byteSizeText(cap));
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(entry.size));
    const bool intact = read(
        entry,
        [&](const char* data, size_t size) {
            bytes.append(data, static_cast<qsizetype>(size));
            return true;
        },
        why);
    if (!intact)
        return std::nullopt;
    return bytes;
}

EntryStream::EntryStream(std::shared_ptr<const ZipReader> zip, const ZipEntry& entry)
    : m_zip(std::move(zip)), m_entry(entry)
{
    restart();
}

EntryStream::~EntryStream()
{
    if (m_inflaterReady)
        inflateEnd(&m_inflater);
}

void EntryStream::restart()
{
    if (m_inflaterReady)
        inflateEnd(&m_inflater);
    m_inflater = z_stream{};
    m_inflaterReady = false;
    m_inputTaken = 0;
    m_position = 0;
    m_crc = static_cast<quint32>(crc32(0, nullptr, 0));
    m_streamingEnd = {};
    m_ended = false;
    m_error.clear();
    if (!m_entry.refused.isEmpty()) {
        fail(m_entry.refused);
        return;
    }
    if (m_entry.headerLength == 0) {
        fail(QStringLiteral("its local header is missing or damaged"));
        return;
    }
    if (m_entry.method == 8) {
        if (inflateInit2(&m_inflater, -MAX_WBITS) != Z_OK) {
            fail(QStringLiteral("out of memory"));
            return;
        }
        m_inflaterReady = true;
    }
}

qint64 EntryStream::fail(const QString& why)
{
    if (m_error.isEmpty())
        m_error = why;
    m_ended = true;
    return -1;
}

bool EntryStream::seek(quint64 offset)
{
    if (offset < m_position)
        restart();
    std::vector<char> skip(static_cast<size_t>(kBlock));
    while (m_position < offset && m_error.isEmpty()) {
        const qint64 n =
            read(skip.data(), static_cast<qint64>(std::min<quint64>(offset - m_position, kBlock)));
        if (n <= 0)
            break;
    }
    return m_position == offset;
}

qint64 EntryStream::read(char* into, qint64 max)
{
    if (!m_error.isEmpty())
        return -1;
    if (m_ended || max <= 0)
        return 0;
    if (const StopToken& stop = m_zip->stop(); stop.stopRequested())
        return fail(stop.reason());
    const qint64 n = m_entry.method == 8 ? readDeflated(into, max) : readStored(into, max);
    if (n > 0) {
        m_crc = static_cast<quint32>(
            crc32_z(m_crc, reinterpret_cast<const Bytef*>(into), static_cast<size_t>(n)));
        m_position += static_cast<quint64>(n);
        if (m_position > m_entry.size)
            return fail(
                QStringLiteral("it holds more bytes than its headers say (%1)").arg(byteCount(m_entry.size)));
    }
    if (m_ended && m_error.isEmpty())
        finishEntry();
    return m_error.isEmpty() ? n : -1;
}

qint64 EntryStream::readStored(char* into, qint64 max)
{
    const qint64 want =
        static_cast<qint64>(std::min<quint64>(static_cast<quint64>(max), m_entry.packed - m_inputTaken));
    const qint64 n = m_zip->readAt(m_entry.dataOffset() + m_inputTaken, into, want);
    if (n < 0)
        return fail(QStringLiteral("cannot read it: ") + errnoText(errno));
    if (n < want)
        return fail(QStringLiteral("its data runs past the end of the archive"));
    m_inputTaken += static_cast<quint64>(n);
    m_ended = m_inputTaken == m_entry.packed;
    if (streamingEndMatters(m_entry)) {
        m_streamingEnd.add(into, static_cast<size_t>(n));
        if (m_streamingEnd.end())
            return fail(endsEarly(m_entry, *m_streamingEnd.end()));
    }
    return n;
}

qint64 EntryStream::readDeflated(char* into, qint64 max)
{
    m_inflater.next_out = reinterpret_cast<Bytef*>(into);
    m_inflater.avail_out = static_cast<uInt>(std::min<qint64>(max, kBlock));
    while (m_inflater.avail_out > 0) {
        if (m_inflater.avail_in == 0) {
            const quint64 left = m_entry.packed - m_inputTaken;
            if (left == 0)
                return fail(QStringLiteral("its data is cut short"));
            m_input.resize(static_cast<size_t>(std::min<quint64>(left, kBlock)));
            const qint64 n = m_zip->readAt(m_entry.dataOffset() + m_inputTaken, m_input.data(),
                                           static_cast<qint64>(m_input.size()));
            if (n < 0)
                return fail(QStringLiteral("cannot read it: ") + errnoText(errno));
            if (n == 0)
                return fail(QStringLiteral("its data runs past the end of the archive"));
            m_inputTaken += static_cast<quint64>(n);
            m_inflater.next_in = reinterpret_cast<Bytef*>(m_input.data());
            m_inflater.avail_in = static_cast<uInt>(n);
        }
        const int status = inflate(&m_inflater, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            m_ended = true;
            break;
        }
        if (status != Z_OK && status != Z_BUF_ERROR)
            return fail(QStringLiteral("its compressed data is damaged (%1)")
                            .arg(QString::fromLatin1(m_inflater.msg ? m_inflater.msg : "inflate failed")));
        if (status == Z_BUF_ERROR && m_inflater.avail_in > 0)
            return fail(QStringLiteral("its compressed data is damaged"));
    }
    return std::min<qint64>(max, kBlock) - m_inflater.avail_out;
}

void EntryStream::finishEntry()
{
    if (m_entry.size == ~quint64(0))
        return; // the sizes come after the data: nothing to hold it to yet
    if (const quint64 used = m_inputTaken - (m_inflaterReady ? m_inflater.avail_in : 0);
        used < m_entry.packed)
        fail(hiddenInside(m_entry, used));
    else if (m_position != m_entry.size)
        fail(sizeMismatch(m_position, m_entry.size));
    else if (m_crc != m_entry.crc)
        fail(crcMismatch(m_crc, m_entry.crc));
}
