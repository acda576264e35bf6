#include "delivery/UploadState.h"

#include "platform/FileReplacement.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

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
    QFile file(statePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(file.read(kMaxStateBytes)).object();
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
