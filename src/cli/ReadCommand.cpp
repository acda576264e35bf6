#include "cli/ReadCommand.h"

namespace {

bool takePath(ReadOptions& o, const QString& path, bool, QString* why)
{
    if (path.isEmpty()) {
        *why = QStringLiteral("an empty path.");
        return false;
    }
    o.paths.append(path);
    return true;
}

// Whether as many paths were named as the verb reads.
std::function<bool(ReadOptions&, const QStringList&, QString*)> pathsNamed(qsizetype count)
{
    return [count](ReadOptions& o, const QStringList&, QString* why) {
        if (o.paths.size() == count)
            return true;
        *why = count == 1 ? QStringLiteral("name one package or case folder.")
                          : QStringLiteral("name the two packages to compare.");
        return false;
    };
}

OptionRow<ReadOptions> jsonOption(const QString& help)
{
    return {{{QStringLiteral("json")}, {}, help}, [](ReadOptions& o, const QString&, QString*) {
                o.json = true;
                return true;
            }};
}

const char kShowAbout[] =
    "Tells what a package holds and whether it is intact: every entry's CRC and size, the SHA-256 in\n"
    "PACKAGE.sha256 when there is one, the version manifest, the entries, the files left out and\n"
    "why, the masking report and each log's time span. For a case folder: each host's state, its\n"
    "package, and the product versions that differ between hosts. Nothing is written or extracted.\n";
const char kShowEpilogue[] =
    "Exit status: 0 everything read is intact; 1 something is damaged (named on standard output);\n"
    "2 the package or case folder cannot be read; 64 the command line cannot be read.\n";

const char kDiffAbout[] =
    "Compares two packages: their version manifests, the entries added, removed and changed (by\n"
    "CRC), and the changed lines of changed text entries (at most 200 lines an entry, 2000 in all);\n"
    "a line with a masked value (********) matches any value in its place. Logs are compared by size\n"
    "and time span. A run compares at most 64 MiB of text line by line; the changed texts past that\n"
    "are compared by CRC and size, and said so. Every entry's data is read: a damaged package, one\n"
    "cut short included, is never equal to another.\n";
const char kDiffEpilogue[] =
    "Exit status: 0 the packages are equal; 1 they differ, or one is damaged (named); 2 one cannot\n"
    "be read; 64 the command line cannot be read.\n";

const char kOpenAbout[] =
    "Opens a package, or a case folder, in the viewer window: the entries in a tree with a filter,\n"
    "the text of any entry, the version manifest, the files left out, the masking report and the\n"
    "logs' time spans; for a case folder, its hosts. The main window offers the same under\n"
    "File > Open Package...\n";
const char kOpenEpilogue[] =
    "Exit status: 0 the window was closed; 2 the target cannot be read, or there is no display;\n"
    "64 the command line cannot be read.\n";

} // namespace

const Grammar<ReadOptions>& showGrammar()
{
    static const Grammar<ReadOptions> grammar{
        {QStringLiteral("show"),
         {QStringLiteral("show PACKAGE|CASEDIR [--json]")},
         QLatin1String(kShowAbout),
         QLatin1String(kShowEpilogue)},
        {jsonOption(QStringLiteral("print the summary as JSON on standard output"))},
        takePath,
        pathsNamed(1),
    };
    return grammar;
}

const Grammar<ReadOptions>& diffGrammar()
{
    static const Grammar<ReadOptions> grammar{
        {QStringLiteral("diff"),
         {QStringLiteral("diff OLD NEW [--json] [--logs]")},
         QLatin1String(kDiffAbout),
         QLatin1String(kDiffEpilogue)},
        {{{{QStringLiteral("logs")}, {}, QStringLiteral("compare the lines of logs too")},
          [](ReadOptions& o, const QString&, QString*) {
              o.logs = true;
              return true;
          }},
         jsonOption(QStringLiteral("print the differences as JSON on standard output"))},
        takePath,
        pathsNamed(2),
    };
    return grammar;
}

const Grammar<ReadOptions>& openGrammar()
{
    static const Grammar<ReadOptions> grammar{
        {QStringLiteral("open"),
         {QStringLiteral("open PACKAGE|CASEDIR")},
         QLatin1String(kOpenAbout),
         QLatin1String(kOpenEpilogue)},
        {},
        takePath,
        pathsNamed(1),
    };
    return grammar;
}

ReadCommand parseShowArguments(const QStringList& arguments)
{
    return parseCommand(showGrammar(), arguments);
}

ReadCommand parseDiffArguments(const QStringList& arguments)
{
    return parseCommand(diffGrammar(), arguments);
}

ReadCommand parseOpenArguments(const QStringList& arguments)
{
    return parseCommand(openGrammar(), arguments);
}

int showVerb(const QStringList& arguments)
{
    return runVerb(showGrammar(), arguments, runShow);
}

int diffVerb(const QStringList& arguments)
{
    return runVerb(diffGrammar(), arguments, runDiff);
}
