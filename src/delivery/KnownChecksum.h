#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

// A file's SHA-256 as a checksum file beside it gives it (PACKAGE.sha256 of a build with
// --checksum, a case folder's SHA256SUMS): an upload can start at once with it, and checks it by
// reading the file while the bytes go.
struct KnownChecksum
{
    QByteArray sha256{}; // lower-case hex
    QString from{};      // the checksum file
};

// The lines of a checksum file as sha256sum writes them ("HEX  NAME", "HEX *NAME", a leading "\"
// for an escaped name), by name; lines that cannot be read are left out.
std::map<QByteArray, QByteArray> parseChecksumLines(const QByteArray& text);

// What the checksum file says of the file listed there under name; none when it says nothing of it,
// cannot be read, is not the user's own (a link, another's, writable by others), or is older than
// the file's last write, its change time included (it would speak of other bytes).
std::optional<KnownChecksum> knownChecksum(const QString& filePath, const QString& checksumPath,
                                           const QByteArray& name);
