#include "cli/CollectCommand.h"

#include "base/CHandle.h"
#include "base/ShownText.h"
#include "base/SystemError.h"
#include "case/CollectRun.h"
#include "cli/BatchCommand.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using Options = CollectLine;

// A hosts file: a plain file of at most 16 MiB, opened without waiting, so that a FIFO or a device
// named as one is refused rather than read for ever.
bool readHostsFile(const QString& path, std::vector<HostEntry>& hosts, QString* why)
{
    constexpr qint64 kMaxHostsFile = qint64(16) << 20;
    const UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info = {};
    if (!fd || ::fstat(fd.get(), &info) != 0) {
        *why = QStringLiteral("--hosts-file: cannot read %1: %2").arg(path, errnoText(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode) || info.st_size > kMaxHostsFile) {
        *why = QStringLiteral("--hosts-file: %1 is not a plain file of at most 16 MiB.").arg(path);
        return false;
    }
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly)) {
        *why = QStringLiteral("--hosts-file: cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QString error;
    std::vector<HostEntry> read = parseHostsFile(file.read(kMaxHostsFile), &error);
    if (!error.isEmpty()) {
        *why = path + QStringLiteral(":") + error;
        return false;
    }
    hosts.insert(hosts.end(), read.begin(), read.end());
    return true;
}

bool setDuration(int& seconds, const QString& name, const QString& value, QString* why)
{
    const std::optional<int> read = parseDuration(value);
    if (!read) {
        *why = QStringLiteral(
                   "%1: cannot read the time '%2': give seconds, or a number with s, m or h (90s, 10m).")
                   .arg(name, value);
        return false;
    }
    seconds = *read;
    return true;
}

bool set(bool& flag)
{
    flag = true;
    return true;
}

// An option of each host's build: checked as the build reads it, and handed on as given.
OptionRow<Options> buildOption(const QString& name, const QString& valueName)
{
    return {{{name}, valueName, QStringLiteral("passed to each host's build (see ts6satchel --help)")},
            [name, isSwitch = valueName.isEmpty()](Options& o, const QString& value, QString* why) {
                const QString option = QStringLiteral("--") + name;
                if (isSwitch) {
                    o.options.buildOptions << option;
                    return true;
                }
                if (!checkBuildOption(option, value, why))
                    return false;
                o.options.buildOptions << option << value;
                return true;
            }};
}

bool takeOperand(Options& o, const QString& operand, bool afterDashes, QString* why)
{
    if (afterDashes) {
        o.operands.append(operand);
        return true;
    }
    if (!isHostName(operand)) {
        *why = QStringLiteral("cannot read the host '%1'.").arg(operand);
        return false;
    }
    o.options.hosts.push_back({operand, {}});
    return true;
}

// A new case needs hosts and a target; a resume takes both, and its options, from the case folder.
bool checkLine(Options& line, const QStringList& given, QString* why)
{
    CollectOptions& o = line.options;
    if (line.operands.size() > 1) {
        *why = QStringLiteral("give one folder or template after --, not %1.").arg(line.operands.size());
        return false;
    }
    o.target = line.operands.value(0);
    static const QStringList withResume{QStringLiteral("--resume"), QStringLiteral("--json"),
                                        QStringLiteral("--ssh-config")};
    if (!o.resume.isEmpty()) {
        if (!o.hosts.empty() || !o.target.isEmpty()) {
            *why =
                QStringLiteral("--resume reads the hosts and the target from the case folder; give neither.");
            return false;
        }
        if (!std::all_of(given.cbegin(), given.cend(),
                         [](const QString& name) { return withResume.contains(name); })) {
            *why =
                QStringLiteral("--resume runs with the options kept in the case folder; give only --json and "
                               "--ssh-config with it.");
            return false;
        }
    } else {
        if (o.hosts.empty()) {
            *why = QStringLiteral("no host: give hosts, or --hosts-file FILE.");
            return false;
        }
        if (o.target.isEmpty()) {
            *why = QStringLiteral("no target: give the folder or template after --.");
            return false;
        }
        if (o.out.isEmpty())
            o.out = QStringLiteral("case-") +
                    QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (!distinctFolders(o.hosts, why)) {
            *why += QStringLiteral("; give each host once.");
            return false;
        }
    }
    o.recordedOptions = recordedArguments(o);
    return true;
}

const char kAbout[] =
    "Builds a package on each host with the ts6satchel installed there, over the system's OpenSSH\n"
    "client, and gathers the packages into one case folder: index.json, index.txt, SHA256SUMS and\n"
    "hosts/HOST/package.zip with hosts/HOST/collect.log. Hosts run in parallel; none waits for another.\n"
    "The case folder is private (0700, its files 0600), and is taken only when it is yours, no link,\n"
    "and no one else may write it. No agent, X11 display or port is forwarded to a server.\n"
    "\n"
    "HOST is [user@]host[:port] or a name from your ssh configuration. A hosts file has one host a\n"
    "line, optionally followed by blanks and folder=PATH for a host whose installation sits elsewhere;\n"
    "blank lines and lines starting with # are skipped.\n";

const char kEpilogue[] =
    "Each host ends in one state: collected, unreachable, refused, timeout, host-key-unknown,\n"
    "host-key-changed, auth, sudo, tool-missing, tool-too-old, remote-failed, corrupt or interrupted.\n"
    "\n"
    "Exit status: 0 every host collected, 3 some, 1 none, 64 the command line cannot be read.\n";

} // namespace

const Grammar<CollectLine>& collectGrammar()
{
    static const Grammar<Options> grammar{
        {QStringLiteral("collect"),
         {QStringLiteral("collect [OPTION]... HOST... -- FOLDER|TEMPLATE"),
          QStringLiteral("collect [OPTION]... --hosts-file FILE -- FOLDER|TEMPLATE"),
          QStringLiteral("collect [--ssh-config FILE] [--json] --resume CASEDIR")},
         QLatin1String(kAbout),
         QLatin1String(kEpilogue)},
        {
            {{{QStringLiteral("hosts-file")},
              QStringLiteral("FILE"),
              QStringLiteral("read the hosts from FILE")},
             [](Options& o, const QString& v, QString* why) {
                 return readHostsFile(v, o.options.hosts, why);
             }},
            {{{QStringLiteral("out")},
              QStringLiteral("DIR"),
              QStringLiteral("the case folder (default: case-YYYYMMDD-HHMMSS here)")},
             [](Options& o, const QString& v, QString*) {
                 o.options.out = v;
                 return true;
             }},
            {{{QStringLiteral("jobs")},
              QStringLiteral("N"),
              QStringLiteral("hosts at a time, 1 to 64 (default 4)")},
             [](Options& o, const QString& v, QString* why) {
                 bool ok = false;
                 const int jobs = v.toInt(&ok);
                 if (!ok || jobs < 1 || jobs > 64) {
                     *why = QStringLiteral("--jobs: give a number from 1 to 64, not '%1'.").arg(v);
                     return false;
                 }
                 o.options.jobs = jobs;
                 return true;
             }},
            {{{QStringLiteral("timeout")},
              QStringLiteral("TIME"),
              QStringLiteral("each host's deadline, seconds or with s, m, h (default 10m)")},
             [](Options& o, const QString& v, QString* why) {
                 return setDuration(o.options.timeoutSeconds, QStringLiteral("--timeout"), v, why);
             }},
            {{{QStringLiteral("connect-timeout")},
              QStringLiteral("TIME"),
              QStringLiteral("the deadline of each connection (default 15s)")},
             [](Options& o, const QString& v, QString* why) {
                 return setDuration(o.options.connectTimeoutSeconds, QStringLiteral("--connect-timeout"), v,
                                    why);
             }},
            {{{QStringLiteral("sudo")},
              {},
              QStringLiteral("run the remote build through sudo -n (never asks a password)")},
             [](Options& o, const QString&, QString*) { return set(o.options.sudo); }},
            {{{QStringLiteral("accept-new-host-keys")},
              {},
              QStringLiteral("add unknown host keys to known_hosts; a changed key is never accepted")},
             [](Options& o, const QString&, QString*) { return set(o.options.acceptNewHostKeys); }},
            {{{QStringLiteral("ssh-config")},
              QStringLiteral("FILE"),
              QStringLiteral("hand ssh this configuration file (-F); a resume never takes it from the case "
                             "folder: give it again")},
             [](Options& o, const QString& v, QString* why) {
                 if (!QFile::exists(v)) {
                     *why = QStringLiteral("--ssh-config: there is no file %1.").arg(v);
                     return false;
                 }
                 o.options.sshConfig = QFileInfo(v).absoluteFilePath(); // for a resume from elsewhere
                 return true;
             }},
            {{{QStringLiteral("resume")},
              QStringLiteral("CASEDIR"),
              QStringLiteral("try again the hosts of CASEDIR that were not collected, with the hosts, target "
                             "and options recorded there")},
             [](Options& o, const QString& v, QString*) {
                 o.options.resume = v;
                 return true;
             }},
            {{{QStringLiteral("json")},
              {},
              QStringLiteral("print the index as one JSON object on standard output at the end")},
             [](Options& o, const QString&, QString*) { return set(o.options.json); }},
            buildOption(QStringLiteral("redact"), {}),
            buildOption(QStringLiteral("redact-names"), {}),
            buildOption(QStringLiteral("since"), QStringLiteral("DATE")),
            buildOption(QStringLiteral("max-log-size"), QStringLiteral("SIZE")),
        },
        takeOperand,
        checkLine,
    };
    return grammar;
}

CollectCommand parseCollectArguments(const QStringList& arguments)
{
    return parseCommand(collectGrammar(), arguments);
}

std::optional<CollectOptions> readRecordedOptions(const QStringList& recorded, QString* sshConfig,
                                                  QString* why)
{
    // Only what recordedArguments writes: an option that reads a file, names another folder or runs
    // anything is no option a case keeps.
    static const QStringList kept{QStringLiteral("--jobs"),
                                  QStringLiteral("--timeout"),
                                  QStringLiteral("--connect-timeout"),
                                  QStringLiteral("--sudo"),
                                  QStringLiteral("--accept-new-host-keys"),
                                  QStringLiteral("--redact"),
                                  QStringLiteral("--redact-names"),
                                  QStringLiteral("--since"),
                                  QStringLiteral("--max-log-size")};
    const Grammar<Options>& grammar = collectGrammar();
    std::vector<ArgumentItem> items;
    // "--" and help are no options a case keeps; the one recorded is named.
    for (const QString& argument : recorded)
        if (argument == QLatin1String("--") || argument == QLatin1String("--help") ||
            (argument.startsWith(QLatin1Char('-')) && !argument.startsWith(QLatin1String("--")))) {
            *why = QStringLiteral("'%1' is no option that collect keeps.").arg(shownText(argument));
            return std::nullopt;
        }
    if (splitArguments(grammar.optionList(), false, recorded, &items, why) != LineEnd::Read)
        return std::nullopt;
    Options line;
    for (const ArgumentItem& item : items) {
        const QString name =
            item.option < 0 ? item.value : grammar.rows[std::size_t(item.option)].option.longName();
        if (name == QLatin1String("--ssh-config")) {
            *sshConfig = item.value; // told, never used: the user gives it again
            continue;
        }
        if (item.option < 0 || !kept.contains(name)) {
            *why = QStringLiteral("'%1' is no option that collect keeps.").arg(shownText(name));
            return std::nullopt;
        }
        if (!grammar.rows[std::size_t(item.option)].apply(line, item.value, why))
            return std::nullopt;
    }
    return line.options;
}

int collectVerb(const QStringList& arguments)
{
    return runVerb(collectGrammar(), arguments,
                   [](const CollectLine& line) { return runCollect(line.options, readRecordedOptions); });
}
