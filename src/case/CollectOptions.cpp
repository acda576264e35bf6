#include "case/CollectOptions.h"

#include "base/ShownText.h"
#include "case/CaseIndex.h"
#include "platform/CommandLine.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <functional>
#include <map>

namespace {

using Action = CollectCommand::Action;

constexpr auto usageError = &CollectCommand::usageError;

// An option that the build on each host takes, checked here as the build would read it.
QString checkBuildOption(const QString& name, const QString& value)
{
    const CommandLineOptions read = parseArguments({name, value, QStringLiteral("PACKAGE")});
    return read.action == CommandLineOptions::Action::UsageError ? read.error : QString();
}

QString readHostsFile(const QString& path, std::vector<HostEntry>& hosts)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("--hosts-file: cannot read %1: %2").arg(path, file.errorString());
    QString error;
    std::vector<HostEntry> read = parseHostsFile(file.readAll(), &error);
    if (!error.isEmpty())
        return path + QStringLiteral(":") + error;
    hosts.insert(hosts.end(), read.begin(), read.end());
    return QString();
}

// Applies one option with its value (empty for a switch); the error, or the empty text.
using Apply = std::function<QString(CollectCommand&, const QString&)>;

struct Option
{
    bool takesValue;
    Apply apply;
};

QString setDuration(int& seconds, const QString& name, const QString& value)
{
    const std::optional<int> read = parseDuration(value);
    if (!read)
        return QStringLiteral("%1: cannot read the time '%2': give seconds, or a number with s, m or h (90s, "
                              "10m).")
            .arg(name, value);
    seconds = *read;
    return QString();
}

const std::map<QString, Option>& optionTable()
{
    static const std::map<QString, Option> table{
        {QStringLiteral("--help"),
         {false,
          [](CollectCommand& c, const QString&) {
              c.action = Action::Help;
              return QString();
          }}},
        {QStringLiteral("--hosts-file"),
         {true, [](CollectCommand& c, const QString& v) { return readHostsFile(v, c.options.hosts); }}},
        {QStringLiteral("--out"),
         {true,
          [](CollectCommand& c, const QString& v) {
              c.options.out = v;
              return QString();
          }}},
        {QStringLiteral("--resume"),
         {true,
          [](CollectCommand& c, const QString& v) {
              c.options.resume = v;
              return QString();
          }}},
        {QStringLiteral("--jobs"),
         {true,
          [](CollectCommand& c, const QString& v) {
              bool ok = false;
              const int jobs = v.toInt(&ok);
              if (!ok || jobs < 1 || jobs > 64)
                  return QStringLiteral("--jobs: give a number from 1 to 64, not '%1'.").arg(v);
              c.options.jobs = jobs;
              return QString();
          }}},
        {QStringLiteral("--timeout"),
         {true,
          [](CollectCommand& c, const QString& v) {
              return setDuration(c.options.timeoutSeconds, QStringLiteral("--timeout"), v);
          }}},
        {QStringLiteral("--connect-timeout"),
         {true,
          [](CollectCommand& c, const QString& v) {
              return setDuration(c.options.connectTimeoutSeconds, QStringLiteral("--connect-timeout"), v);
          }}},
        {QStringLiteral("--sudo"),
         {false,
          [](CollectCommand& c, const QString&) {
              c.options.sudo = true;
              return QString();
          }}},
        {QStringLiteral("--accept-new-host-keys"),
         {false,
          [](CollectCommand& c, const QString&) {
              c.options.acceptNewHostKeys = true;
              return QString();
          }}},
        {QStringLiteral("--ssh-config"),
         {true,
          [](CollectCommand& c, const QString& v) {
              if (!QFile::exists(v))
                  return QStringLiteral("--ssh-config: there is no file %1.").arg(v);
              c.options.sshConfig = QFileInfo(v).absoluteFilePath(); // for a resume from elsewhere
              return QString();
          }}},
        {QStringLiteral("--json"),
         {false,
          [](CollectCommand& c, const QString&) {
              c.options.json = true;
              return QString();
          }}},
    };
    return table;
}

bool isBuildSwitch(const QString& name)
{
    return name == QLatin1String("--redact") || name == QLatin1String("--redact-names");
}

bool isBuildValueOption(const QString& name)
{
    return name == QLatin1String("--since") || name == QLatin1String("--max-log-size");
}

// Why two hosts cannot both be collected into one case: they would share a folder. Empty when none.
QString sharedFolder(const std::vector<HostEntry>& hosts)
{
    QHash<QString, QString> seen;
    for (const HostEntry& h : hosts) {
        const QString folder = hostFolder(h.host);
        if (const auto other = seen.constFind(folder); other != seen.cend())
            return QStringLiteral("the hosts '%1' and '%2' would share the folder %3")
                .arg(*other, h.host, folder);
        seen.insert(folder, h.host);
    }
    return QString();
}

} // namespace

std::optional<int> parseDuration(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,6})([smh]?)$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 unit = match.captured(2) == QLatin1String("h")   ? 3600
                        : match.captured(2) == QLatin1String("m") ? 60
                                                                  : 1;
    const qint64 seconds = match.captured(1).toLongLong() * unit;
    if (seconds < 1 || seconds > 86400)
        return std::nullopt;
    return static_cast<int>(seconds);
}

bool isHostName(const QString& host)
{
    if (host.isEmpty() || host.startsWith(QLatin1Char('-')))
        return false;
    // What a host name, an address, a user, a port and an ssh alias are written with; a shell's
    // characters never reach a ProxyCommand or a Match exec that names the host.
    static const QString other = QStringLiteral("._-:@[]%");
    return std::all_of(host.cbegin(), host.cend(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               other.contains(c);
    });
}

std::vector<HostEntry> parseHostsFile(const QByteArray& text, QString* error)
{
    std::vector<HostEntry> hosts;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines.at(n).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        static const QRegularExpression form(QStringLiteral("^(\\S+)(?:\\s+folder=(.+))?$"));
        const QRegularExpressionMatch match = form.match(line);
        if (!match.hasMatch() || !isHostName(match.captured(1))) {
            *error = QStringLiteral("%1: cannot read the line '%2': give HOST, or HOST folder=PATH.")
                         .arg(n + 1)
                         .arg(line);
            return {};
        }
        hosts.push_back({match.captured(1), match.captured(2)});
    }
    return hosts;
}

CollectCommand parseCollectArguments(const QStringList& arguments)
{
    CollectCommand command;
    CollectOptions& options = command.options;
    bool afterDashes = false;
    bool otherOptions = false;
    QStringList targets;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (afterDashes) {
            targets.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            afterDashes = true;
            continue;
        }
        if (argument == QLatin1String("-h"))
            return command.action = Action::Help, command;
        if (!argument.startsWith(QLatin1Char('-'))) {
            if (!isHostName(argument))
                return usageError(QStringLiteral("cannot read the host '%1'.").arg(argument));
            options.hosts.push_back({argument, {}});
            continue;
        }
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = equals > 0 ? argument.left(equals) : argument;
        const auto takeValue = [&](QString& value) {
            if (equals > 0) {
                value = argument.mid(equals + 1);
                return true;
            }
            if (i + 1 >= arguments.size())
                return false;
            value = arguments.at(++i);
            return true;
        };
        QString value;
        if (isBuildSwitch(name) || isBuildValueOption(name))
            otherOptions = true;
        if (isBuildSwitch(name) && equals < 0) {
            options.buildOptions.append(name);
            continue;
        }
        if (isBuildValueOption(name)) {
            if (!takeValue(value))
                return usageError(QStringLiteral("%1 needs a value.").arg(name));
            if (const QString why = checkBuildOption(name, value); !why.isEmpty())
                return usageError(why);
            options.buildOptions << name << value;
            continue;
        }
        if (name != QLatin1String("--resume") && name != QLatin1String("--json") &&
            name != QLatin1String("--ssh-config"))
            otherOptions = true;
        const auto found = optionTable().find(name);
        if (found == optionTable().end() || (!found->second.takesValue && equals > 0))
            return usageError(QStringLiteral("unknown option '%1'.").arg(argument));
        if (found->second.takesValue && !takeValue(value))
            return usageError(QStringLiteral("%1 needs a value.").arg(name));
        if (const QString why = found->second.apply(command, value); !why.isEmpty())
            return usageError(why);
        if (command.action == Action::Help)
            return command;
    }
    if (targets.size() > 1)
        return usageError(
            QStringLiteral("give one folder or template after --, not %1.").arg(targets.size()));
    options.target = targets.value(0);
    if (options.resume.isEmpty()) {
        if (options.hosts.empty())
            return usageError(QStringLiteral("no host: give hosts, or --hosts-file FILE."));
        if (options.target.isEmpty())
            return usageError(QStringLiteral("no target: give the folder or template after --."));
        if (options.out.isEmpty())
            options.out = QStringLiteral("case-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (const QString twice = sharedFolder(options.hosts); !twice.isEmpty())
            return usageError(twice + QStringLiteral("; give each host once."));
    } else if (!options.hosts.empty() || !options.target.isEmpty()) {
        return usageError(QStringLiteral("--resume reads the hosts and the target from the case folder; give "
                                         "neither."));
    } else if (otherOptions) {
        return usageError(QStringLiteral("--resume runs with the options kept in the case folder; give only "
                                         "--json and --ssh-config with it."));
    }
    options.recordedOptions = recordedArguments(options);
    return command;
}

CollectCommand parseRecordedOptions(const QStringList& recorded, QString* sshConfig)
{
    // Only what recordedArguments writes, each value apart from its name: an option that reads a
    // file, names another folder or runs anything is no option a case keeps.
    static const QStringList kept{QStringLiteral("--jobs"), QStringLiteral("--timeout"),
                                  QStringLiteral("--connect-timeout"), QStringLiteral("--sudo"),
                                  QStringLiteral("--accept-new-host-keys")};
    CollectCommand command;
    CollectOptions& options = command.options;
    for (qsizetype i = 0; i < recorded.size(); ++i) {
        const QString& name = recorded.at(i);
        const bool takesValue = isBuildValueOption(name) || name == QLatin1String("--ssh-config") ||
                                (kept.contains(name) && optionTable().at(name).takesValue);
        if (takesValue && i + 1 >= recorded.size())
            return usageError(QStringLiteral("%1 has no value.").arg(name));
        const QString value = takesValue ? recorded.at(++i) : QString();
        if (isBuildSwitch(name)) {
            options.buildOptions << name;
        } else if (isBuildValueOption(name)) {
            if (const QString why = checkBuildOption(name, value); !why.isEmpty())
                return usageError(why);
            options.buildOptions << name << value;
        } else if (name == QLatin1String("--ssh-config")) {
            *sshConfig = value; // told, never used: the user gives it again
        } else if (kept.contains(name)) {
            if (const QString why = optionTable().at(name).apply(command, value); !why.isEmpty())
                return usageError(why);
        } else {
            return usageError(QStringLiteral("'%1' is no option that collect keeps.").arg(shownText(name)));
        }
    }
    return command;
}

bool checkResumable(const CaseIndex& index, QString* why)
{
    const auto unprintable = [](const QString& text) {
        const QList<uint> points = text.toUcs4();
        return std::any_of(points.cbegin(), points.cend(), [](uint c) { return !QChar::isPrint(c); });
    };
    static const QRegularExpression sha256(QStringLiteral("^[0-9a-f]{64}$"));
    if (index.target.isEmpty() || unprintable(index.target)) {
        *why =
            QStringLiteral("its target '%1' is not one the command line takes.").arg(shownText(index.target));
        return false;
    }
    if (index.hosts.empty()) {
        *why = QStringLiteral("it names no host.");
        return false;
    }
    std::vector<HostEntry> entries;
    for (const HostRecord& h : index.hosts) {
        if (!isHostName(h.host) || unprintable(h.folder)) {
            *why =
                QStringLiteral("it names the host '%1'%2, which the command line would refuse.")
                    .arg(shownText(h.host),
                         h.folder.isEmpty() ? QString() : QStringLiteral(" folder=") + shownText(h.folder));
            return false;
        }
        if (unprintable(h.reason) || unprintable(h.version) || unprintable(h.fingerprint)) {
            *why = QStringLiteral("the host '%1' carries text that collect never writes.").arg(h.host);
            return false;
        }
        const bool collectedHere = h.package == hostFolder(h.host) + QStringLiteral("/package.zip") &&
                                   sha256.match(QString::fromLatin1(h.sha256)).hasMatch() && h.size >= 0;
        if (h.state == HostState::Collected && !collectedHere) {
            *why = QStringLiteral("the host '%1' is collected into '%2', not into its own folder.")
                       .arg(shownText(h.host), shownText(h.package));
            return false;
        }
        entries.push_back({h.host, h.folder});
    }
    if (const QString twice = sharedFolder(entries); !twice.isEmpty()) {
        *why = twice + QLatin1Char('.');
        return false;
    }
    return true;
}

QStringList recordedArguments(const CollectOptions& options)
{
    QStringList recorded = options.buildOptions;
    recorded << QStringLiteral("--jobs") << QString::number(options.jobs);
    recorded << QStringLiteral("--timeout") << QString::number(options.timeoutSeconds);
    recorded << QStringLiteral("--connect-timeout") << QString::number(options.connectTimeoutSeconds);
    if (options.sudo)
        recorded << QStringLiteral("--sudo");
    if (options.acceptNewHostKeys)
        recorded << QStringLiteral("--accept-new-host-keys");
    if (!options.sshConfig.isEmpty())
        recorded << QStringLiteral("--ssh-config") << options.sshConfig;
    return recorded;
}

QString collectUsageHint()
{
    return QStringLiteral("usage: ts6satchel collect [OPTIONS] HOST... -- FOLDER|TEMPLATE\n"
                          "       ts6satchel collect [--ssh-config FILE] [--json] --resume CASEDIR\n"
                          "'ts6satchel collect --help' says more.\n");
}

QString collectHelpText()
{
    return QStringLiteral(
        "Usage: ts6satchel collect [OPTIONS] HOST... -- FOLDER|TEMPLATE\n"
        "       ts6satchel collect [OPTIONS] --hosts-file FILE -- FOLDER|TEMPLATE\n"
        "       ts6satchel collect [--ssh-config FILE] [--json] --resume CASEDIR\n"
        "\n"
        "Builds a package on each host with the ts6satchel installed there, over the system's OpenSSH\n"
        "client, and gathers the packages into one case folder: index.json, index.txt, SHA256SUMS and\n"
        "hosts/HOST/package.zip with hosts/HOST/collect.log. Hosts run in parallel; none waits for another.\n"
        "The case folder is private (0700, its files 0600), and is taken only when it is yours, no link,\n"
        "and no one else may write it. No agent, X11 display or port is forwarded to a server.\n"
        "\n"
        "HOST is [user@]host[:port] or a name from your ssh configuration. A hosts file has one host a\n"
        "line, optionally followed by blanks and folder=PATH for a host whose installation sits elsewhere;\n"
        "blank lines and lines starting with # are skipped.\n"
        "\n"
        "Options:\n"
        "  --hosts-file FILE        read the hosts from FILE\n"
        "  --out DIR                the case folder (default: case-YYYYMMDD-HHMMSS here)\n"
        "  --jobs N                 hosts at a time, 1 to 64 (default 4)\n"
        "  --timeout TIME           each host's deadline, seconds or with s, m, h (default 10m)\n"
        "  --connect-timeout TIME   the deadline of each connection (default 15s)\n"
        "  --sudo                   run the remote build through sudo -n (never asks a password)\n"
        "  --accept-new-host-keys   add unknown host keys to known_hosts; a changed key is never accepted\n"
        "  --ssh-config FILE        hand ssh this configuration file (-F); a resume never takes it from\n"
        "                           the case folder: give it again\n"
        "  --resume CASEDIR         try again the hosts of CASEDIR that were not collected, with the\n"
        "                           hosts, target and options recorded there\n"
        "  --json                   print the index as one JSON object on standard output at the end\n"
        "  --redact, --redact-names, --since DATE, --max-log-size SIZE\n"
        "                           passed to each host's build (see ts6satchel --help)\n"
        "  -h, --help               print this text and end\n"
        "\n"
        "Each host ends in one state: collected, unreachable, refused, timeout, host-key-unknown,\n"
        "host-key-changed, auth, sudo, tool-missing, tool-too-old, remote-failed, corrupt or interrupted.\n"
        "\n"
        "Exit status: 0 every host collected, 3 some, 1 none, 64 the command line cannot be read.\n");
}
