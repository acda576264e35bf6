#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

// What a batch start asks for: the folder or template and the package path, as given, and what the
// build does beyond the plain package.
struct CommandLineOptions
{
    QStringList paths;

    bool redact = false;              // --redact: secrets masked in every text file
    bool redactNames = false;         // --redact-names: host and user names, addresses too
    std::optional<QDate> since;       // --since: log files changed before this day left out
    std::optional<qint64> maxLogSize; // --max-log-size: bytes of log files at most, newest first
    bool json = false;                // --json: a JSON summary on standard output
    bool checksum = false;            // --checksum: PACKAGE.sha256 beside the package
};

// A path that counts from the working folder.
bool isRelativeArgument(const QString& path);

// One argument as a Linux user means it: a relative path made absolute against the working
// directory (host spelling "apps/Orders" or Windows spelling "apps\Orders"), an absolute host path
// turned into a Windows-style one, and an existing folder ending with "\" even when given without
// a trailing "/". An empty or blank argument stays as it is.
QString argumentAsMeant(const QString& argument);

// The command line of the start-up, rebuilt from the paths: each made what the user means, in
// double quotes, joined by one blank.
QString buildCommandLine(const QStringList& paths);
