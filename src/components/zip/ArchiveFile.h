#pragma once

#include "base/CHandle.h"
#include "masking/Bytes.h"
#include "components/zip/OutputGuard.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

#include <sys/types.h>

// What an entry's headers say besides its data.
struct EntryHead
{
    QByteArray name{};   // the bytes of the entry's name
    bool utf8 = true;    // the name is UTF-8 (general-purpose bit 11); raw bytes otherwise
    quint32 mode = 0;    // the file's type and permission bits
    qint64 modified = 0; // seconds since 1970, UTC
    bool deflated = true;
    bool zip64 = false; // the sizes may pass 4 GiB: the local header carries zip64 sizes
};

// The package on disk while it is written, in the zip format: local headers and data in the
// order given, then the central directory (zip64 records where sizes, offsets or the count need
// them), the comment, fsync, and only then a name.
//
// Where the file system allows it the file has no name until it is complete (O_TMPFILE), so no
// end of the program, not even SIGKILL, leaves it behind; elsewhere it is a hidden file beside the
// package that the destructor removes, with a short name of its own (one built on the package's
// name could pass the host's limit on a name). complete links it in at the package path, replacing a file
// there only in one step. Entries say "made by Unix" with the file's mode, so readers on Linux
// take the names as UTF-8 and keep the permissions; a time outside the DOS range is clamped there
// and kept exact in an extra field. Failures raise a run-time error with the reason.
class ArchiveFile
{
public:
    explicit ArchiveFile(const QString& packageHostPath);
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    FileIdentity identity() const { return m_identity; }
    quint64 entries() const { return m_entries; }

    // A whole entry whose data, CRC and size are known.
    void addEntry(const EntryHead& head, const Bytes& data, quint32 crc, quint64 size);
    // An entry whose data comes in pieces; endEntry fills in its CRC and sizes.
    void beginEntry(const EntryHead& head);
    void append(const unsigned char* data, size_t size);
    void endEntry(quint32 crc, quint64 size);

    // Writes the central directory and the comment (one skipped file a line), makes the file
    // durable and gives it the package's name. With digest, the finished file is read back and
    // hashed before it takes its name; its SHA-256 in lower-case hex is returned (else nothing).
    // beforeName runs once the file is complete and durable, just before it takes its name; what
    // it raises ends the package.
    QByteArray complete(const QStringList& skipped, bool digest = false,
                        const std::function<void()>& beforeName = {});

    // The comment for these lines within the zip limit: past it, whole lines are left out and a
    // last line says how many.
    static QByteArray comment(const QStringList& lines);

private:
    void writeHeader(const EntryHead& head, quint32 crc, quint64 packed, quint64 size);
    void addCentral(const EntryHead& head, quint64 offset, quint32 crc, quint64 packed, quint64 size);
    void put(const char* data, size_t size);
    void patch(quint64 offset, const QByteArray& bytes);
    void flush();
    void writeAt(const char* data, size_t size, quint64 offset);
    QByteArray sha256() const;
    void linkIn();
    quint64 position() const { return m_written + m_buffer.size(); }

    QByteArray m_target;    // the package's host path
    QByteArray m_temporary; // the hidden file's path when the file system has no unnamed files
    UniqueFd m_fd;
    FileIdentity m_identity;
    Bytes m_buffer;
    quint64 m_written = 0; // bytes handed to the file so far
    quint64 m_synced = 0;  // bytes whose write-back has been started
    QByteArray m_central;
    quint64 m_entries = 0;
    struct OpenEntry // the entry being written in pieces
    {
        EntryHead head;
        quint64 offset = 0;
        quint64 dataStart = 0;
    } m_open;
};
