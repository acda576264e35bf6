#include "catalogue/PathHelpers.h"

#include "base/Int16.h"
#include "diag/ErrorTrap.h"
#include "outside/HostFunctions.h"
#include "outside/IPathUtility.h"
#include "outside/ITemplateReader.h"
#include "outside/Require.h"

namespace {

const QChar kBackslash = QLatin1Char('\\');

} // namespace

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

bool FolderExists(const QString& folderPath)
{
    return answerOrFalse([&] {
        if (Host::findNames(folderPath, Host::ListFilter::FoldersAndFiles).isEmpty())
            return false;
        const std::optional<Host::Attributes> attributes = Host::getAttributes(folderPath);
        return attributes && attributes->directory;
    });
}

bool FileExists(const QString& path)
{
    return answerOrFalse([&] { return IsRootedPath(path) && Host::pathExists(path); });
}

bool IsRootedPath(const QString& path)
{
    if (path.size() >= 3) {
        const QChar letter = path.at(0).toUpper();
        if (letter >= QLatin1Char('A') && letter <= QLatin1Char('Z') && path.at(1) == QLatin1Char(':') &&
            path.at(2) == kBackslash)
            return true;
    }
    return path.startsWith(QLatin1String("\\\\")) && path.indexOf(kBackslash, 2) >= 2;
}

QString GetPath(const Maker<IPathUtility>& pathUtility, const QString& path)
{
    const std::unique_ptr<IPathUtility> utility = make(pathUtility);
    QString folder;
    require(utility->folderPart(path, folder), *utility, "folderPart");
    return folder;
}

QString GetFileName(const Maker<IPathUtility>& pathUtility, const QString& path)
{
    const std::unique_ptr<IPathUtility> utility = make(pathUtility);
    QString name;
    require(utility->fileNamePart(path, name), *utility, "fileNamePart");
    return name;
}

QString JoinPath(const QString& separator, std::initializer_list<QString> parts)
{
    QString result;
    for (const QString& part : parts) {
        result += part;
        if (!part.endsWith(separator))
            result += separator;
    }
    if (!separator.isEmpty() && result.endsWith(separator))
        result.chop(separator.size());
    return result;
}

QString MakeRelativePath(const QString& path, const QString& currentFolder)
{
    if (!currentFolder.isEmpty() && path.startsWith(currentFolder, Qt::CaseInsensitive))
        return path.mid(currentFolder.size());
    return path;
}

QString RemoveExtension(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return trimBlanks(dot >= 0 ? fileName.left(dot) : fileName);
}

QString GetExtension(const QString& path)
{
    const Int16 length = Int16::fromWide(path.size()); // positions are 16-bit counters
    for (int position = length; position > 0; --position) {
        const QChar c = path.at(position - 1);
        if (c == QLatin1Char('.'))
            return path.mid(position - 1);
        if (c == kBackslash || c == QLatin1Char(':'))
            return {};
    }
    return {};
}

void SplitCommandLine(const QString& commandLine, QString& first, QString& rest)
{
    rest.clear();
    const QChar quote = QLatin1Char('"');
    if (!commandLine.startsWith(quote)) {
        first = commandLine;
        return;
    }
    const qsizetype closing = commandLine.indexOf(quote, 1);
    if (closing < 0)
        raiseError(ErrorNumber::InvalidArgument, QStringLiteral("Invalid procedure call or argument"),
                   QStringLiteral("SplitCommandLine"));
    if (closing == commandLine.size() - 1) {
        first = commandLine.mid(1, closing - 1);
        return;
    }
    first = commandLine.mid(1, closing - 1);
    rest = trimBlanks(commandLine.mid(closing + 1));
    if (rest.startsWith(quote) && rest.endsWith(quote)) {
        if (rest.size() < 2)
            raiseError(ErrorNumber::InvalidArgument, QStringLiteral("Invalid procedure call or argument"),
                       QStringLiteral("SplitCommandLine"));
        rest = rest.mid(1, rest.size() - 2);
    }
}

bool StringExistsInArray(const QString& text, const QStringList& list)
{
    return answerOrFalse([&] { return list.contains(text, Qt::CaseSensitive); });
}

bool TryOpenTemplate(ITemplateReader& reader, const QString& path)
{
    return answerOrFalse([&] {
        reader.Open(QVariant(path));
        return true;
    });
}

QString GetProgramDataPath()
{
    return Host::commonAppDataFolder();
}

QString ReadFileVersion(const QString& path)
{
    const std::optional<Host::Attributes> attributes = Host::getAttributes(path);
    if (!attributes || attributes->directory)
        return {};
    return Host::fileVersion(path);
}

QStringList FindFiles(const QString& folder, const QString& pattern)
{
    QStringList found{QString()};
    const QString prefix = AddBackslash(folder);
    const QStringList names = Host::findNames(prefix + pattern, Host::ListFilter::Everything);
    for (const QString& name : names)
        found.append(prefix + TrimAtNull(name));
    return found;
}

QString TrimAtNull(const QString& text)
{
    const qsizetype at = text.indexOf(QChar(u'\0'));
    return at >= 0 ? text.left(at) : text;
}

QString AddBackslash(const QString& text)
{
    return text.endsWith(kBackslash) ? text : text + kBackslash;
}
