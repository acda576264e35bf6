#include "cli/BatchCommand.h"

#include "base/ByteSize.h"
#include "cli/Verbs.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace {

// --since: a day (2026-11-01), or Nd for the last N days, counted from the start of the day N days
// before today.
bool readSince(CommandLineOptions& options, const QString& value, QString* why)
{
    static const QRegularExpression days(QStringLiteral("^(\\d{1,5})[dD]\\z"));
    static const QRegularExpression day(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}\\z"));
    if (const QRegularExpressionMatch match = days.match(value); match.hasMatch())
        options.since = QDate::currentDate().addDays(-match.captured(1).toInt());
    else if (day.match(value).hasMatch() && QDate::fromString(value, Qt::ISODate).isValid())
        options.since = QDate::fromString(value, Qt::ISODate);
    else {
        *why =
            QStringLiteral("--since: cannot read the date '%1': give YYYY-MM-DD, or Nd for the last N days.")
                .arg(value);
        return false;
    }
    return true;
}

// --max-log-size: bytes (a bare number, or with B), or a number with K, M or G for thousands,
// millions or billions of bytes.
bool readSize(CommandLineOptions& options, const QString& value, QString* why)
{
    QString unread;
    const std::optional<qint64> bytes = parseByteSize(value, ByteUnits::Decimal, &unread);
    if (!bytes) {
        *why = QStringLiteral("--max-log-size: cannot read the size '%1': give bytes, or a number with K, M "
                              "or G (200M, 2G).")
                   .arg(value);
        return false;
    }
    options.maxLogSize = *bytes;
    return true;
}

bool set(bool& flag)
{
    flag = true;
    return true;
}

// Checks of the whole line: at most two paths, a working folder for a relative one, and the build's
// options only with something to build.
bool checkLine(CommandLineOptions& options, const QStringList&, QString* why)
{
    if (options.paths.size() > 2) {
        *why = QStringLiteral("Too many paths: give one folder or template, and at most a package path.");
        return false;
    }
    // Without its working folder a relative path would count from the root of the file system.
    if (std::any_of(options.paths.cbegin(), options.paths.cend(), isRelativeArgument) &&
        QDir::currentPath().isEmpty()) {
        *why = QStringLiteral("Cannot read the working folder (removed, or its path too long): give absolute "
                              "paths.");
        return false;
    }
    const bool batchOnly =
        options.redact || options.since || options.maxLogSize || options.json || options.checksum;
    if (options.paths.isEmpty() && batchOnly) {
        *why = QStringLiteral(
            "--redact, --redact-names, --since, --max-log-size, --json and --checksum are for a "
            "batch start: give a folder or template (the main window keeps its own options "
            "under File > Options).");
        return false;
    }
    return true;
}

const char kAbout[] =
    "Packs the files of a Tessarine application folder, with a version manifest, the product's logs\n"
    "and its configuration files, into one zip package for support.\n"
    "\n"
    "  (no arguments)         open the main window on the last folder\n"
    "  FOLDER                 build a package of every template in the folder\n"
    "  TEMPLATE               build a package of one template (a .TST6 or .TST file)\n"
    "  PACKAGE                write the package there, with no dialog and no message; without it\n"
    "                         the save dialog asks where\n";

const char kPaths[] =
    "\n"
    "Paths are host paths, absolute (/srv/tess/c/Apps/Orders) or relative to the working folder\n"
    "(Apps/Orders), or Windows-style (C:\\Apps\\Orders\\) through the drive map TS6_DRIVES. A folder\n"
    "named like a verb is given as ./collect; a path that begins with \"-\" follows \"--\", which ends\n"
    "the options.\n"
    "\n";

const char kEpilogue[] =
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

VerbText batchText()
{
    QStringList usage{QStringLiteral("[OPTION]... [FOLDER | TEMPLATE [PACKAGE]]")};
    QString about = QLatin1String(kAbout);
    for (const VerbEntry& verb : verbTable()) {
        usage.append(verb.text().usage.constFirst());
        const QString summary =
            QString(verb.summary).replace(QLatin1Char('\n'), QStringLiteral("\n%1").arg(QString(), 25));
        about += QStringLiteral("  %1 %2\n").arg(verb.name, -22).arg(summary);
    }
    return {{}, usage, about + QLatin1String(kPaths), QLatin1String(kEpilogue), true};
}

// Whether --json stands among the options as an option, not as another option's value: a line that
// cannot be read is answered in JSON too when it asks for it, wherever the fault lies.
bool asksForJson(const QStringList& arguments)
{
    const std::vector<OptionInfo> options = batchGrammar().optionList();
    const auto takesValue = [&](const QString& argument) {
        return std::any_of(options.cbegin(), options.cend(),
                           [&](const OptionInfo& o) { return o.takesValue() && argument == o.longName(); });
    };
    for (qsizetype i = 0; i < arguments.size() && arguments.at(i) != QLatin1String("--"); ++i) {
        if (arguments.at(i) == QLatin1String("--json"))
            return true;
        if (takesValue(arguments.at(i)))
            ++i; // its value, whatever it says
    }
    return false;
}

} // namespace

const Grammar<CommandLineOptions>& batchGrammar()
{
    using Options = CommandLineOptions;
    static const Grammar<Options> grammar{
        batchText(),
        {
            {{{QStringLiteral("redact")},
              {},
              QStringLiteral("mask the secrets in every text file of the package: the values of passwords, "
                             "secrets, tokens and API keys, bearer tokens and private keys become ********; "
                             "REDACTED.TXT in the package says how many in each file")},
             [](Options& o, const QString&, QString*) { return set(o.redact); }},
            {{{QStringLiteral("redact-names")},
              {},
              QStringLiteral("as --redact, and the computer's name, the user's name, IP addresses and host "
                             "names become placeholders (host-1, user-1, ip-1) in every text file and the "
                             "manifest; the map of placeholders is written beside the package as "
                             "PACKAGE.names (only you can read it) and never goes into the package")},
             [](Options& o, const QString&, QString*) { return set(o.redact) && set(o.redactNames); }},
            {{{QStringLiteral("since")},
              QStringLiteral("DATE"),
              QStringLiteral("leave out the log files last changed before DATE (YYYY-MM-DD), or before the "
                             "start of the day N days ago (Nd); the package's comment lists them")},
             readSince},
            {{{QStringLiteral("max-log-size")},
              QStringLiteral("SIZE"),
              QStringLiteral("pack the log files newest first, stopping before their total passes SIZE "
                             "bytes; K, M and G are thousands, millions and billions (200M, 2G); the "
                             "package's comment lists the files left out")},
             readSize},
            {{{QStringLiteral("json")},
              {},
              QStringLiteral("after the build, print one JSON object on standard output: the package, its "
                             "size, SHA-256 and entry count, the files left out, the values masked, the "
                             "seconds taken and the exit status")},
             [](Options& o, const QString&, QString*) { return set(o.json); }},
            {{{QStringLiteral("checksum")},
              {},
              QStringLiteral("write the checksum file PACKAGE.sha256 for sha256sum -c beside the package, "
                             "once the package is complete")},
             [](Options& o, const QString&, QString*) { return set(o.checksum); }},
        },
        [](Options& o, const QString& path, bool, QString*) {
            o.paths.append(path);
            return true;
        },
        checkLine,
    };
    return grammar;
}

BatchCommand parseArguments(const QStringList& arguments)
{
    BatchCommand command = parseCommand(batchGrammar(), arguments);
    if (command.action == BatchCommand::Action::UsageError)
        command.options.json = asksForJson(arguments);
    return command;
}

bool checkBuildOption(const QString& name, const QString& value, QString* why)
{
    // An absolute path to build: a value is read the same from any working folder.
    const BatchCommand read = parseArguments({name, value, QStringLiteral("/")});
    if (read.action != BatchCommand::Action::UsageError)
        return true;
    *why = read.error;
    return false;
}
