#pragma once

#include <QByteArray>
#include <QString>

// What "ts6satchel upload" is asked to do.
struct UploadOptions
{
    QString target{};    // a package, or a case folder whose files all go
    QString url{};       // the server's creation address
    QString tokenFile{}; // a file holding the bearer token (only its owner may read it)
    QString caCert{};    // a private CA's certificates, besides the system's store
    qint64 chunkBytes = qint64(8) << 20;
    bool json = false; // the result on standard output
};

// The smallest and largest chunk a PATCH carries.
inline constexpr qint64 kMinChunkBytes = qint64(64) << 10;
inline constexpr qint64 kMaxChunkBytes = qint64(1) << 30;

// Whether the URL can be an upload server's: http or https with a host, and nothing that would
// make a request line of it (blanks, control characters).
QString checkServerUrl(const QString& url);

// The bearer token: from the token file when one is named, otherwise from TS6_UPLOAD_TOKEN
// (environment given), or empty when neither is. A token file others may read, or a token that
// could not be a header's value, is refused with the reason in error; the reason never holds the
// token.
QByteArray readToken(const QString& tokenFile, const QByteArray& environmentToken, QString* error);
