#include "package/VersionManifest.h"

#include "catalogue/PathHelpers.h"
#include "diag/RuntimeError.h"
#include "outside/HostFunctions.h"
#include "settings/AppConfig.h"

#include <QFile>

namespace {

const QString kSource = QStringLiteral("WriteVersionManifest");

} // namespace

void WriteVersionManifest(const QString& manifestPath, const QStringList& packageFiles, AppConfig& config)
{
    const std::optional<QString> host = Host::HostPathForWriting(manifestPath);
    if (!host)
        Raise(ErrorNumber::PathNotFound, QStringLiteral("Path not found: ") + manifestPath, kSource);
    QFile file(*host);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Raise(ErrorNumber::PermissionDenied,
              QStringLiteral("Cannot create ") + manifestPath + QStringLiteral(": ") + file.errorString(),
              kSource);
    QString text;
    const auto line = [&text](const QString& content) { text += content + QStringLiteral("\r\n"); };
    const QString version =
        ReadFileVersion(JoinPath(QStringLiteral("\\"), {config.InstallPath(), QStringLiteral("TS6.EXE")}));
    line(QStringLiteral("Version: ") + version);
    line(QStringLiteral("Install Path: ") + config.InstallPath());
    line(QStringLiteral("Data Path: ") + config.DataPath());
    line(QStringLiteral("Shared Path: ") + config.SharedPath());
    line(QStringLiteral("Computer Name: ") + qEnvironmentVariable("COMPUTERNAME"));
    line(QStringLiteral("User Name: ") + qEnvironmentVariable("USERNAME"));
    line(QStringLiteral("Files:  "));
    for (qsizetype k = 0; k < packageFiles.size(); ++k)
        line(QLatin1Char(' ') + QString::number(k + 1) + QStringLiteral("  ") + packageFiles.at(k));
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush())
        Raise(61, QStringLiteral("Cannot write ") + manifestPath + QStringLiteral(": ") + file.errorString(),
              kSource);
    file.close();
    if (file.error() != QFileDevice::NoError)
        Raise(61, QStringLiteral("Cannot write ") + manifestPath + QStringLiteral(": ") + file.errorString(),
              kSource);
}
