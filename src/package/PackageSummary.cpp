#include "package/PackageSummary.h"

#include "base/PackageFormat.h"
#include "platform/FileReplacement.h"

#include "base/CHandle.h"
#include "base/RuntimeError.h"
#include "base/SystemError.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace {

// A line of sha256sum: the hash, two blanks, the name; a name holding "\" or a line break has them
// escaped, and the line begins with "\".
QByteArray checksumLine(const QByteArray& sha256, const QByteArray& name)
{
    QByteArray escaped = name;
    escaped.replace('\\', "\\\\").replace('\n', "\\n");
    return (escaped == name ? QByteArray() : QByteArray("\\")) + sha256 + "  " + escaped + '\n';
}

} // namespace

QByteArray summaryJson(const RunSummary& summary)
{
    QJsonArray skipped;
    for (const PackageReport::LeftOut& file : summary.report.leftOut)
        skipped.append(QJsonObject{
            {QStringLiteral("path"), file.hostPath.isEmpty() ? HostPath::toHost(file.path) : file.hostPath},
            {QStringLiteral("reason"), file.reason}});
    QJsonArray redacted;
    for (const PackageReport::Masked& file : summary.report.masked) {
        QJsonObject entry{{QStringLiteral("path"), HostPath::toHost(file.path)},
                          {QStringLiteral("entry"), file.entry},
                          {QStringLiteral("count"), file.values}};
        if (file.names > 0)
            entry.insert(QStringLiteral("names"), file.names);
        redacted.append(entry);
    }
    const bool wrote = summary.package.has_value();
    const QJsonObject object{
        {PackageFormat::kSummaryPackage, wrote ? QJsonValue(*summary.package) : QJsonValue()},
        {PackageFormat::kSummaryBytes, wrote ? QJsonValue(summary.bytes) : QJsonValue()},
        {PackageFormat::kSummarySha256,
         wrote ? QJsonValue(QString::fromLatin1(summary.sha256)) : QJsonValue()},
        {QStringLiteral("entries"), wrote ? QJsonValue(summary.report.entries) : QJsonValue()},
        {QStringLiteral("skipped"), skipped},
        {QStringLiteral("redacted"), redacted},
        {QStringLiteral("names"),
         summary.report.namesFile.isEmpty() ? QJsonValue() : QJsonValue(summary.report.namesFile)},
        {QStringLiteral("seconds"), qRound64(summary.seconds * 1000) / 1000.0},
        {QStringLiteral("status"), summary.status},
        {PackageFormat::kSummaryReason, summary.reason.isEmpty() ? QJsonValue() : QJsonValue(summary.reason)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

void checkChecksumFileName(const QString& packageHostPath)
{
    const QString shown = packageHostPath + QStringLiteral(".sha256");
    const auto refuse = [&](const QString& why) {
        raiseError(ErrorNumber::DeviceIoError,
                   QStringLiteral("Cannot write the checksum %1: %2").arg(shown, why));
    };
    if (HostName::encode(shown.section(QLatin1Char('/'), -1)).size() > NAME_MAX)
        refuse(errnoText(ENAMETOOLONG));
    // A named pipe or a device at its name is never replaced.
    if (HostName::isOtherThanRegularFile(shown))
        refuse(QStringLiteral("not a regular file"));
}

QString writeChecksumFile(const QString& packageHostPath, const QByteArray& sha256)
{
    const QByteArray package = HostName::encode(packageHostPath);
    const QByteArray target = package + ".sha256";
    const qsizetype cut = package.lastIndexOf('/');
    const QString shown = packageHostPath + QStringLiteral(".sha256");
    const auto fail = [&](int error) {
        raiseError(ErrorNumber::DeviceIoError,
                   QStringLiteral("Cannot write the checksum %1: %2").arg(shown, errnoText(error)));
    };
    checkChecksumFileName(packageHostPath);
    if (const int error = replaceFile(target, checksumLine(sha256, package.mid(cut + 1)), 0666); error != 0)
        fail(error);
    return shown;
}
