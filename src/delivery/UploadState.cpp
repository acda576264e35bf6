#include "delivery/UploadState.h"

#include "base/CHandle.h"
#include "platform/FileReplacement.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr qint64 kMaxStateBytes = 64 << 10;

} // namespace

QString uploadStatePath(const QString& filePath)
{
    return filePath + QStringLiteral(".upload");
}

std::optional<UploadState> readUploadState(const QString& statePath)
{
    // Never through a link, never blocking on a FIFO, and only a file of this user's that no one
    // else may change: the state says where the token goes.
    const UniqueFd fd(::open(QFile::encodeName(statePath).constData(),
                             O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat info
    {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 || info.st_size > kMaxStateBytes)
        return std::nullopt;
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    if (::pread(fd.get(), bytes.data(), size_t(bytes.size()), 0) != ssize_t(bytes.size()))
        return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(bytes).object();
    UploadState state;
    state.endpoint = o.value(QStringLiteral("endpoint")).toString();
    state.location = o.value(QStringLiteral("location")).toString();
    state.file.size = qint64(o.value(QStringLiteral("size")).toDouble(-1));
    state.file.modifiedNs = o.value(QStringLiteral("modified_ns")).toString().toLongLong();
    state.file.sha256 = o.value(QStringLiteral("sha256")).toString().toLatin1();
    if (state.endpoint.isEmpty() || state.location.isEmpty() || state.file.size < 0 ||
        state.file.sha256.size() != 64)
        return std::nullopt;
    return state;
}

QString writeUploadState(const QString& statePath, const UploadState& state)
{
    const QJsonObject o{
        {QStringLiteral("endpoint"), state.endpoint},
        {QStringLiteral("location"), state.location},
        {QStringLiteral("size"), double(state.file.size)},
        // As text: a double cannot hold every nanosecond.
        {QStringLiteral("modified_ns"), QString::number(state.file.modifiedNs)},
        {QStringLiteral("sha256"), QString::fromLatin1(state.file.sha256)},
    };
    const int error =
        replaceFile(QFile::encodeName(statePath), QJsonDocument(o).toJson(), 0600, mode_t(0600));
    return error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error));
}
