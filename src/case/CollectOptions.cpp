#include "case/CollectOptions.h"

#include "base/ShownText.h"
#include "case/CaseIndex.h"

#include <QHash>
#include <QRegularExpression>

bool distinctFolders(const std::vector<HostEntry>& hosts, QString* why)
{
    QHash<QString, QString> seen;
    for (const HostEntry& h : hosts) {
        const QString folder = hostFolder(h.host);
        if (const auto other = seen.constFind(folder); other != seen.cend()) {
            *why = QStringLiteral("the hosts '%1' and '%2' would share the folder %3")
                       .arg(*other, h.host, folder);
            return false;
        }
        seen.insert(folder, h.host);
    }
    return true;
}

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
    if (!distinctFolders(entries, why)) {
        *why += QLatin1Char('.');
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
