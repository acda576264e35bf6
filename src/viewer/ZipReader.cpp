#include "viewer/ZipReader.h"

#include "base/SystemError.h"
#include "outside/Interruption.h"
#include "platform/HostName.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <libdeflate.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kCentralHeader = 0x02014b50;
constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kZip64End = 0x06064b50;
constexpr quint32 kZip64Locator = 0x07064b50;
constexpr quint32 kDataDescriptor = 0x08074b50;
constexpr quint32 kMax32 = 0xffffffffu;
constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kLocalHeaderSize = 30;
constexpr qint64 kCentralHeaderSize = 46;
constexpr quint64 kMaxDirectorySize = quint64(1) << 30;
constexpr qint64 kBlock = 256 << 10;
constexpr size_t kMaxEntries = 2'000'000; // about a gigabyte of names and headers in memory

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

QString sizeText(quint64 bytes)
{
    return QString::number(bytes) + QStringLiteral(" bytes");
}

QString crcMismatch(quint32 got, quint32 said)
{
    return QStringLiteral("CRC mismatch: its bytes give %1, its headers say %2")
        .arg(got, 8, 16, QLatin1Char('0'))
        .arg(said, 8, 16, QLatin1Char('0'));
}

QString sizeMismatch(quint64 got, quint64 said)
{
    return QStringLiteral("it holds %1 where its headers say %2").arg(sizeText(got), sizeText(said));
}

QString moreThanSaid(quint64 said)
{
    return QStringLiteral("it holds more bytes than its headers say (%1)").arg(sizeText(said));
}

// Entries up to this size are read whole, with one read of the archive and libdeflate; larger ones
// are streamed.
constexpr quint64 kWholeEntryLimit = quint64(8) << 20;
constexpr quint64 kHeaderSlack = 1024; // the local header's name and extra field, read with the data

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

// The name as the entry says it is written: UTF-8 with bit 11 or when its bytes are UTF-8, else the
// DOS code page, whose upper half is read as Latin-1 here (close enough to show it; its bytes are
// never used as a path).
QString entryName(const QByteArray& bytes, quint16 flags)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString name = utf8(bytes);
    // Many writers put UTF-8 without saying so: valid UTF-8 is taken as such.
    return (flags & 0x0800) || !utf8.hasError() ? name : QString::fromLatin1(bytes);
}

// Why a reader that extracts the entry where its name says could leave the folder it extracts into.
QString unsafeName(const QString& name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')) ||
        (name.size() >= 2 && name.at(1) == QLatin1Char(':')))
        return QStringLiteral("absolute path");
    const QStringList parts =
        QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    if (parts.contains(QStringLiteral("..")))
        return QStringLiteral("\"..\" in its path");
    return {};
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

} // namespace

std::shared_ptr<const ZipReader> ZipReader::open(const QString& path, QString* error, const ZipLimits& limits)
{
    std::shared_ptr<ZipReader> zip(new ZipReader);
    zip->m_path = path;
    zip->m_fd.reset(::open(HostName::encode(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info
    {};
    if (!zip->m_fd || ::fstat(zip->m_fd.get(), &info) != 0) {
        *error = errnoText(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        *error =
            S_ISDIR(info.st_mode) ? QStringLiteral("it is a folder") : QStringLiteral("not a plain file");
        return nullptr;
    }
    zip->m_fileSize = static_cast<quint64>(info.st_size);
    zip->readDirectory(limits);
    return zip;
}

qint64 ZipReader::readAt(quint64 offset, char* into, qint64 count) const
{
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = ::pread(m_fd.get(), into + done, static_cast<size_t>(count - done),
                                  static_cast<off_t>(offset + static_cast<quint64>(done)));
        if (n < 0 && errno == EINTR && Interruption::requested() == 0)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

qsizetype ZipReader::find(const QString& name) const
{
    const auto it = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                 [&](const ZipEntry& entry) { return entry.name == name; });
    return it == m_entries.cend() ? -1 : it - m_entries.cbegin();
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
            if (readAt(get64(locator + 8), zip64, 56) == 56 && get32(zip64) == kZip64End) {
                directoryEnd = get64(locator + 8);
                count = get64(zip64 + 32);
                directorySize = get64(zip64 + 40);
                directoryOffset = get64(zip64 + 48);
            } else {
                m_damage.append(QStringLiteral("the zip64 end record is missing or damaged"));
            }
        }
    }
    if (!readCentral(directoryOffset, directorySize, count)) {
        m_entries.clear();
        readLocalHeaders(limits);
    } else {
        m_directoryOffset = directoryOffset;
        if (directoryOffset + directorySize != directoryEnd)
            m_damage.append(QStringLiteral("the central directory does not end where its end record begins: "
                                           "data is hidden between them, or the records lie"));
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
    QByteArray directory(static_cast<qsizetype>(directorySize), '\0');
    if (readAt(directoryOffset, directory.data(), directory.size()) != directory.size()) {
        m_damage.append(QStringLiteral("cannot read the central directory: ") + errnoText(errno));
        return false;
    }
    m_entries.reserve(static_cast<size_t>(std::min<quint64>(count, directorySize / kCentralHeaderSize)));
    qsizetype at = 0;
    while (at + kCentralHeaderSize <= directory.size() &&
           get32(directory.constData() + at) == kCentralHeader) {
        if (m_entries.size() % 4096 == 0 && interrupted())
            return true;
        if (m_entries.size() >= kMaxEntries) {
            m_damage.append(
                QStringLiteral("it holds more than %1 entries; the rest are not read").arg(kMaxEntries));
            return true;
        }
        const char* h = directory.constData() + at;
        const qsizetype nameLength = get16(h + 28);
        const qsizetype extraLength = get16(h + 30);
        const qsizetype commentLength = get16(h + 32);
        if (at + kCentralHeaderSize + nameLength + extraLength + commentLength > directory.size())
            break;
        ZipEntry entry;
        entry.flags = get16(h + 8);
        entry.method = get16(h + 10);
        entry.crc = get32(h + 16);
        entry.packed = get32(h + 20);
        entry.size = get32(h + 24);
        entry.headerOffset = get32(h + 42);
        if ((get16(h + 4) >> 8) == 3) // made on Unix
            entry.mode = get32(h + 38) >> 16;
        entry.name = entryName(QByteArray(h + kCentralHeaderSize, nameLength), entry.flags);
        applyExtra(entry, h + kCentralHeaderSize + nameLength, extraLength, entry.size == kMax32,
                   entry.packed == kMax32, entry.headerOffset == kMax32);
        if (!entry.modified.isValid())
            entry.modified = dosTime(get16(h + 12), get16(h + 14));
        m_entries.push_back(std::move(entry));
        at += kCentralHeaderSize + nameLength + extraLength + commentLength;
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

// An archive without its central directory: the entries one after the other from the start, as far
// as their local headers go.
void ZipReader::readLocalHeaders(const ZipLimits& limits)
{
    m_fromLocalHeaders = true;
    quint64 offset = 0;
    char h[kLocalHeaderSize];
    while (readAt(offset, h, kLocalHeaderSize) == kLocalHeaderSize && get32(h) == kLocalHeader) {
        if (interrupted())
            return;
        ZipEntry entry;
        entry.headerOffset = offset;
        entry.flags = get16(h + 6);
        entry.method = get16(h + 8);
        entry.crc = get32(h + 14);
        entry.packed = get32(h + 18);
        entry.size = get32(h + 22);
        const qsizetype nameLength = get16(h + 26);
        const qsizetype extraLength = get16(h + 28);
        QByteArray nameAndExtra(nameLength + extraLength, '\0');
        if (readAt(offset + kLocalHeaderSize, nameAndExtra.data(), nameAndExtra.size()) !=
            nameAndExtra.size())
            break;
        entry.name = entryName(nameAndExtra.left(nameLength), entry.flags);
        applyExtra(entry, nameAndExtra.constData() + nameLength, extraLength, entry.size == kMax32,
                   entry.packed == kMax32, false);
        if (!entry.modified.isValid())
            entry.modified = dosTime(get16(h + 10), get16(h + 12));
        entry.dataOffset = offset + kLocalHeaderSize + static_cast<quint64>(nameAndExtra.size());
        if (entry.flags & 0x0008) {
            // The sizes follow the data: only a deflated stream tells where it ends.
            if (entry.method != 8) {
                m_damage.append(QStringLiteral("%1: its sizes follow its data, and it is not deflated: the "
                                               "entries after it cannot be found")
                                    .arg(entry.name));
                break;
            }
            EntryStream probe(std::shared_ptr<const ZipReader>(std::shared_ptr<const ZipReader>{}, this),
                              entry);
            entry.size = ~quint64(0);
            std::vector<char> sink(kBlock);
            probe.m_entry.size = ~quint64(0);
            probe.m_entry.packed = m_fileSize - entry.dataOffset;
            // Inflated only as far as the limits allow: past them the rest cannot be found.
            qint64 n = 0;
            while ((n = probe.read(sink.data(), kBlock)) > 0) {
                const quint64 taken = probe.m_inputTaken;
                if (probe.m_position > limits.maxEntrySize ||
                    (probe.m_position > limits.ratioFloor &&
                     probe.m_position / std::max<quint64>(taken, 1) > limits.maxRatio)) {
                    entry.refused =
                        QStringLiteral("its sizes follow its data, and it inflates past the limits against "
                                       "bombs: the entries after it cannot be found");
                    break;
                }
            }
            if (!entry.refused.isEmpty()) {
                m_entries.push_back(std::move(entry));
                break;
            }
            if (n < 0) {
                entry.refused = probe.error();
                m_entries.push_back(std::move(entry));
                break;
            }
            entry.packed = probe.m_inputTaken - probe.m_inflater.avail_in;
            // The descriptor: its signature (optional), the CRC, and the sizes in 4 bytes each, or in
            // 8 for zip64: the form whose compressed size is the one just found.
            char descriptor[24];
            const quint64 after = entry.dataOffset + entry.packed;
            const qint64 got = readAt(after, descriptor, 24);
            const qsizetype skip = got >= 4 && get32(descriptor) == kDataDescriptor ? 4 : 0;
            const bool wide = got >= skip + 20 && get64(descriptor + skip + 4) == entry.packed &&
                              get32(descriptor + skip + 4) != entry.packed;
            const qsizetype length = wide ? 20 : 12;
            if (got < skip + length) {
                entry.refused = QStringLiteral("its data is cut short");
                m_entries.push_back(std::move(entry));
                break;
            }
            entry.crc = get32(descriptor + skip);
            entry.size = wide ? get64(descriptor + skip + 12) : get32(descriptor + skip + 8);
            offset = after + static_cast<quint64>(skip + length);
        } else {
            offset = entry.dataOffset + entry.packed;
        }
        m_entries.push_back(std::move(entry));
        if (offset > m_fileSize)
            break;
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

// The limits against bombs, names that could step out, and data that runs past the end of the file
// or into another entry's.
void ZipReader::checkEntries(const ZipLimits& limits)
{
    std::vector<size_t> byOffset(m_entries.size());
    for (size_t i = 0; i < byOffset.size(); ++i)
        byOffset[i] = i;
    std::sort(byOffset.begin(), byOffset.end(),
              [&](size_t a, size_t b) { return m_entries[a].headerOffset < m_entries[b].headerOffset; });
    quint64 total = 0;
    for (size_t k = 0; k < byOffset.size(); ++k) {
        if (k % 4096 == 0 && interrupted())
            return;
        ZipEntry& entry = m_entries[byOffset[k]];
        entry.unsafe = unsafeName(entry.name);
        total += std::min(entry.size, limits.maxTotalSize);
        const quint64 dataEnd = entry.headerOffset + kLocalHeaderSize + entry.packed;
        if (entry.flags & 0x0001)
            entry.refused = QStringLiteral("encrypted");
        else if (entry.method != 0 && entry.method != 8)
            entry.refused = QStringLiteral("compression method %1 is not read here").arg(entry.method);
        else if (entry.size > limits.maxEntrySize)
            entry.refused = QStringLiteral("its size, %1, is past the limit of %2")
                                .arg(sizeText(entry.size), sizeText(limits.maxEntrySize));
        else if (entry.size > limits.ratioFloor &&
                 entry.size / std::max<quint64>(entry.packed, 1) > limits.maxRatio)
            entry.refused = QStringLiteral("it would inflate %1 bytes to %2, past the ratio of %3 to 1")
                                .arg(entry.packed)
                                .arg(entry.size)
                                .arg(limits.maxRatio);
        else if (total > limits.maxTotalSize)
            entry.refused = QStringLiteral("the entries before it already hold %1, the limit for an archive")
                                .arg(sizeText(limits.maxTotalSize));
        else if (k + 1 < byOffset.size() && !m_fromLocalHeaders &&
                 m_entries[byOffset[k + 1]].headerOffset < dataEnd)
            entry.refused =
                QStringLiteral("its data overlaps the entry %1").arg(m_entries[byOffset[k + 1]].name);
        else if (k + 1 < byOffset.size() && entry.headerOffset == m_entries[byOffset[k + 1]].headerOffset)
            entry.refused = QStringLiteral("it shares its data with another entry");
    }
}

bool ZipReader::interrupted()
{
    const int signal = Interruption::requested();
    if (signal != 0 && !m_damage.contains(QStringLiteral("interrupted by signal %1").arg(signal)))
        m_damage.append(QStringLiteral("interrupted by signal %1").arg(signal));
    return signal != 0;
}

bool ZipReader::locateData(ZipEntry& entry) const
{
    if (entry.dataOffset != 0)
        return true;
    char h[kLocalHeaderSize];
    if (readAt(entry.headerOffset, h, kLocalHeaderSize) != kLocalHeaderSize || get32(h) != kLocalHeader)
        return false;
    entry.dataOffset = entry.headerOffset + kLocalHeaderSize + get16(h + 26) + get16(h + 28);
    return true;
}

QString ZipReader::read(const ZipEntry& entry, const std::function<bool(const char*, size_t)>& sink,
                        quint64* dataEnd) const
{
    if (!entry.refused.isEmpty())
        return entry.refused;
    if (const int signal = Interruption::requested(); signal != 0)
        return QStringLiteral("interrupted by signal %1").arg(signal);
    if (entry.size <= kWholeEntryLimit && entry.packed <= kWholeEntryLimit && !(entry.flags & 0x0008))
        return readWhole(entry, sink, dataEnd);
    EntryStream stream(std::shared_ptr<const ZipReader>(std::shared_ptr<const ZipReader>{}, this), entry);
    std::vector<char> piece(static_cast<size_t>(std::clamp<quint64>(entry.size + 1, 1, kBlock)));
    for (;;) {
        const qint64 n = stream.read(piece.data(), static_cast<qint64>(piece.size()));
        if (n < 0)
            return stream.error();
        if (n == 0) {
            if (dataEnd)
                *dataEnd = stream.entry().dataOffset + entry.packed;
            return {};
        }
        if (!sink(piece.data(), static_cast<size_t>(n)))
            return {};
    }
}

QString ZipReader::readWhole(const ZipEntry& entry, const std::function<bool(const char*, size_t)>& sink,
                             quint64* dataEnd) const
{
    WholeEntryBuffers& buffers = wholeEntryBuffers();
    if (!buffers.decompressor)
        return QStringLiteral("out of memory");
    // The local header, its name and extra field, and the data, in one read as a rule.
    const quint64 want = kLocalHeaderSize + kHeaderSlack + entry.packed;
    if (buffers.raw.size() < want)
        buffers.raw.resize(static_cast<size_t>(want));
    const qint64 got = readAt(entry.headerOffset, buffers.raw.data(), static_cast<qint64>(want));
    if (got < 0)
        return QStringLiteral("cannot read it: ") + errnoText(errno);
    if (got < kLocalHeaderSize || get32(buffers.raw.data()) != kLocalHeader)
        return QStringLiteral("its local header is missing or damaged");
    const quint64 dataStart =
        kLocalHeaderSize + get16(buffers.raw.data() + 26) + get16(buffers.raw.data() + 28);
    const char* data = buffers.raw.data() + dataStart;
    if (dataStart + entry.packed > static_cast<quint64>(got)) {
        if (static_cast<quint64>(got) < want)
            return QStringLiteral("its data runs past the end of the archive");
        // A name and extra field longer than guessed: the data on its own.
        if (readAt(entry.headerOffset + dataStart, buffers.raw.data(), static_cast<qint64>(entry.packed)) !=
            static_cast<qint64>(entry.packed))
            return QStringLiteral("its data runs past the end of the archive");
        data = buffers.raw.data();
    }
    if (dataEnd)
        *dataEnd = entry.headerOffset + dataStart + entry.packed;
    size_t size = entry.packed;
    if (entry.method == 8) {
        if (buffers.bytes.size() < entry.size + 1)
            buffers.bytes.resize(static_cast<size_t>(entry.size + 1));
        switch (libdeflate_deflate_decompress(buffers.decompressor.get(), data, entry.packed,
                                              buffers.bytes.data(), entry.size, &size)) {
        case LIBDEFLATE_SUCCESS:
            break;
        case LIBDEFLATE_INSUFFICIENT_SPACE:
            return moreThanSaid(entry.size);
        default:
            return QStringLiteral("its compressed data is damaged");
        }
        data = buffers.bytes.data();
    }
    if (size != entry.size)
        return size > entry.size ? moreThanSaid(entry.size) : sizeMismatch(size, entry.size);
    if (const auto crc = static_cast<quint32>(libdeflate_crc32(0, data, size)); crc != entry.crc)
        return crcMismatch(crc, entry.crc);
    if (size > 0)
        sink(data, size);
    return {};
}

std::optional<QByteArray> ZipReader::readAll(const ZipEntry& entry, quint64 cap, QString* error) const
{
    if (entry.size > cap) {
        *error = QStringLiteral("it holds %1, more than the %2 read here")
                     .arg(sizeText(entry.size), sizeText(cap));
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(entry.size));
    *error = read(entry, [&](const char* data, size_t size) {
        bytes.append(data, static_cast<qsizetype>(size));
        return true;
    });
    if (!error->isEmpty())
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
    m_ended = false;
    m_error.clear();
    if (!m_entry.refused.isEmpty()) {
        fail(m_entry.refused);
        return;
    }
    if (!m_zip->locateData(m_entry)) {
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
    if (Interruption::requested() != 0)
        return fail(QStringLiteral("interrupted by signal %1").arg(Interruption::requested()));
    const qint64 n = m_entry.method == 8 ? readDeflated(into, max) : readStored(into, max);
    if (n > 0) {
        m_crc = static_cast<quint32>(
            crc32_z(m_crc, reinterpret_cast<const Bytef*>(into), static_cast<size_t>(n)));
        m_position += static_cast<quint64>(n);
        if (m_position > m_entry.size)
            return fail(
                QStringLiteral("it holds more bytes than its headers say (%1)").arg(sizeText(m_entry.size)));
    }
    if (m_ended && m_error.isEmpty())
        finishEntry();
    return m_error.isEmpty() ? n : -1;
}

qint64 EntryStream::readStored(char* into, qint64 max)
{
    const qint64 want =
        static_cast<qint64>(std::min<quint64>(static_cast<quint64>(max), m_entry.packed - m_inputTaken));
    const qint64 n = m_zip->readAt(m_entry.dataOffset + m_inputTaken, into, want);
    if (n < 0)
        return fail(QStringLiteral("cannot read it: ") + errnoText(errno));
    if (n < want)
        return fail(QStringLiteral("its data runs past the end of the archive"));
    m_inputTaken += static_cast<quint64>(n);
    m_ended = m_inputTaken == m_entry.packed;
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
            const qint64 n = m_zip->readAt(m_entry.dataOffset + m_inputTaken, m_input.data(),
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
    if (m_position != m_entry.size)
        fail(sizeMismatch(m_position, m_entry.size));
    else if (m_crc != m_entry.crc)
        fail(crcMismatch(m_crc, m_entry.crc));
}
