#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// One host of a collect run: as given ([user@]host[:port] or a name from the ssh configuration),
// and the folder or template to pack there when it is not the run's.
struct HostEntry
{
    QString host{};
    QString folder{};
};

// What "ts6satchel collect" is asked to do.
struct CollectOptions
{
    std::vector<HostEntry> hosts;
    QString target{}; // the folder or template on every host, as given after "--"
    QString out{};    // the case folder
    QString resume{}; // a case folder whose hosts not collected are tried again
    int jobs = 4;
    int timeoutSeconds = 600;
    int connectTimeoutSeconds = 15;
    bool sudo = false;
    bool acceptNewHostKeys = false;
    QString sshConfig{};           // an ssh configuration file of the user's choice
    bool json = false;             // the index on standard output at the end
    QStringList buildOptions{};    // passed to each host's build: --redact, --since DATE...
    QStringList recordedOptions{}; // what the index keeps, so a resume runs the same way
};

// Whether no two hosts would share a folder of the case; the two and the folder in why when they would.
bool distinctFolders(const std::vector<HostEntry>& hosts, QString* why);

struct CaseIndex;

// Whether the hosts and the target a case index names pass the command line's checks (no control
// character, no host that two names share a folder with...), each host's words are printable and
// each host collected names its own package; the reason in why when not.
bool checkResumable(const CaseIndex& index, QString* why);

// The lines of a hosts file: one host a line, optionally followed by blanks and folder=PATH; blank
// lines and lines starting with # are skipped. The error names the line (1-based) of the first
// line that cannot be read.
std::vector<HostEntry> parseHostsFile(const QByteArray& text, QString* error);

// Seconds from "90", "90s", "10m" or "2h"; none for anything else, zero or past a day.
std::optional<int> parseDuration(const QString& text);

// Whether a host as given can be handed to ssh: not empty, of ASCII letters, digits and "._-:@[]%"
// alone (no blank, no shell character, nothing unprintable or that only looks like a digit), not
// starting with "-" (ssh would read it as an option).
bool isHostName(const QString& host);

// The options again, as the index records them and a resume reads them back.
QStringList recordedArguments(const CollectOptions& options);
