#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

// What the process arguments ask for. Options begin with "-" and may stand anywhere; "--" ends
// them, so a path that begins with "-" can follow it.
struct CommandLineOptions
{
    enum class Action
    {
        Run,        // start: the window, or a batch start on the paths
        Help,       // print the help text on standard output
        Version,    // print the version on standard output
        UsageError, // print the error and the usage on standard error
    };
    Action action = Action::Run;
    QString error;     // why the command line cannot be read (UsageError)
    QStringList paths; // the folder or template, and the package path, as given

    // What a batch start does beyond the plain package.
    bool redact = false;              // --redact: secrets masked in every text file
    bool redactNames = false;         // --redact-names: host and user names, addresses too
    std::optional<QDate> since;       // --since: log files changed before this day left out
    std::optional<qint64> maxLogSize; // --max-log-size: bytes of log files at most, newest first
    bool json = false;                // --json: a JSON summary on standard output
    bool checksum = false;            // --checksum: PACKAGE.sha256 beside the package
};

// Reads the arguments that follow the program's own name.
CommandLineOptions parseArguments(const QStringList& arguments);

// The text of --help: the usage, every option, the exit statuses and the environment variables.
QString helpText();
// The usage line, and where to read more, for a command line that cannot be read.
QString usageHint();

// One argument as a Linux user means it: a relative path made absolute against the working
// directory (host spelling "apps/Orders" or Windows spelling "apps\Orders"), an absolute host path
// turned into a Windows-style one, and an existing folder ending with "\" even when given without
// a trailing "/". An empty or blank argument stays as it is.
QString argumentAsMeant(const QString& argument);

// The command line of the start-up, rebuilt from the paths: each made what the user means, in
// double quotes, joined by one blank.
QString buildCommandLine(const QStringList& paths);
