#include "components/PathUtility.h"

#include "outside/HostFunctions.h"

namespace {

// Position just after the last separator ("\", "/", or a drive's ":"), 0 when there is none.
qsizetype nameStart(const QString& path)
{
    for (qsizetype i = path.size(); i > 0; --i) {
        const QChar c = path.at(i - 1);
        if (c == QLatin1Char('\\') || c == QLatin1Char('/') || (c == QLatin1Char(':') && i == 2))
            return i;
    }
    return 0;
}

} // namespace

bool PathUtility::FileExists(const QString& path, bool& exists)
{
    // A file: a folder, a dangling link or a named pipe of that name is no companion file.
    const std::optional<Host::Attributes> attributes =
        path.isEmpty() ? std::nullopt : Host::getAttributes(path);
    exists = attributes && attributes->regularFile;
    return true;
}

bool PathUtility::tempFolder(QString& folder)
{
    folder = Host::tempFolder(&m_lastError);
    return !folder.isEmpty();
}

bool PathUtility::folderPart(const QString& path, QString& folder)
{
    folder = path.left(nameStart(path));
    return true;
}

bool PathUtility::fileNamePart(const QString& path, QString& name)
{
    name = path.mid(nameStart(path));
    return true;
}

bool PathUtility::ChangeExtension(const QString& path, const QString& extension, QString& result)
{
    if (path.isEmpty()) {
        result.clear();
        return true;
    }
    const qsizetype start = nameStart(path);
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    result = (dot >= start ? path.left(dot) : path) + extension;
    return true;
}
