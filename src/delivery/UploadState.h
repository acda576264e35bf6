#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/stat.h>

// The file an upload sends, as it was when the upload began: a file that differs since is a new
// upload.
struct SentIdentity
{
    qint64 size = 0;
    qint64 modifiedNs = 0; // the modification time, in nanoseconds since the epoch
    qint64 changedNs = 0;  // the status change time: moved by every write and by setting a time back
    quint64 device = 0;
    quint64 inode = 0;
    QByteArray sha256{}; // lower-case hex

    // The same bytes: a file touched since, or copied with its bytes, is still the same upload.
    bool sameBytes(const SentIdentity& other) const { return size == other.size && sha256 == other.sha256; }
    // The very file, unchanged since: the same inode of the same device, of the same size and times.
    // A file written in place and given its old modification time back is not, as its change time
    // cannot be set back.
    bool sameFile(const SentIdentity& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
};

// The identity of the file with this status, its SHA-256 not yet known.
SentIdentity identityOf(const struct stat& status);

// What a later run needs to resume: where the server keeps the upload and what was being sent.
// Kept beside the file as FILE.upload, readable by its owner only. It never holds the token.
struct UploadState
{
    QString endpoint{}; // the server's creation address
    QString location{}; // the upload's own address
    SentIdentity file{};
};

QString uploadStatePath(const QString& filePath);

// The state kept for the file, or none when there is none, it cannot be read as one, or it is not a
// plain file of this user's that only this user may change (one planted by another is never taken:
// it says where the token goes).
std::optional<UploadState> readUploadState(const QString& statePath);
// Writes the state whole (a reader sees the old one or the new one), mode 0600; false, with the
// reason, when it could not be written.
bool writeUploadState(const QString& statePath, const UploadState& state, QString* why);
