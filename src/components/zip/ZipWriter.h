#pragma once

#include "outside/IZipWriter.h"
#include "platform/WorkerPool.h"

#include <chrono>
#include <functional>
#include <memory>

// The package writer: deflate entries, zip64 where needed, UTF-8 names, each entry with its file's
// mode and modification time, and a comment listing every file left out with the reason.
//
// It is three parts, each in its own file:
//  - the source collector (SourceCollector) turns an add into the files it packs: listing,
//    patterns, only regular files, never the package itself, the reasons for what is left out;
//  - the entry pipeline (EntryPipeline) reads and encodes those files on a pool of workers and
//    hands the results back in add order, through a bounded queue of futures;
//  - the archive file (ArchiveFile) writes headers, data, central directory and comment to an
//    unnamed temporary file and gives it the package's name only when it is complete.
// On request (IAddRules) an add's files are chosen newest first within an age and a size budget
// (FileChoice) between the first two, as the sink of the collector, and every text file is masked
// (TextMasker: SecretMask and, on request, NameMask, in the file's own encoding) where the pipeline
// reads it; REDACTED.TXT then tells what was masked and what could not be read as text.
//
// Threads. The thread that calls setArchivePath, add and finish (the adding thread) owns
// everything here: the collector, the queue, the archive file, the central directory, the names
// and the comment lines; it also reads the files an add names. A worker owns only the job it runs:
// the job's pieces, the descriptor it reads through (shared read-only with the other chunks of the
// same file) and its result, until the adding thread takes that from the job's future. Nothing
// else crosses between threads, so the writer needs no lock of its own.
//
// Stopping. While it waits the adding thread calls the busy hook and notes the stop signals
// (Interruption): a signal ends the add at once with "Interrupted by signal N", however large the
// file in hand. A failed or dropped writer leaves no file: the package is complete or not there.
class ZipWriter final : public IZipWriter,
                        public IBusyHook,
                        public IAddRules,
                        public IPackageOutputs,
                        public IPackageReport
{
public:
    explicit ZipWriter(int workers = WorkerPool::defaultSize());
    ~ZipWriter() override;

    bool setArchivePath(const QString& path) override;
    bool add(const QString& source, bool includeSubfolders, bool keepFolderPath,
             const QString& unused) override;
    bool finish() override;
    QString lastError() const override { return m_lastError; }
    void setBusyHook(std::function<void()> hook) override { m_busyHook = std::move(hook); }
    std::pair<qint64, qint64> bytesDone() const override;
    void setAddRules(const AddRules& rules) override { m_rules = rules; }
    void setOutputs(const PackageOutputs& outputs) override { m_outputs = outputs; }
    bool discoverNames(const QString& source) override;
    PackageReport report() const override { return m_report; }

    // The text of REDACTED.TXT: how many text files were checked, how many values (and names) were
    // masked in which, and the files that could not be read as text.
    static QByteArray redactedText(int checked, const std::vector<PackageReport::Masked>& masked,
                                   const QStringList& notChecked, bool names);
    // Writes the map of names (mode 0600) at a host path, as a new file renamed into place; returns
    // its path's bytes. Raises a run-time error when it cannot be written.
    static QByteArray writeNamesFile(const QString& hostPath, const QByteArray& map);

private:
    struct Package;
    template <typename Work> bool asStatus(Work&& work);
    void tick();

    int m_workers;
    std::function<void()> m_busyHook;
    std::chrono::steady_clock::time_point m_lastHook;
    QString m_lastError;
    std::unique_ptr<Package> m_package;
    std::pair<qint64, qint64> m_bytesDone; // of the last package, once it is complete
    AddRules m_rules;
    PackageOutputs m_outputs;
    PackageReport m_report; // of the last package, once it is complete
};
