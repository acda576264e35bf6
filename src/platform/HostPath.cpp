#include "platform/HostPath.h"
#include "platform/HostName.h"

#include "platform/DirectoryCache.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

bool hasDriveLetter(const QString& path)
{
    return path.size() >= 2 && path.at(1) == QLatin1Char(':') && path.at(0).unicode() < 128 &&
           path.at(0).isLetter();
}

void appendComponents(QStringList& components, const QString& rest)
{
    QString part;
    const auto flush = [&] {
        if (part == QLatin1String("..")) {
            if (!components.isEmpty())
                components.removeLast();
        } else if (!part.isEmpty() && part != QLatin1String(".")) {
            components.append(part);
        }
        part.clear();
    };
    for (const QChar c : rest) {
        if (isSeparator(c))
            flush();
        else
            part.append(c);
    }
    flush();
}

std::optional<HostLocation> currentDirectory()
{
    const DriveMap map = DriveMap::FromEnvironment();
    const QString cwd = QDir::currentPath();
    const std::optional<DriveRoot> root = map.Owner(cwd);
    if (!root)
        return std::nullopt;
    HostLocation location{*root, {}};
    appendComponents(location.components, cwd.mid(root->hostFolder.size()));
    return location;
}

QString joinHost(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

QString HostLocation::hostPath() const
{
    QString path = root.hostFolder;
    for (const QString& c : components)
        path = joinHost(path, c);
    return path;
}

QString HostLocation::entryName() const
{
    QString name;
    if (root.isShare()) {
        QStringList shareParts = root.name.mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
        name = QStringLiteral("UNC/") + shareParts.join(QLatin1Char('/'));
    } else {
        name = root.name.toUpper();
    }
    for (const QString& c : components)
        name += QLatin1Char('/') + c;
    return name;
}

namespace HostPath {

bool IsWindowsStyle(const QString& path)
{
    return hasDriveLetter(path) || path.startsWith(QLatin1String("\\\\"));
}

std::optional<HostLocation> Parse(const QString& windowsPath)
{
    const DriveMap map = DriveMap::FromEnvironment();
    if (windowsPath.size() >= 2 && isSeparator(windowsPath.at(0)) && isSeparator(windowsPath.at(1))) {
        QStringList parts;
        appendComponents(parts, windowsPath.mid(2));
        if (parts.size() < 2)
            return std::nullopt;
        const std::optional<DriveRoot> root =
            map.Find(QStringLiteral("\\\\") + parts.at(0) + QLatin1Char('\\') + parts.at(1));
        if (!root)
            return std::nullopt;
        HostLocation location{*root, {}};
        appendComponents(location.components,
                         windowsPath.mid(2).section(QRegularExpression(QStringLiteral("[\\\\/]")), 2));
        return location;
    }
    if (hasDriveLetter(windowsPath)) {
        const std::optional<DriveRoot> root = map.Find(windowsPath.left(1));
        if (!root)
            return std::nullopt;
        HostLocation location{*root, {}};
        appendComponents(location.components, windowsPath.mid(2));
        return location;
    }
    std::optional<HostLocation> location = currentDirectory();
    if (!location)
        return std::nullopt;
    if (!windowsPath.isEmpty() && isSeparator(windowsPath.at(0)))
        location->components.clear();
    appendComponents(location->components, windowsPath);
    return location;
}

std::optional<HostLocation> Resolve(const QString& windowsPath)
{
    std::optional<HostLocation> location = Parse(windowsPath);
    if (!location)
        return std::nullopt;
    QString folder = location->root.hostFolder;
    if (!HostName::Exists(folder))
        return std::nullopt;
    for (QString& component : location->components) {
        const std::optional<QString> found = DirectoryCache::Lookup(folder, component);
        if (!found)
            return std::nullopt;
        component = *found;
        folder = joinHost(folder, component);
    }
    return location;
}

std::optional<QString> ForWriting(const QString& windowsPath)
{
    std::optional<HostLocation> location = Parse(windowsPath);
    if (!location || location->components.isEmpty())
        return std::nullopt;
    const QString name = location->components.takeLast();
    QString folder = location->root.hostFolder;
    for (const QString& component : std::as_const(location->components)) {
        const std::optional<QString> found = DirectoryCache::Lookup(folder, component);
        if (!found)
            return std::nullopt;
        folder = joinHost(folder, *found);
    }
    return joinHost(folder, name);
}

QString ToWindows(const QString& hostPath)
{
    if (IsWindowsStyle(hostPath) || !hostPath.startsWith(QLatin1Char('/')))
        return hostPath;
    const bool trailing = hostPath.size() > 1 && hostPath.endsWith(QLatin1Char('/'));
    const QString cleaned = QDir::cleanPath(hostPath);
    const DriveMap map = DriveMap::FromEnvironment();
    const std::optional<DriveRoot> root = map.Owner(cleaned);
    if (!root)
        return hostPath;
    QString rest = cleaned.mid(root->hostFolder == QLatin1String("/") ? 0 : root->hostFolder.size());
    rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
    QString result = root->isShare() ? root->name : root->name + QLatin1Char(':');
    result += rest.isEmpty() ? QStringLiteral("\\") : rest;
    if (trailing && !result.endsWith(QLatin1Char('\\')))
        result += QLatin1Char('\\');
    return result;
}

QString ToHost(const QString& windowsPath)
{
    if (!IsWindowsStyle(windowsPath))
        return windowsPath;
    if (const std::optional<HostLocation> found = Resolve(windowsPath))
        return found->hostPath();
    if (const std::optional<HostLocation> placed = Parse(windowsPath))
        return placed->hostPath();
    return windowsPath;
}

} // namespace HostPath
