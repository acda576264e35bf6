#pragma once

#include "outside/Component.h"

// Writes the package archive. Add takes a file, or a folder followed by "\" and a wildcard pattern.
class IZipWriter : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.ZipWriter";

    virtual bool Add(const QString& source, bool includeSubfolders, bool keepFolderPath, const QString& unused) = 0;
    virtual bool Finish() = 0;
    virtual bool SetArchivePath(const QString& path) = 0;
};
