#pragma once

#include "outside/IPathUtility.h"

// Path questions on Windows-style texts, answered by text rules and the host layer. A file
// exists for it when it is a regular file or a link to one.
class PathUtility final : public IPathUtility
{
public:
    bool FileExists(const QString& path, bool& exists) override;
    bool TempFolder(QString& folder) override;
    bool FolderPart(const QString& path, QString& folder) override;
    bool FileNamePart(const QString& path, QString& name) override;
    bool ChangeExtension(const QString& path, const QString& extension, QString& result) override;
    QString LastError() const override { return m_lastError; }

private:
    QString m_lastError;
};
