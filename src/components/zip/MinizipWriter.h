#pragma once

#include "outside/IZipWriter.h"

#include <QSet>
#include <QStringList>

#include <memory>

// The package archive: deflate entries written through minizip's raw mode (the deflate stream and
// its CRC are made here, a chunk at a time, so memory does not grow with file size), zip64 where
// needed, UTF-8 names, each entry with its file's modification time. The archive is written to a
// temporary file beside its path and renamed over it at Finish; a writer destroyed before a
// successful Finish removes its temporary file, so a package is complete or not there at all.
class MinizipWriter final : public IZipWriter
{
public:
    MinizipWriter();
    ~MinizipWriter() override;

    bool Add(const QString& source, bool includeSubfolders, bool keepFolderPath, const QString& unused) override;
    bool Finish() override;
    bool SetArchivePath(const QString& path) override;
    QString LastError() const override { return m_lastError; }

    // The files skipped so far, "path: reason", as the archive's comment lists them.
    const QStringList& Skipped() const { return m_skipped; }

private:
    struct Archive;
    struct Candidate
    {
        QString hostPath;
        QString entryName;
        QString handedPath; // the path as the build handed it, for the comment
    };

    bool fail(const QString& why);
    void collect(const QString& source, bool includeSubfolders, bool keepFolderPath, std::vector<Candidate>& out);
    void collectFolder(const QString& hostFolder, const QString& handedFolder, const QString& pattern,
                       bool includeSubfolders, bool keepFolderPath, const QString& entryFolder,
                       std::vector<Candidate>& out, int depth);
    bool addFile(const Candidate& candidate);
    void discard();

    std::unique_ptr<Archive> m_archive;
    QString m_archivePath;
    QString m_tempPath;
    QSet<QString> m_names;
    QStringList m_skipped;
    QString m_lastError;
};
