#pragma once

#include "outside/IPathUtility.h"

// Path questions on Windows-style texts, answered by text rules and the host layer. A file
// exists for it when it is a regular file or a link to one.
class PathUtility final : public IPathUtility
{
public:
    bool FileExists(const QString& path, bool& exists) override;
    bool tempFolder(QString& folder) override;
    bool folderPart(const QString& path, QString& folder) override;
    bool fileNamePart(const QString& path, QString& name) override;
    bool ChangeExtension(const QString& path, const QString& extension, QString& result) override;
    QString lastError() const override { return m_lastError; }

private:
    QString m_lastError;
};
