#pragma once

#include "components/zip/WorkerPool.h"
#include "components/zip/ZipOutput.h"
#include "outside/IZipWriter.h"

#include <QSet>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// The package archive: deflate entries written through minizip's raw mode, zip64 where needed,
// UTF-8 names, each entry with its file's modification time. Files are compressed on a pool of
// workers (one per core) while the entries are written in the order of the add calls. A file
// named by an add is read before the add returns (so a file rewritten right after, such as the
// manifest of the next build, cannot reach this archive); files found by a pattern are read by the
// workers too. The bytes
// of the archive do not depend on the number of workers. Memory is bounded: large files go in
// chunks, and the data in flight is capped. The archive is written to a temporary file beside its
// path and renamed over it at Finish; a writer dropped before a successful Finish removes its
// temporary file, so a package is complete or not there at all.
class MinizipWriter final : public IZipWriter, public IBusyHook
{
public:
    explicit MinizipWriter(int workers = WorkerPool::DefaultSize(), ZipOutputFactory output = nullptr);
    ~MinizipWriter() override;

    bool Add(const QString& source, bool includeSubfolders, bool keepFolderPath,
             const QString& unused) override;
    bool Finish() override;
    bool SetArchivePath(const QString& path) override;
    QString LastError() const override { return m_lastError; }
    void SetBusyHook(std::function<void()> hook) override { m_busyHook = std::move(hook); }
    std::pair<qint64, qint64> BytesDone() const override { return {m_bytesWritten, m_bytesFound}; }

    // The files skipped so far, "path: reason", as the archive's comment lists them.
    const QStringList& Skipped() const { return m_skipped; }

    // Files up to this size are compressed whole; larger ones in chunks of kChunk.
    static constexpr qint64 kWholeFileLimit = 32 * 1024 * 1024;
    static constexpr size_t kChunk = 4 * 1024 * 1024;
    // The most file data read but not yet written to the archive.
    static constexpr qint64 kBytesInFlight = 48 * 1024 * 1024;

    // The work on one entry, shared between the adding thread and the workers.
    struct Entry;
    struct Chunk;

private:
    struct Archive;
    struct Candidate
    {
        QString hostPath;
        QString entryName;
        QString handedPath; // the path as the build handed it, for the comment
        bool named = false; // named by the add itself, not found by a pattern
    };

    bool fail(const QString& why);
    void collect(const QString& source, bool includeSubfolders, bool keepFolderPath,
                 std::vector<Candidate>& out);
    void collectFolder(const QString& hostFolder, const QString& handedFolder, const QString& pattern,
                       bool includeSubfolders, bool keepFolderPath, const QString& entryFolder,
                       std::vector<Candidate>& out, int depth);
    bool queue(const Candidate& candidate);
    bool queueChunked(const std::shared_ptr<Entry>& entry, int fd);
    static void readWholeFile(Entry& entry);
    static void compressWholeFile(Entry& entry);
    bool waitForRoom(qint64 bytes);
    bool drain(bool waitForFront);
    bool writeEntry(Entry& entry, bool& finished, bool wait);
    bool openEntry(Entry& entry);
    bool writeBytes(const unsigned char* data, size_t size);
    void discard();

    QString writeFailure() const;
    bool addZip64Directory();

    std::unique_ptr<WorkerPool> m_pool;
    ZipOutputFactory m_makeOutput;
    std::unique_ptr<ZipOutput> m_output;
    std::unique_ptr<Archive> m_archive;
    QString m_archivePath;
    QString m_tempPath;
    QSet<QString> m_names;
    QStringList m_skipped;
    QString m_lastError;
    std::function<void()> m_busyHook;

    std::mutex m_mutex; // guards what workers fill in: the done flags of entries and chunks
    std::condition_variable m_progress;
    std::deque<std::shared_ptr<Entry>> m_pending; // queued, not yet written, in add order
    qint64 m_inFlight = 0;
    qint64 m_bytesWritten = 0; // file data in the archive so far
    qint64 m_bytesFound = 0;   // file data the adds have found so far
    quint64 m_entries = 0;
};
