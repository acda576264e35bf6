#include "platform/CommandLine.h"

#include "outside/HostFunctions.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using Action = CommandLineOptions::Action;

// One option: its names (one letter for "-x", more for "--name"), the name of its value (empty
// when it takes none), its line in the help text, and what it sets. apply answers why the value
// cannot be taken, or the empty text.
struct OptionRow
{
    QStringList names;
    QString valueName;
    QString help;
    QString (*apply)(CommandLineOptions& options, const QString& value);
};

// The first of --help and --version wins; either wins over a start.
void ask(CommandLineOptions& options, Action action)
{
    if (options.action == Action::Run)
        options.action = action;
}

// --since: a day (2026-11-01), or Nd for the last N days, counted from the start of the day N days
// before today.
QString readSince(CommandLineOptions& options, const QString& value)
{
    static const QRegularExpression days(QStringLiteral("^(\\d{1,5})[dD]$"));
    static const QRegularExpression day(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (const QRegularExpressionMatch match = days.match(value); match.hasMatch())
        options.since = QDate::currentDate().addDays(-match.captured(1).toInt());
    else if (day.match(value).hasMatch() && QDate::fromString(value, Qt::ISODate).isValid())
        options.since = QDate::fromString(value, Qt::ISODate);
    else
        return QStringLiteral(
                   "--since: cannot read the date '%1': give YYYY-MM-DD, or Nd for the last N days.")
            .arg(value);
    return QString();
}

// --max-log-size: bytes (a bare number, or with B), or a number with K, M or G for thousands,
// millions or billions of bytes.
QString readSize(CommandLineOptions& options, const QString& value)
{
    static const QRegularExpression size(QStringLiteral("^(\\d{1,12}(?:\\.\\d{1,6})?)\\s*([kKmMgG]?)[bB]?$"));
    const QRegularExpressionMatch match = size.match(value);
    const QString unit = match.captured(2).toLower();
    const int power = unit.isEmpty() ? 0 : QStringLiteral("kmg").indexOf(unit) + 1;
    const double bytes = match.captured(1).toDouble() * std::pow(1000.0, power);
    if (!match.hasMatch() || bytes > 1e18)
        return QStringLiteral("--max-log-size: cannot read the size '%1': give bytes, or a number with K, M "
                              "or G (200M, 2G).")
            .arg(value);
    options.maxLogSize = qRound64(bytes);
    return QString();
}

QString set(bool& flag)
{
    flag = true;
    return QString();
}

const std::vector<OptionRow>& optionRows()
{
    static const std::vector<OptionRow> rows{
        {{QStringLiteral("h"), QStringLiteral("help")},
         {},
         QStringLiteral("print this text and end"),
         [](CommandLineOptions& options, const QString&) {
             ask(options, Action::Help);
             return QString();
         }},
        {{QStringLiteral("V"), QStringLiteral("version")},
         {},
         QStringLiteral("print the version and end"),
         [](CommandLineOptions& options, const QString&) {
             ask(options, Action::Version);
             return QString();
         }},
        {{QStringLiteral("redact")},
         {},
         QStringLiteral(
             "mask the secrets in every text file of the package: the values of passwords, secrets, "
             "tokens and API keys, bearer tokens and private keys become ********; REDACTED.TXT in the "
             "package says how many in each file"),
         [](CommandLineOptions& options, const QString&) { return set(options.redact); }},
        {{QStringLiteral("redact-names")},
         {},
         QStringLiteral(
             "as --redact, and the computer's name, the user's name, IP addresses and host names become "
             "placeholders (host-1, user-1, ip-1) in every text file and the manifest; the map of "
             "placeholders is written beside the package as PACKAGE.names (only you can read it) and "
             "never goes into the package"),
         [](CommandLineOptions& options, const QString&) {
             options.redact = true;
             return set(options.redactNames);
         }},
        {{QStringLiteral("since")},
         QStringLiteral("DATE"),
         QStringLiteral(
             "leave out the log files last changed before DATE (YYYY-MM-DD), or before the start of the "
             "day N days ago (Nd); the package's comment lists them"),
         readSince},
        {{QStringLiteral("max-log-size")},
         QStringLiteral("SIZE"),
         QStringLiteral(
             "pack the log files newest first, stopping before their total passes SIZE bytes; K, M "
             "and G are thousands, millions and billions (200M, 2G); the package's comment lists the "
             "files left out"),
         readSize},
        {{QStringLiteral("json")},
         {},
         QStringLiteral(
             "after the build, print one JSON object on standard output: the package, its size, "
             "SHA-256 and entry count, the files left out, the values masked, the seconds taken and the "
             "exit status"),
         [](CommandLineOptions& options, const QString&) { return set(options.json); }},
        {{QStringLiteral("checksum")},
         {},
         QStringLiteral(
             "write the checksum file PACKAGE.sha256 for sha256sum -c beside the package, once the "
             "package is complete"),
         [](CommandLineOptions& options, const QString&) { return set(options.checksum); }},
    };
    return rows;
}

QString spelled(const OptionRow& row)
{
    QStringList names;
    for (const QString& name : row.names)
        names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    QString text = names.join(QStringLiteral(", "));
    if (!row.valueName.isEmpty())
        text += QLatin1Char(' ') + row.valueName;
    return text;
}

// An option's lines in the help text: its names, then its help wrapped to lines of 100 at most.
QString helpLine(const QString& left, const QString& right)
{
    constexpr qsizetype kIndent = 25;
    constexpr qsizetype kWidth = 100;
    QString text = QStringLiteral("  ") + left.leftJustified(kIndent - 3) + QLatin1Char(' ');
    qsizetype column = text.size();
    for (const QString& word : right.split(QLatin1Char(' '))) {
        if (column > kIndent && column + 1 + word.size() > kWidth) {
            text += QLatin1Char('\n') + QString(kIndent, QLatin1Char(' '));
            column = kIndent;
        } else if (column > kIndent) {
            text += QLatin1Char(' ');
            ++column;
        }
        text += word;
        column += word.size();
    }
    return text + QLatin1Char('\n');
}

const char kUsage[] = "Usage: ts6satchel [OPTION]... [FOLDER | TEMPLATE [PACKAGE]]\n";
const char kVerbUsage[] = "       ts6satchel collect [OPTION]... HOST... -- FOLDER | TEMPLATE\n"
                          "       ts6satchel upload PACKAGE | CASEDIR --url URL [OPTION]...\n"
                          "       ts6satchel show | open PACKAGE | CASEDIR\n"
                          "       ts6satchel diff OLD NEW\n";

const char kAbout[] =
    "\n"
    "Packs the files of a Tessarine application folder, with a version manifest, the product's logs\n"
    "and its configuration files, into one zip package for support.\n"
    "\n"
    "  (no arguments)         open the main window on the last folder\n"
    "  FOLDER                 build a package of every template in the folder\n"
    "  TEMPLATE               build a package of one template (a .TST6 or .TST file)\n"
    "  PACKAGE                write the package there, with no dialog and no message; without it\n"
    "                         the save dialog asks where\n"
    "  collect HOST... -- FOLDER\n"
    "                         build a package on each host over ssh and gather them into one case\n"
    "                         folder ('ts6satchel collect --help' says more; a folder named collect\n"
    "                         is ./collect)\n"
    "  upload PACKAGE --url URL\n"
    "                         send a package or a case folder to support's upload server; a cut\n"
    "                         transfer resumes when run again ('ts6satchel upload --help')\n"
    "  show PACKAGE           what a package or case folder holds, and whether it is intact\n"
    "  open PACKAGE           the same in the viewer window (File > Open Package...)\n"
    "  diff OLD NEW           what changed between two packages ('ts6satchel diff --help')\n"
    "\n"
    "Paths are host paths, absolute (/srv/tess/c/Apps/Orders) or relative to the working folder\n"
    "(Apps/Orders), or Windows-style (C:\\Apps\\Orders\\) through the drive map TS6_DRIVES.\n"
    "\n"
    "Options:\n";

const char kEpilogue[] =
    "\n"
    "Exit status:\n"
    "  0   the package was written (or the main window was closed)\n"
    "  1   no package was written; the reason is on standard error and in the trace\n"
    "  2   a person was needed (the main window, the save dialog or a message) but no display\n"
    "      can be reached\n"
    "  64  the command line cannot be read (an unknown option, an option's value, too many paths)\n"
    "\n"
    "Environment:\n"
    "  TS6_DRIVES             the drive map: LETTER=HOSTFOLDER pairs separated by \";\", and\n"
    "                         \\\\server\\share=HOSTFOLDER; Z is / unless the map says otherwise\n"
    "  TS6_PROGRAMDATA        the common application-data folder (default /var/lib)\n"
    "  TS6_INSTALL_PATH, TS6_DATA_PATH, TS6_SHARED_PATH\n"
    "                         the product's folders (default: product.ini in\n"
    "                         $XDG_CONFIG_HOME/Norvale/TS6/ or /etc/xdg/Norvale/TS6/)\n"
    "  TS6_LOG_DIR            the folder of the trace TS6Satchel.log (default: the product's log\n"
    "                         folder, else $XDG_STATE_HOME/Norvale/TS6/logs)\n"
    "  TMPDIR                 where the version manifest is written; when it is unset or shared\n"
    "                         like /tmp, a private folder ts6satchel-<uid> inside it (or /tmp)\n"
    "  COMPUTERNAME, USERNAME the computer and user names the manifest records\n"
    "  XDG_CONFIG_HOME        where the settings are kept (Norvale/TS6/ts6satchel.ini)\n"
    "  DISPLAY, WAYLAND_DISPLAY\n"
    "                         the display; when none can be reached, a start with a package path\n"
    "                         runs without windows and one that needs a person ends with status 2\n"
    "  QT_QPA_PLATFORM        the Qt platform to try first (without a display, none is needed)\n"
    "  TS6_REPORT_RESOURCES   when set, the open descriptors at exit go to standard error\n"
    "  TS6_UPLOAD_TOKEN       the bearer token of upload and of File > Upload Package... when no\n"
    "                         token file is named\n";

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

CommandLineOptions parseArguments(const QStringList& arguments)
{
    CommandLineOptions options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    std::vector<QCommandLineOption> qtOptions;
    for (const OptionRow& row : optionRows()) {
        qtOptions.emplace_back(row.names, row.help, row.valueName);
        parser.addOption(qtOptions.back());
    }
    const bool parsed = parser.parse(QStringList{QStringLiteral("ts6satchel")} + arguments);
    options.json = parser.isSet(QStringLiteral("json")); // a usage error is answered in JSON too
    if (!parsed) {
        options.action = Action::UsageError;
        options.error = parser.errorText();
        return options;
    }
    for (std::size_t i = 0; i < qtOptions.size(); ++i) {
        if (!parser.isSet(qtOptions[i]))
            continue;
        const QString refused = optionRows()[i].apply(options, parser.value(qtOptions[i]));
        if (!refused.isEmpty()) {
            options.action = Action::UsageError;
            options.error = refused;
            return options;
        }
    }
    options.paths = parser.positionalArguments();
    if (options.action == Action::Run && options.paths.size() > 2) {
        options.action = Action::UsageError;
        options.error =
            QStringLiteral("Too many paths: give one folder or template, and at most a package path.");
    }
    // Without its working folder a relative path would count from the root of the file system.
    if (options.action == Action::Run &&
        std::any_of(options.paths.cbegin(), options.paths.cend(), isRelative) &&
        QDir::currentPath().isEmpty()) {
        options.action = Action::UsageError;
        options.error = QStringLiteral("Cannot read the working folder (removed, or its path too long): give "
                                       "absolute paths.");
    }
    const bool batchOnly =
        options.redact || options.since || options.maxLogSize || options.json || options.checksum;
    if (options.action == Action::Run && options.paths.isEmpty() && batchOnly) {
        options.action = Action::UsageError;
        options.error = QStringLiteral(
            "--redact, --redact-names, --since, --max-log-size, --json and --checksum are for a batch "
            "start: give a folder or template (the main window keeps its own options "
            "under File > Options).");
    }
    return options;
}

QString helpText()
{
    QString text = QLatin1String(kUsage) + QLatin1String(kVerbUsage) + QLatin1String(kAbout);
    for (const OptionRow& row : optionRows())
        text += helpLine(spelled(row), row.help);
    text += helpLine(QStringLiteral("--"),
                     QStringLiteral("end of the options: a path that follows may begin with \"-\""));
    return text + QLatin1String(kEpilogue);
}

QString usageHint()
{
    return QLatin1String(kUsage) + QStringLiteral("Try 'ts6satchel --help' for more information.\n");
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
