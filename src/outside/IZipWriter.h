#pragma once

#include "outside/Component.h"

// Writes the package archive. Add takes a file, or a folder followed by "\" and a wildcard pattern.
class IZipWriter : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.ZipWriter";

    virtual bool Add(const QString& source, bool includeSubfolders, bool keepFolderPath,
                     const QString& unused) = 0;
    virtual bool Finish() = 0;
    virtual bool SetArchivePath(const QString& path) = 0;
};

#include <QtGlobal>

#include <functional>
#include <utility>

// A writer that may wait for work done elsewhere, or list a large folder, calls this hook now and
// then meanwhile, so the windows stay painted. A stop signal's run-time error raised by the hook
// (Interruption::Check) ends the writer's operation: it drops its package and lets the error through.
class IBusyHook
{
public:
    virtual ~IBusyHook() = default;
    virtual void SetBusyHook(std::function<void()> hook) = 0;
    // How far the archive is: the bytes of file data written into it so far, and the bytes of
    // the files the adds have found so far.
    virtual std::pair<qint64, qint64> BytesDone() const { return {0, 0}; }
};
