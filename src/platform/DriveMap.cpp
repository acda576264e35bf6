#include "platform/DriveMap.h"

#include <QDir>
#include <QMutex>

namespace {

QString cleanHostFolder(const QString& folder)
{
    QString cleaned = QDir::cleanPath(folder);
    return cleaned.isEmpty() ? QStringLiteral("/") : cleaned;
}

bool isPrefixFolder(const QString& folder, const QString& path)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

DriveMap DriveMap::parse(const QString& text)
{
    DriveMap map;
    bool hasZ = false;
    const QStringList pairs = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& pair : pairs) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        QString name = pair.left(eq).trimmed();
        const QString folder = pair.mid(eq + 1).trimmed();
        if (folder.isEmpty() || !folder.startsWith(QLatin1Char('/')))
            continue;
        if (name.size() == 2 && name.at(1) == QLatin1Char(':'))
            name.chop(1);
        const bool isLetter = name.size() == 1 && name.at(0).isLetter() && name.at(0).unicode() < 128;
        const bool isShare = name.startsWith(QLatin1String("\\\\")) && name.indexOf(QLatin1Char('\\'), 2) > 2;
        if (!isLetter && !isShare)
            continue;
        if (isLetter)
            name = name.toUpper();
        while (isShare && name.endsWith(QLatin1Char('\\')))
            name.chop(1);
        std::erase_if(map.m_roots,
                      [&](const DriveRoot& r) { return r.name.compare(name, Qt::CaseInsensitive) == 0; });
        map.m_roots.push_back({name, cleanHostFolder(folder)});
        hasZ = hasZ || name == QLatin1String("Z");
    }
    if (!hasZ)
        map.m_roots.push_back({QStringLiteral("Z"), QStringLiteral("/")});
    return map;
}

DriveMap DriveMap::fromEnvironment()
{
    // Parsed once per distinct value of the variable: lookups are frequent, changes rare.
    static QMutex mutex;
    static QString lastText;
    static DriveMap lastMap = parse(QString());
    const QString text = qEnvironmentVariable("TS6_DRIVES");
    const QMutexLocker lock(&mutex);
    if (text != lastText) {
        lastMap = parse(text);
        lastText = text;
    }
    return lastMap;
}

std::optional<DriveRoot> DriveMap::find(const QString& name) const
{
    for (const DriveRoot& root : m_roots)
        if (root.name.compare(name, Qt::CaseInsensitive) == 0)
            return root;
    return std::nullopt;
}

std::optional<DriveRoot> DriveMap::owner(const QString& hostPath) const
{
    std::optional<DriveRoot> best;
    for (const DriveRoot& root : m_roots) {
        if (!isPrefixFolder(root.hostFolder, hostPath))
            continue;
        // Longest folder wins; on a tie a drive letter wins over a share, then the first letter.
        if (!best || root.hostFolder.size() > best->hostFolder.size() ||
            (root.hostFolder.size() == best->hostFolder.size() && best->isShare() && !root.isShare()))
            best = root;
    }
    return best;
}
