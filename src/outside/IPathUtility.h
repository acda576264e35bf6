#pragma once

#include "outside/Component.h"

// Answers path questions on Windows-style path texts.
class IPathUtility : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.PathUtility";

    virtual bool FileExists(const QString& path, bool& exists) = 0;
    virtual bool tempFolder(QString& folder) = 0;
    virtual bool folderPart(const QString& path, QString& folder) = 0;
    virtual bool fileNamePart(const QString& path, QString& name) = 0;
    virtual bool ChangeExtension(const QString& path, const QString& extension, QString& result) = 0;
};
