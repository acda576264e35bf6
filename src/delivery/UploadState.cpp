#include "delivery/UploadState.h"

#include "platform/FileReplacement.h"
#include "platform/OwnFiles.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include <cstring>

namespace {

constexpr qint64 kMaxStateBytes = 64 << 10;

qint64 nanoseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

SentIdentity identityOf(const struct stat& status)
{
    return {qint64(status.st_size), nanoseconds(status.st_mtim), nanoseconds(status.st_ctim),
            quint64(status.st_dev), quint64(status.st_ino),      QByteArray()};
}

QString uploadStatePath(const QString& filePath)
{
    return filePath + QStringLiteral(".upload");
}

std::optional<UploadState> readUploadState(const QString& statePath)
{
    // Never through a link, never blocking on a FIFO, and only a file of this user's that no one
    // else may change: the state says where the token goes.
    const std::optional<QByteArray> bytes = OwnFiles::readOwnFile(statePath, kMaxStateBytes, nullptr);
    if (!bytes)
        return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(*bytes).object();
    UploadState state;
    state.endpoint = o.value(QStringLiteral("endpoint")).toString();
    state.location = o.value(QStringLiteral("location")).toString();
    state.file.size = qint64(o.value(QStringLiteral("size")).toDouble(-1));
    state.file.modifiedNs = o.value(QStringLiteral("modified_ns")).toString().toLongLong();
    state.file.changedNs = o.value(QStringLiteral("changed_ns")).toString().toLongLong();
    state.file.device = o.value(QStringLiteral("device")).toString().toULongLong();
    state.file.inode = o.value(QStringLiteral("inode")).toString().toULongLong();
    state.file.sha256 = o.value(QStringLiteral("sha256")).toString().toLatin1();
    if (state.endpoint.isEmpty() || state.location.isEmpty() || state.file.size < 0 ||
        state.file.sha256.size() != 64)
        return std::nullopt;
    return state;
}

bool writeUploadState(const QString& statePath, const UploadState& state, QString* why)
{
    const QJsonObject o{
        {QStringLiteral("endpoint"), state.endpoint},
        {QStringLiteral("location"), state.location},
        {QStringLiteral("size"), double(state.file.size)},
        // As text: a double cannot hold every nanosecond.
        {QStringLiteral("modified_ns"), QString::number(state.file.modifiedNs)},
        {QStringLiteral("changed_ns"), QString::number(state.file.changedNs)},
        {QStringLiteral("device"), QString::number(state.file.device)},
        {QStringLiteral("inode"), QString::number(state.file.inode)},
        {QStringLiteral("sha256"), QString::fromLatin1(state.file.sha256)},
    };
    const int error =
        replaceFile(QFile::encodeName(statePath), QJsonDocument(o).toJson(), 0600, mode_t(0600));
    if (error != 0) {
        *why = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    return true;
}
