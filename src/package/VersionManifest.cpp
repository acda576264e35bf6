#include "package/VersionManifest.h"

#include "base/CHandle.h"
#include "base/RuntimeError.h"
#include "base/SystemError.h"
#include "catalogue/PathHelpers.h"
#include "outside/HostFunctions.h"
#include "platform/HostName.h"
#include "settings/AppConfig.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kCannotWrite = 61; // "Disk full" and other write failures

} // namespace

QByteArray versionManifestText(const QStringList& packageFiles, AppConfig& config)
{
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
    return text.toUtf8();
}

QByteArray WriteVersionManifest(const QString& manifestPath, const QStringList& packageFiles,
                                AppConfig& config)
{
    QByteArray bytes = versionManifestText(packageFiles, config);
    placeFile(manifestPath, bytes, QStringLiteral("WriteVersionManifest"));
    return bytes;
}

void placeFile(const QString& path, const QByteArray& bytes, const QString& source)
{
    const std::optional<QString> host = Host::hostPathForWriting(path);
    if (!host)
        raiseError(ErrorNumber::PathNotFound, QStringLiteral("Path not found: ") + path, source);
    const QByteArray target = HostName::encode(*host);
    const qsizetype cut = target.lastIndexOf('/');
    QByteArray temp = target.left(cut + 1) + '.' + target.mid(cut + 1) + ".XXXXXX";
    UniqueFd fd(::mkstemp(temp.data()));
    if (!fd)
        raiseError(ErrorNumber::PermissionDenied,
                   QStringLiteral("Cannot create ") + path + QStringLiteral(": ") + errnoText(errno), source);
    int error = writeAll(fd.get(), bytes);
    if (!fd.close() && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.constData());
        raiseError(kCannotWrite,
                   QStringLiteral("Cannot write ") + path + QStringLiteral(": ") + errnoText(error), source);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        error = errno;
        ::unlink(temp.constData());
        raiseError(ErrorNumber::PermissionDenied,
                   QStringLiteral("Cannot create ") + path + QStringLiteral(": ") + errnoText(error), source);
    }
}
