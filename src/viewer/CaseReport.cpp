#include "viewer/CaseReport.h"

#include "base/SystemError.h"
#include "platform/Descriptors.h"
#include "platform/HostName.h"
#include "platform/StopToken.h"

#include <map>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString CaseHost::shownState() const
{
    if (record.state == HostState::Collected &&
        !(package && package->readable() && !package->entries.empty()))
        return QStringLiteral("package not read");
    return stateName(record.state);
}

namespace {

constexpr qint64 kIndexCap = qint64(16) << 20; // some ten thousand hosts

// The fields of the version manifests worth comparing between hosts: the product's version and
// where it is installed. The computer and user names differ by nature.
const QStringList kComparedFields = {QStringLiteral("Version"), QStringLiteral("Install Path"),
                                     QStringLiteral("Data Path"), QStringLiteral("Shared Path")};

// The package the index names, when the name stays inside the case folder: an index is read as it
// came, and a name that leads elsewhere is never followed. Another spelling of a name inside the
// case ("a/./b", "a//b") is opened beneath the case like any other.
std::optional<QString> packagePath(const QString& folder, const QString& relative, QString* why)
{
    const QStringList parts = relative.split(QLatin1Char('/'));
    if (relative.startsWith(QLatin1Char('/')) || parts.contains(QStringLiteral(".."))) {
        *why = QStringLiteral("the index names its package as %1, outside the case folder; not followed")
                   .arg(relative);
        return std::nullopt;
    }
    return folder + QLatin1Char('/') + relative;
}

// The file an index names, opened from the case folder down without following a link anywhere on
// the way: every folder on the way a folder of the case, the file itself a regular one. An index is
// read as it came, and nothing it names leads out of the case. Empty, with the reason, when the
// file is refused or missing (and then missing set).
UniqueFd openInCase(int caseFolder, const QString& relative, struct stat* status, QString* problem,
                    bool* missing = nullptr)
{
    UniqueFd fd = Descriptors::openBeneath(caseFolder, HostName::encode(relative), O_RDONLY | O_NONBLOCK);
    if (!fd) {
        const int error = errno;
        if (missing)
            *missing = error == ENOENT;
        *problem = error == ELOOP ? QStringLiteral("%1 is reached through a link; not followed").arg(relative)
                   : error == ENOENT ? QStringLiteral("%1 is missing").arg(relative)
                   : error == EXDEV
                       ? QStringLiteral("%1 leads outside the case folder; not followed").arg(relative)
                       : QStringLiteral("%1 cannot be opened: %2").arg(relative, errnoText(error));
        return {};
    }
    if (::fstat(fd.get(), status) != 0 || !S_ISREG(status->st_mode)) {
        *problem = QStringLiteral("%1 is not a plain file").arg(relative);
        return {};
    }
    return fd;
}

// A package's identity on disk: two names for one file (a second spelling, a hard link) are one
// package.
using FileId = std::pair<dev_t, ino_t>;

// Reads the package a host's record names, once: a package that an earlier host's record names
// too is not read again, and the second naming is told as the problem it is (collect gives every
// host a package of its own).
void readHostPackage(const QString& folder, int caseFolder, CaseHost& host, const ReadChoice& choice,
                     std::map<FileId, QString>& read)
{
    const std::optional<QString> path = packagePath(folder, host.record.package, &host.problem);
    if (!path)
        return;
    struct stat status
    {};
    QString why;
    const UniqueFd fd = openInCase(caseFolder, host.record.package, &status, &why);
    if (!fd) {
        host.problem = QStringLiteral("its package ") + why;
        return;
    }
    const auto [first, added] = read.try_emplace(FileId{status.st_dev, status.st_ino}, host.record.host);
    if (!added) {
        host.problem = QStringLiteral("its package %1 is the one the index names for %2; read once, for %2")
                           .arg(host.record.package, first->second);
        return;
    }
    // Read through the descriptor just opened, so that what was checked is what is read.
    host.package = readPackage(
        QStringLiteral("/proc/self/fd/%1").arg(fd.get()),
        {.checkData = choice.checkData, .checkDigest = false, .budget = choice.budget, .stop = choice.stop});
    host.package->path = *path;
    const PackageFindings& package = *host.package;
    if (!package.readable()) {
        host.problem = QStringLiteral("its package cannot be read: ") + package.openError;
        return;
    }
    QStringList problems;
    if (!package.damage.isEmpty())
        problems.append(QStringLiteral("its package is damaged: ") + package.damage.constFirst());
    if (choice.checkDigest && !host.record.sha256.isEmpty()) {
        const std::optional<QByteArray> sha256 = packageSha256(*package.zip, &why);
        if (!sha256)
            problems.append(why);
        else if (*sha256 != host.record.sha256.toLower())
            problems.append(QStringLiteral("its package's SHA-256 is %1, the index says %2")
                                .arg(QString::fromLatin1(*sha256), QString::fromLatin1(host.record.sha256)));
    }
    host.problem = problems.join(QStringLiteral("; "));
}

// The case's index.json, read through the case folder's descriptor: no link, a regular file, of a
// size an index can have. None, with the reason, when it is not there or is refused.
std::optional<QByteArray> readIndexFile(const QString& folder, int caseFolder, QString* why)
{
    struct stat status
    {};
    QString problem;
    bool missing = false;
    const UniqueFd fd = openInCase(caseFolder, QStringLiteral("index.json"), &status, &problem, &missing);
    if (!fd) {
        *why = missing ? QStringLiteral("%1 holds no index.json: not a case folder").arg(folder)
                       : QStringLiteral("%1: %2").arg(folder, problem);
        return std::nullopt;
    }
    if (status.st_size > kIndexCap) {
        *why = QStringLiteral("cannot read %1/index.json: too large").arg(folder);
        return std::nullopt;
    }
    QByteArray bytes(qsizetype(status.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *why = QStringLiteral("cannot read %1/index.json: %2").arg(folder, errnoText(errno));
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got > status.st_size) { // it grew while it was read
        *why = QStringLiteral("cannot read %1/index.json: it changed while it was read").arg(folder);
        return std::nullopt;
    }
    bytes.truncate(got);
    return bytes;
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

CaseReport readCase(const QString& folder, const ReadChoice& given)
{
    // The case's packages are held together: one budget for all of them.
    ReadChoice choice = given;
    if (!choice.budget)
        choice.budget = std::make_shared<ReadBudget>();
    if (!choice.stop)
        choice.stop = std::make_shared<const StopToken>();
    CaseReport report;
    report.folder = folder;
    const UniqueFd caseFolder(
        ::open(HostName::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!caseFolder) {
        report.openError = QStringLiteral("cannot open %1: %2").arg(folder, errnoText(errno));
        return report;
    }
    const std::optional<QByteArray> indexText = readIndexFile(folder, caseFolder.get(), &report.openError);
    if (!indexText)
        return report;
    QString why;
    std::optional<CaseIndex> index = readIndex(*indexText, &why);
    if (!index) {
        report.openError = why;
        return report;
    }
    report.index = std::move(*index);
    std::map<FileId, QString> read;
    for (const HostRecord& record : report.index.hosts) {
        CaseHost& host = report.hosts.emplace_back();
        host.record = record;
        if (choice.stop->stopRequested())
            break;
        if (!record.package.isEmpty())
            readHostPackage(folder, caseFolder.get(), host, choice, read);
        else if (record.state == HostState::Collected)
            host.problem = QStringLiteral("collected, but the index names no package");
        if (!host.problem.isEmpty())
            report.damage.append(record.host + QStringLiteral(": ") + host.problem);
    }
    report.differences = versionSpread(report.hosts);
    return report;
}
