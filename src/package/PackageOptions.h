#pragma once

#include <QDate>
#include <QString>

#include <optional>

class AppConfig;

// What a build does beyond the plain package: secrets masked in every text file, and
// the product's log folder packed newest first within an age and a size budget. The default is
// the plain package.
struct PackageOptions
{
    bool maskSecrets = false;
    bool maskNames = false;       // host names, user names and addresses replaced too (masks secrets as well)
    std::optional<QDate> since{}; // log files last changed before this day are left out
    std::optional<qint64> maxLogBytes{}; // the log files stop before their total passes this
    bool digest = false;                 // the package's SHA-256 is wanted (in the build's report)
    bool checksum = false;               // "<package>.sha256" will be written beside the package
    bool operator==(const PackageOptions&) const = default;
};

// The options the main window keeps for the builds it starts, in the settings file's section
// "PackageOptions": the age in days, so that it moves with the date, and the size in megabytes.
// Where File > Upload Package... sends a package is kept in the section "Upload": the server's
// address, the file that holds the token (never the token itself) and a private CA's certificates.
struct SavedPackageOptions
{
    bool maskSecrets = false;
    std::optional<int> maxLogDays{};
    std::optional<int> maxLogMegabytes{};
    QString uploadUrl{};
    QString uploadTokenFile{};
    QString uploadCaCert{};
    bool operator==(const SavedPackageOptions&) const = default;
};

SavedPackageOptions readSavedOptions(AppConfig& config);
void writeSavedOptions(AppConfig& config, const SavedPackageOptions& options);
// The saved options for a build started on that day: the logs of the last N days are those changed
// since the start of the day N days before.
PackageOptions optionsOn(const SavedPackageOptions& saved, QDate today);

// The reasons the comment gives for a log file left out: "older than 2026-11-01", "log budget of
// 200 MB reached".
QString tooOldReason(QDate since);
QString overBudgetReason(qint64 bytes);
