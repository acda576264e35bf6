#pragma once

#include "base/CHandle.h"
#include "components/zip/ArchiveFile.h"
#include "components/zip/OutputGuard.h"
#include "components/zip/SourceCollector.h"
#include "masking/TextMasker.h"
#include "outside/IZipWriter.h"
#include "platform/WorkerPool.h"

#include <QSet>
#include <QStringList>

#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <vector>

// The second part of the package writer: reads, checks and encodes the collected files on a
// pool of workers and hands the results to the archive file in add order.
//
// Work goes out in jobs of about kChunk bytes: a run of small files, or one chunk of a large file
// (its chunks encode on any core and are joined in order). Each job's result comes back through a
// future, so a failure in a worker (out of memory, say) reaches the adding thread as the exception
// it was. The futures wait in a bounded queue in add order, which bounds the memory in use
// whatever the size of the files. How files are cut into jobs depends only on their sizes, never
// on the number of workers, so neither do the archive's bytes.
//
// Workers open and read the files a pattern found, in parallel, each below the add's folder and
// never through a link; what is stored is what the descriptor read, whatever the listing said. A
// file that has grown past a whole piece since it was listed, and one a worker could not open for
// lack of descriptors, come back to the adding thread, which reads it itself in its turn. A file
// the add named is read on the adding thread, through the descriptor it was found with, in order,
// before the add returns, so a file rewritten right after (the manifest of the next build) cannot
// reach this package. Every file read is checked against the package's outputs (OutputGuard).
//
// Descriptors. A worker holds one while it reads a file; a large file holds one while its chunks
// are on their way, and only a few large files are on their way at once; the adding thread holds
// the add's folder and one more. workers() chooses how many workers the descriptors the process
// may still open allow.
//
// A file to be masked (Source::mask) that is text (no NUL in its first 8 KiB) goes in with its
// secrets masked (SecretMask): a whole file on the worker that encodes it; a large one on the
// adding thread, which reads it chunk by chunk and masks each in turn, while its chunks still
// encode on the workers. The CRC and sizes are those of the masked bytes.
class EntryPipeline
{
public:
    // Files up to this size are read and encoded whole; larger ones in chunks of this size. Chosen
    // by measurement (bench_zip): libdeflate packs log text 4% smaller in pieces of one deflate
    // block, as here, than in pieces of 1 MiB, at the same speed, and the memory in flight is small.
    static constexpr quint64 kChunk = 256 * 1024;

    // tick is called on the adding thread while it waits; it may throw to stop the work.
    EntryPipeline(ArchiveFile& archive, const OutputGuard& guard, int workers, std::function<void()> tick);
    ~EntryPipeline();
    EntryPipeline(const EntryPipeline&) = delete;
    EntryPipeline& operator=(const EntryPipeline&) = delete;

    // Queues files of an add; a name already in the package is passed over.
    void add(const std::vector<Source>& sources);
    // Ends an add: hands on what is queued and writes out what is ready.
    void endAdd();
    // Waits for everything queued and writes it out.
    void finish();
    // After finish: an entry of the given text, named at the root, unless the name is taken.
    void addText(const QString& name, const QByteArray& text);

    // Every file left out, and why, in add order; and as lines for the comment ("path: reason").
    const std::vector<PackageReport::LeftOut>& leftOut() const { return m_leftOut; }
    QStringList commentLines() const;
    // The files where values were masked, in add order, and how many text files were masked in all.
    const std::vector<PackageReport::Masked>& masked() const { return m_masked; }
    int checked() const { return m_checked; }
    // The entries of files to be masked that could not be read as text, packed as they are.
    const QStringList& notChecked() const { return m_notChecked; }
    // The bytes of file data written so far, and of the files queued so far.
    std::pair<qint64, qint64> bytesDone() const { return {m_bytesWritten, m_bytesFound}; }

    // How many of the wanted workers the descriptors left to the process allow (one at least).
    static int workers(int wanted);

    struct Piece;
    struct Encoded;

private:
    // Where a file came from: as the add handed or found it (Windows-style), its host path, and
    // whether it is left out on purpose (by age or size), not for a fault.
    struct Origin
    {
        QString handed{};
        QString host{};
        bool onPurpose = false;
    };
    struct Large;
    struct Slot;
    struct Batch;

    void addNamed(const Source& source, const QByteArray& name, bool utf8);
    void addFound(const Source& source, const QByteArray& name, bool utf8);
    void addChunks(const Origin& origin, EntryHead head, const std::shared_ptr<const UniqueFd>& file,
                   quint64 size, bool readHere, bool mask, const std::shared_ptr<NameMap>& names);
    void waitForLargeTurn();
    bool admitFound(const struct stat& st, const QByteArray& head, const Origin& origin) const;
    static Origin originOf(const Source& source);
    void addSkip(const Origin& origin, const QString& reason);
    void leaveOut(const Origin& origin, const QString& reason);
    void noteMasked(const Origin& origin, const QByteArray& name, const MaskOutcome& outcome);
    void submit();
    bool writeFront(bool wait);
    void writeSlot(const Slot& slot, Encoded& result);
    void writeChunk(const Slot& slot, Encoded& result);
    void readFoundHere(const Slot& slot);
    void streamHere(const Origin& origin, EntryHead head, const UniqueFd& file, quint64 size, bool mask,
                    const std::shared_ptr<NameMap>& names);

    // The descriptors the adding thread may hold besides the workers': the add's folder, a folder
    // being listed or a named file, and a file read here.
    static constexpr int kDescriptorsOfTheAddingThread = 3;

    ArchiveFile& m_archive;
    const OutputGuard& m_guard;
    std::function<void()> m_tick;
    const int m_largeAtOnce; // large files on their way at once, each holding a descriptor
    std::vector<std::weak_ptr<const UniqueFd>> m_largeFiles;
    std::deque<Batch> m_queue;     // submitted, in add order
    std::unique_ptr<Batch> m_open; // being filled
    QSet<QByteArray> m_names;
    std::vector<PackageReport::LeftOut> m_leftOut;
    std::vector<PackageReport::Masked> m_masked;
    int m_checked = 0;
    QStringList m_notChecked;
    qint64 m_bytesWritten = 0;
    qint64 m_bytesFound = 0;
    WorkerPool m_pool; // last: dropped first, before what its jobs were handed
};
