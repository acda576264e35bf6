#include "platform/CommandLine.h"

#include "outside/HostFunctions.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"

#include <QDir>

namespace {

// Folders and files looked up as the program will look them up: case-blind, through the drive map.
bool namesFolder(const QString& windowsOrHostPath)
{
    if (!HostPath::isWindowsStyle(windowsOrHostPath))
        return HostName::isDirectory(windowsOrHostPath);
    const std::optional<Host::Attributes> attributes = Host::getAttributes(windowsOrHostPath);
    return attributes && attributes->directory;
}

bool endsWithSeparator(const QString& path)
{
    return path.endsWith(QLatin1Char('\\')) || path.endsWith(QLatin1Char('/'));
}

// A path that counts from the working folder.
bool isRelative(const QString& path)
{
    return !path.trimmed().isEmpty() && !HostPath::isWindowsStyle(path) &&
           !path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1Char('\\'));
}

} // namespace

bool isRelativeArgument(const QString& path)
{
    return isRelative(path);
}

QString argumentAsMeant(const QString& argument)
{
    if (argument.trimmed().isEmpty())
        return argument; // an empty package path stays empty
    QString path = argument;
    if (isRelative(path)) {
        path = QDir::currentPath() + QLatin1Char('/') + path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    } else if (path.startsWith(QLatin1Char('\\')) && !path.startsWith(QLatin1String("\\\\"))) {
        // From the root of the working folder's drive.
        if (const std::optional<HostLocation> location = HostPath::parse(path))
            path = location->hostPath();
    }
    path = HostPath::toWindows(path);
    if (!endsWithSeparator(path) && namesFolder(path))
        path += HostPath::isWindowsStyle(path) ? QLatin1Char('\\') : QLatin1Char('/');
    return path;
}

QString buildCommandLine(const QStringList& paths)
{
    QStringList quoted;
    quoted.reserve(paths.size());
    for (const QString& path : paths)
        quoted.append(QLatin1Char('"') + argumentAsMeant(path) + QLatin1Char('"'));
    return quoted.join(QLatin1Char(' '));
}
