#include "platform/HostPath.h"

#include "platform/HostName.h"
#include <QRegularExpression>

#include "platform/DirectoryCache.h"

#include <QDir>

#include <algorithm>
#include <climits>
#include <unistd.h>

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

// Characters that Windows never allows in a name; a path holding one names nothing.
bool isForbidden(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || u == u'<' || u == u'>' || u == u':' || u == u'"' || u == u'|' || u == u'?' ||
           u == u'*';
}

// A component as Windows looks it up: without its trailing blanks and dots.
QString lookupName(const QString& part)
{
    qsizetype end = part.size();
    while (end > 0 && (part.at(end - 1) == QLatin1Char(' ') || part.at(end - 1) == QLatin1Char('.')))
        --end;
    return part.left(end);
}

// Adds the components of rest, resolving "." and ".." by text and never above the root. False
// when a name holds a character Windows never allows.
bool appendComponents(QStringList& components, QStringView rest)
{
    QString part;
    const auto flush = [&] {
        if (part == QLatin1String("..")) {
            if (!components.isEmpty())
                components.removeLast();
        } else if (const QString name = lookupName(part); !name.isEmpty()) {
            components.append(name);
        }
        part.clear();
    };
    for (const QChar c : rest) {
        if (isSeparator(c))
            flush();
        else if (isForbidden(c))
            return false;
        else
            part.append(c);
    }
    flush();
    return true;
}

qsizetype nextSeparator(const QString& path, qsizetype from)
{
    for (qsizetype i = from; i < path.size(); ++i)
        if (isSeparator(path.at(i)))
            return i;
    return -1;
}

bool hasForbidden(QStringView name)
{
    return std::any_of(name.begin(), name.end(), isForbidden);
}

void report(HostPath::Miss* miss, HostPath::Miss why)
{
    if (miss)
        *miss = why;
}

// Whether a name or the whole host path is longer than the host's file systems take.
bool pastHostLimits(const HostLocation& location)
{
    for (const QString& c : location.components)
        if (HostName::encode(c).size() > NAME_MAX)
            return true;
    return HostName::encode(location.hostPath()).size() >= PATH_MAX;
}

std::optional<HostLocation> currentDirectory()
{
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer))
        return std::nullopt;
    const QString cwd = HostName::decode(buffer); // byte-exact, whatever the folder names
    const std::optional<DriveRoot> root = DriveMap::fromEnvironment().owner(cwd);
    if (!root)
        return std::nullopt;
    // Host names as they are: no Windows rules apply to the folders the program runs in.
    return HostLocation{*root, cwd.mid(root->hostFolder.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)};
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
        name += QLatin1Char('/') + HostName::entryComponent(c);
    return name;
}

namespace HostPath {

bool isWindowsStyle(const QString& path)
{
    return hasDriveLetter(path) || path.startsWith(QLatin1String("\\\\"));
}

QString missReason(Miss miss)
{
    switch (miss) {
    case Miss::None:
        return {};
    case Miss::NotFound:
        return QStringLiteral("No such file or directory");
    case Miss::BadName:
        return QStringLiteral("Invalid file name");
    case Miss::TooLong:
        return QStringLiteral("File name too long");
    }
    return {};
}

std::optional<HostLocation> parse(const QString& windowsPath, Miss* miss)
{
    report(miss, Miss::NotFound);
    const DriveMap map = DriveMap::fromEnvironment();
    std::optional<HostLocation> location;
    QStringView rest;
    if (windowsPath.size() >= 2 && isSeparator(windowsPath.at(0)) && isSeparator(windowsPath.at(1))) {
        // "\\server\share\...": exactly two separators, then a server and a share, neither empty.
        const qsizetype serverEnd = nextSeparator(windowsPath, 2);
        if (serverEnd <= 2)
            return std::nullopt;
        qsizetype shareEnd = nextSeparator(windowsPath, serverEnd + 1);
        if (shareEnd < 0)
            shareEnd = windowsPath.size();
        const QStringView server = QStringView(windowsPath).mid(2, serverEnd - 2);
        const QStringView share = QStringView(windowsPath).mid(serverEnd + 1, shareEnd - serverEnd - 1);
        if (share.isEmpty())
            return std::nullopt;
        if (hasForbidden(server) || hasForbidden(share)) {
            report(miss, Miss::BadName);
            return std::nullopt;
        }
        const std::optional<DriveRoot> root =
            map.find(QStringLiteral("\\\\") + server.toString() + QLatin1Char('\\') + share.toString());
        if (!root)
            return std::nullopt;
        location = HostLocation{*root, {}};
        rest = QStringView(windowsPath).mid(shareEnd);
    } else if (hasDriveLetter(windowsPath)) {
        const std::optional<DriveRoot> root = map.find(windowsPath.left(1));
        if (!root)
            return std::nullopt;
        location = HostLocation{*root, {}};
        rest = QStringView(windowsPath).mid(2);
    } else {
        location = currentDirectory();
        if (!location)
            return std::nullopt;
        if (!windowsPath.isEmpty() && isSeparator(windowsPath.at(0)))
            location->components.clear();
        rest = windowsPath;
    }
    if (!appendComponents(location->components, rest)) {
        report(miss, Miss::BadName);
        return std::nullopt;
    }
    report(miss, Miss::None);
    return location;
}

std::optional<HostLocation> resolve(const QString& windowsPath, Miss* miss)
{
    std::optional<HostLocation> location = parse(windowsPath, miss);
    if (!location)
        return std::nullopt;
    if (pastHostLimits(*location)) {
        report(miss, Miss::TooLong);
        return std::nullopt;
    }
    report(miss, Miss::NotFound);
    QString folder = location->root.hostFolder;
    if (!HostName::exists(folder))
        return std::nullopt;
    for (QString& component : location->components) {
        const std::optional<QString> found = DirectoryCache::lookup(folder, component);
        if (!found)
            return std::nullopt;
        component = *found;
        folder = joinHost(folder, component);
    }
    report(miss, Miss::None);
    return location;
}

std::optional<QString> forWriting(const QString& windowsPath, Miss* miss)
{
    std::optional<HostLocation> location = parse(windowsPath, miss);
    if (!location)
        return std::nullopt;
    if (location->components.isEmpty()) {
        report(miss, Miss::BadName);
        return std::nullopt;
    }
    if (pastHostLimits(*location)) {
        report(miss, Miss::TooLong);
        return std::nullopt;
    }
    const QString name = location->components.takeLast();
    QString folder = location->root.hostFolder;
    for (const QString& component : std::as_const(location->components)) {
        const std::optional<QString> found = DirectoryCache::lookup(folder, component);
        if (!found) {
            report(miss, Miss::NotFound);
            return std::nullopt;
        }
        folder = joinHost(folder, *found);
    }
    return joinHost(folder, name);
}

std::optional<QString> forReplacing(const QString& windowsPath, Miss* miss)
{
    if (const std::optional<HostLocation> existing = resolve(windowsPath);
        existing && !existing->components.isEmpty())
        return existing->hostPath();
    return forWriting(windowsPath, miss);
}

QString toWindows(const QString& hostPath)
{
    if (isWindowsStyle(hostPath) || !hostPath.startsWith(QLatin1Char('/')))
        return hostPath;
    const bool trailing = hostPath.size() > 1 && hostPath.endsWith(QLatin1Char('/'));
    const QString cleaned = QDir::cleanPath(hostPath);
    const DriveMap map = DriveMap::fromEnvironment();
    const std::optional<DriveRoot> root = map.owner(cleaned);
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

QString toHost(const QString& windowsPath)
{
    if (!isWindowsStyle(windowsPath))
        return windowsPath;
    if (const std::optional<HostLocation> found = resolve(windowsPath))
        return found->hostPath();
    if (const std::optional<HostLocation> placed = parse(windowsPath))
        return placed->hostPath();
    return windowsPath;
}

QString inText(const QString& text)
{
    static const QRegularExpression windowsPath(QStringLiteral("(?:[A-Za-z]:|\\\\\\\\)[\\\\/][^:\\r\\n]*"));
    QString out;
    qsizetype at = 0;
    for (auto it = windowsPath.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString path = match.captured().trimmed();
        out += text.mid(at, match.capturedStart() - at) + toHost(path);
        at = match.capturedStart() + path.size();
    }
    return out + text.mid(at);
}

} // namespace HostPath
