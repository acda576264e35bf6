#pragma once

#include "base/CHandle.h"
#include "platform/StopToken.h"
#include "viewer/ReadBudget.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <zlib.h>

// One entry of an archive as its headers describe it, its local header checked against its
// directory record.
struct ZipEntry
{
    QStringView name{};       // in the reader's store of names, valid while the reader is: UTF-8 when
                              // the entry says so (bit 11) or its bytes are, else read as code page 437
    quint64 size = 0;         // the bytes it holds, as its headers say
    quint64 packed = 0;       // the bytes its data takes in the archive
    quint64 headerOffset = 0; // where its local header starts
    QDateTime modified{};     // UTC: the exact time of the extra field, else the DOS time
    quint32 crc = 0;          // the CRC its headers give
    quint32 headerLength = 0; // its local header with its name and extra field; 0 until read
    quint32 mode = 0;         // type and permission bits of an entry made on Unix (or alike), else 0
    quint16 method = 0;       // 0 stored, 8 deflated
    quint16 flags = 0;        // the general-purpose bits
    QString unsafe{};         // why a reader extracting it could step out of its folder, else empty
    QString refused{};        // why its data is not read (its headers disagree, a limit against
                              // bombs, encryption...)

    bool isFolder() const { return name.endsWith(QLatin1Char('/')); }
    // Where its data starts, after its local header.
    quint64 dataOffset() const { return headerOffset + headerLength; }
};

// How much an archive may ask a reader to inflate: past these an entry is refused, never read. Small
// entries may compress as well as they like (a file of NULs deflates a thousandfold); a large one
// that claims more than maxRatio times its data is a bomb. The whole archive may inflate to
// maxTotalSize, and past ratioFloor only to maxRatio times its own size: a small file never makes a
// reader inflate gigabytes, however its entries share the work.
struct ZipLimits
{
    quint64 maxRatio = 200;                   // size / packed, for entries past ratioFloor
    quint64 ratioFloor = quint64(256) << 20;  // 256 MiB
    quint64 maxEntrySize = quint64(16) << 30; // 16 GiB
    quint64 maxTotalSize = quint64(64) << 30; // all entries together

    // What all the entries of an archive of that size may inflate to together.
    quint64 archiveBudget(quint64 fileSize) const;
};

// A zip archive opened read-only. The central directory (zip64 included) gives the entries; each
// one's local header is read and held to its directory record, and the bytes of the archive are
// accounted for entry by entry (header, data, data descriptor), so that nothing another reader
// could find (an entry left out of the directory, a local header that names another file) passes
// unnamed. An archive cut short before its directory is read from its local headers as far as they
// go. Nothing is ever extracted to disk: entries are streamed to whoever asks. Names with ".."
// components or absolute paths are kept as they are, with the reason in unsafe, for the reader to
// show. The names are kept once, in blocks the reader owns; the entries and the characters of the
// names count against a budget that the readers of one run share (ReadBudget), and past it the
// rest of the directory is not read, with the damage named.
class ZipReader
{
public:
    // The archive at the host path; none, with the reason, when it cannot be opened at all (no such
    // file, not a plain file, not readable). A file that is no zip archive opens with that damage.
    // Without a budget, the reader has one of its own; without a stop token, one that only a
    // signal sets.
    static std::shared_ptr<const ZipReader> open(const QString& path, const ZipLimits& limits,
                                                 std::shared_ptr<ReadBudget> budget, QString* why,
                                                 std::shared_ptr<const StopToken> stop = {});
    // The same under the program's own limits and a budget of its own.
    static std::shared_ptr<const ZipReader> open(const QString& path, QString* why);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    const QString& path() const { return m_path; }
    quint64 fileSize() const { return m_fileSize; }
    const std::vector<ZipEntry>& entries() const { return m_entries; }
    const QByteArray& comment() const { return m_comment; }
    // What is wrong with the archive as a whole: cut short, no zip, a directory that does not add
    // up, bytes that belong to no entry.
    const QStringList& damage() const { return m_damage; }
    // The entries came from the local headers: the central directory is missing or unreadable.
    bool fromLocalHeaders() const { return m_fromLocalHeaders; }
    // Where the central directory starts (the end of the entries' data); 0 when it was not read.
    quint64 directoryOffset() const { return m_directoryOffset; }
    // The index of the entry of that name, or none.
    std::optional<qsizetype> find(QStringView name) const;

    // Streams an entry's bytes to sink in pieces, checking its size and CRC, and that its
    // compressed data ends where its headers say: true when it is intact, else false with what is
    // wrong ("CRC mismatch"...). A sink that returns false stops the read, and nothing is said
    // about the rest (true). A refused entry is not read.
    bool read(const ZipEntry& entry, const std::function<bool(const char*, size_t)>& sink,
              QString* why) const;
    // The entry whole, when it holds at most cap bytes and is intact; else none, with the reason.
    std::optional<QByteArray> readAll(const ZipEntry& entry, quint64 cap, QString* why) const;

    // Reads bytes of the archive at an offset: the number read (fewer at the end of the file), -1 on
    // a read error.
    qint64 readAt(quint64 offset, char* into, qint64 count) const;

    // The run this reader belongs to was asked to stop (a signal, a window closed): its reads end
    // early with stop().reason() as what is wrong.
    const StopToken& stop() const { return *m_stop; }

private:
    friend class EntryStream; // reads a deflated entry through to find where it ends
    ZipReader() = default;
    void readDirectory(const ZipLimits& limits);
    bool readCentral(quint64 directoryOffset, quint64 directorySize, quint64 count);
    void checkLocalHeaders();
    void readLocalHeaders(const ZipLimits& limits);
    bool probeEntry(ZipEntry& entry, const ZipLimits& limits, quint64& inflateLeft);
    bool interrupted();
    void checkEntries(const ZipLimits& limits);
    void forgetEntries();
    std::optional<QStringView> keepName(const char* bytes, qsizetype length, quint16 flags);
    void refuse(ZipEntry& entry, const QString& why);
    void noteGap(quint64 first, quint64 last);
    bool readWhole(const ZipEntry& entry, const std::function<bool(const char*, size_t)>& sink,
                   QString* why) const;

    QString m_path;
    UniqueFd m_fd;
    quint64 m_fileSize = 0;
    std::vector<ZipEntry> m_entries;
    QByteArray m_comment;
    QStringList m_damage;
    bool m_fromLocalHeaders = false;
    bool m_partial = false; // the budget stopped the directory's reading
    quint64 m_directoryOffset = 0;
    quint64 m_gaps = 0;
    // The names, one after another in blocks that never move; what the budget lent.
    std::vector<std::unique_ptr<char16_t[]>> m_nameBlocks;
    qsizetype m_blockUsed = 0;
    std::shared_ptr<ReadBudget> m_budget;
    std::shared_ptr<const StopToken> m_stop;
    quint64 m_entriesTaken = 0;
    quint64 m_charactersTaken = 0;
};

// Follows the bytes of a stored entry whose sizes follow its data as a streaming reader does. Such a
// reader cannot know where the data ends: it takes the first data descriptor signature followed by
// the CRC of the bytes before it as the end, and reads what comes after as the next entry. A
// signature like that inside the data hides an entry from a listing by the directory and shows it
// to such a reader.
class StreamingEnd
{
public:
    void add(const char* data, size_t size);
    // Where a streaming reader ends the data, in the entry's bytes, when before their end.
    std::optional<quint64> end() const { return m_end; }

private:
    std::array<char, 7> m_carry{}; // the last bytes, which a signature in the next piece may start in
    size_t m_carried = 0;
    quint32 m_crc = 0;   // of the bytes before the carry
    quint64 m_taken = 0; // the bytes before the carry
    std::optional<quint64> m_end;
};

// An entry's bytes read in order, for a view that shows them a piece at a time: read gives the next
// piece; seek goes to an offset of the entry's bytes (backwards, from the start again).
class EntryStream
{
public:
    EntryStream(std::shared_ptr<const ZipReader> zip, const ZipEntry& entry);
    ~EntryStream();
    EntryStream(const EntryStream&) = delete;
    EntryStream& operator=(const EntryStream&) = delete;

    // Up to max bytes: the number given, 0 at the end, -1 when the entry is damaged (error()).
    qint64 read(char* into, qint64 max);
    bool seek(quint64 offset);
    quint64 position() const { return m_position; }
    bool atEnd() const { return m_ended; }
    const QString& error() const { return m_error; }
    const ZipEntry& entry() const { return m_entry; }

private:
    friend class ZipReader; // reads a deflated entry through to find where it ends
    void restart();
    qint64 fail(const QString& why);
    qint64 readStored(char* into, qint64 max);
    qint64 readDeflated(char* into, qint64 max);
    void finishEntry();

    std::shared_ptr<const ZipReader> m_zip;
    ZipEntry m_entry;
    z_stream m_inflater{};
    bool m_inflaterReady = false;
    std::vector<char> m_input;
    quint64 m_inputTaken = 0; // bytes of the entry's data read from the archive
    quint64 m_position = 0;   // bytes of the entry given out
    quint32 m_crc = 0;
    StreamingEnd m_streamingEnd; // of a stored entry whose sizes follow its data
    bool m_ended = false;
    QString m_error;
};
