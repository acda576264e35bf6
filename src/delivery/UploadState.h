#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The file an upload sends, as it was when the upload began: a file that differs since is a new
// upload.
struct FileIdentity
{
    qint64 size = 0;
    qint64 modifiedNs = 0; // the modification time, in nanoseconds since the epoch
    QByteArray sha256{};   // lower-case hex

    // The same bytes: a file touched since, or copied with its bytes, is still the same upload.
    bool sameBytes(const FileIdentity& other) const { return size == other.size && sha256 == other.sha256; }
};

// What a later run needs to resume: where the server keeps the upload and what was being sent.
// Kept beside the file as FILE.upload, readable by its owner only. It never holds the token.
struct UploadState
{
    QString endpoint{}; // the server's creation address
    QString location{}; // the upload's own address
    FileIdentity file{};
};

QString uploadStatePath(const QString& filePath);

// The state kept for the file, or none when there is none, it cannot be read as one, or it is not a
// plain file of this user's that only this user may change.
std::optional<UploadState> readUploadState(const QString& statePath);
// Writes the state whole (a reader sees the old one or the new one), mode 0600; the reason when
// it could not be written.
QString writeUploadState(const QString& statePath, const UploadState& state);
