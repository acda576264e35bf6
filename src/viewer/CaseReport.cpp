#include "viewer/CaseReport.h"

#include "base/SystemError.h"
#include "outside/Interruption.h"
#include "platform/HostName.h"

#include <QFile>

#include <map>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr qint64 kIndexCap = qint64(16) << 20; // some ten thousand hosts

// The fields of the version manifests worth comparing between hosts: the product's version and
// where it is installed. The computer and user names differ by nature.
const QStringList kComparedFields = {QStringLiteral("Version"), QStringLiteral("Install Path"),
                                     QStringLiteral("Data Path"), QStringLiteral("Shared Path")};

// The package the index names, when the name stays inside the case folder: an index is read as it
// came, and a name that leads elsewhere is never followed.
QString packagePath(const QString& folder, const QString& relative, QString* problem)
{
    const QStringList parts = relative.split(QLatin1Char('/'));
    if (relative.startsWith(QLatin1Char('/')) || parts.contains(QStringLiteral("..")) ||
        parts.contains(QStringLiteral("."))) {
        *problem = QStringLiteral("the index names its package as %1, outside the case folder; not followed")
                       .arg(relative);
        return {};
    }
    return folder + QLatin1Char('/') + relative;
}

// Whether every folder on the way from the case folder to the package is a folder of the case, no
// link, and the package a plain file: an index is read as it came, and nothing leads out of the case.
QString pathProblem(const QString& folder, const QString& relative)
{
    QString path = folder;
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype k = 0; k < parts.size(); ++k) {
        path += QLatin1Char('/') + parts.at(k);
        struct stat info = {};
        if (::lstat(HostName::encode(path).constData(), &info) != 0)
            return QStringLiteral("its package %1 is missing").arg(relative);
        if (S_ISLNK(info.st_mode))
            return QStringLiteral("its package %1 is reached through a link; not followed").arg(relative);
        if (k + 1 == parts.size() ? !S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode))
            return QStringLiteral("its package %1 is not a plain file").arg(relative);
    }
    return {};
}

void readHostPackage(const QString& folder, CaseHost& host, const ReadChoice& choice)
{
    const QString path = packagePath(folder, host.record.package, &host.problem);
    if (path.isEmpty())
        return;
    host.problem = pathProblem(folder, host.record.package);
    if (!host.problem.isEmpty())
        return;
    host.package = readPackage(path, {.checkData = choice.checkData, .checkDigest = false});
    const PackageFindings& package = *host.package;
    if (!package.readable()) {
        host.problem = QStringLiteral("its package cannot be read: ") + package.openError;
        return;
    }
    QStringList problems;
    if (!package.damage.isEmpty())
        problems.append(QStringLiteral("its package is damaged: ") + package.damage.constFirst());
    if (choice.checkDigest && !host.record.sha256.isEmpty()) {
        QString why;
        const QByteArray sha256 = packageSha256(*package.zip, &why);
        if (!why.isEmpty())
            problems.append(why);
        else if (sha256 != host.record.sha256.toLower())
            problems.append(QStringLiteral("its package's SHA-256 is %1, the index says %2")
                                .arg(QString::fromLatin1(sha256), QString::fromLatin1(host.record.sha256)));
    }
    host.problem = problems.join(QStringLiteral("; "));
}

std::vector<VersionSpread> versionSpread(const std::vector<CaseHost>& hosts)
{
    std::vector<VersionSpread> spread;
    const auto compare = [&](const QString& field, const auto& valueOf) {
        VersionSpread values{field, {}};
        std::map<QString, int> distinct;
        for (const CaseHost& host : hosts)
            if (const std::optional<QString> value = valueOf(host)) {
                values.byHost.emplace_back(host.record.host, *value);
                ++distinct[*value];
            }
        if (distinct.size() > 1)
            spread.push_back(values);
    };
    for (const QString& field : kComparedFields)
        compare(field, [&](const CaseHost& host) -> std::optional<QString> {
            if (!host.package || !host.package->manifest.present)
                return std::nullopt;
            return host.package->manifest.value(field);
        });
    compare(QStringLiteral("ts6satchel"), [](const CaseHost& host) -> std::optional<QString> {
        if (host.record.version.isEmpty())
            return std::nullopt;
        return host.record.version;
    });
    return spread;
}

} // namespace

bool isFolder(const QString& path)
{
    struct stat info
    {};
    return ::stat(HostName::encode(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

CaseReport readCase(const QString& folder, const ReadChoice& choice)
{
    CaseReport report;
    report.folder = folder;
    QFile indexFile(folder + QStringLiteral("/index.json"));
    const QByteArray indexHost = HostName::encode(indexFile.fileName());
    struct stat info
    {};
    if (::lstat(indexHost.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        report.openError = QStringLiteral("%1 holds no index.json: not a case folder").arg(folder);
        return report;
    }
    if (info.st_size > kIndexCap || !indexFile.open(QIODevice::ReadOnly)) {
        report.openError =
            QStringLiteral("cannot read %1: %2")
                .arg(indexFile.fileName(),
                     info.st_size > kIndexCap ? QStringLiteral("too large") : indexFile.errorString());
        return report;
    }
    QString why;
    std::optional<CaseIndex> index = readIndex(indexFile.read(kIndexCap), &why);
    if (!index) {
        report.openError = why;
        return report;
    }
    report.index = std::move(*index);
    for (const HostRecord& record : report.index.hosts) {
        CaseHost& host = report.hosts.emplace_back();
        host.record = record;
        if (Interruption::requested() != 0)
            break;
        if (!record.package.isEmpty())
            readHostPackage(folder, host, choice);
        else if (record.state == HostState::Collected)
            host.problem = QStringLiteral("collected, but the index names no package");
        if (!host.problem.isEmpty())
            report.damage.append(record.host + QStringLiteral(": ") + host.problem);
    }
    report.differences = versionSpread(report.hosts);
    return report;
}
