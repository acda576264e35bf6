#include "delivery/UploadOptions.h"

#include "base/CHandle.h"
#include "base/SystemError.h"
#include "platform/OwnFiles.h"

#include <QFile>
#include <QStringList>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr qsizetype kMaxTokenBytes = 16 << 10;

// Whether every byte is a visible ASCII character: what a bearer token may hold, and nothing that
// would end or add a header line.
bool isTokenText(const QByteArray& token)
{
    return !token.isEmpty() &&
           std::all_of(token.cbegin(), token.cend(), [](char c) { return c > 0x20 && c < 0x7f; });
}

QByteArray withoutFinalNewline(QByteArray text)
{
    if (text.endsWith('\n'))
        text.chop(1);
    if (text.endsWith('\r'))
        text.chop(1);
    return text;
}

// The URL as typed, for a message, without the user and password it may name: the text between
// "://" and the last "@" before the path. Read as text, so that a URL that cannot be read as one
// shows its password no more than one that can.
QString withoutCredentials(const QString& url)
{
    const qsizetype scheme = url.indexOf(QLatin1String("://"));
    if (scheme < 0)
        return url;
    const qsizetype start = scheme + 3;
    qsizetype end = start;
    while (end < url.size() && !QStringLiteral("/?#").contains(url[end]))
        ++end;
    const qsizetype at = url.lastIndexOf(QLatin1Char('@'), end - 1);
    return at >= start ? url.left(start) + url.mid(at + 1) : url;
}

} // namespace

QString checkServerUrl(const QString& url)
{
    const QUrl read(url, QUrl::StrictMode);
    if (url.isEmpty())
        return QStringLiteral("--url: give the upload server's address (https://...)");
    const bool http = read.scheme() == QLatin1String("http") || read.scheme() == QLatin1String("https");
    const bool plain = std::none_of(url.cbegin(), url.cend(),
                                    [](QChar c) { return c.unicode() <= 0x20 || c.unicode() == 0x7f; });
    if (!read.isValid() || !http || read.host().isEmpty() || !plain)
        return QStringLiteral("--url: '%1' is not an http or https address").arg(withoutCredentials(url));
    return QString();
}

QByteArray readToken(const QString& tokenFile, const QByteArray& environmentToken, QString* error)
{
    error->clear();
    if (tokenFile.isEmpty()) {
        if (!environmentToken.isEmpty() && !isTokenText(environmentToken)) {
            *error = QStringLiteral("TS6_UPLOAD_TOKEN holds a character a token cannot have (a blank, a line "
                                    "break or a control character)");
            return {};
        }
        return environmentToken;
    }
    // The user's own plain file, no link: another user's file would choose the account the package
    // goes to. Not blocking: a FIFO named as the token file must not hold the run.
    QString why;
    const UniqueFd fd = OwnFiles::openOwnFile(tokenFile, O_RDONLY | O_NOCTTY, &why);
    if (!fd) {
        *error = QStringLiteral("cannot read the token file: %1").arg(why);
        return {};
    }
    struct stat info = {};
    if (::fstat(fd.get(), &info) != 0) {
        *error = QStringLiteral("cannot read the token file %1: %2").arg(tokenFile, errnoText(errno));
        return {};
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        *error = QStringLiteral("the token file %1 may be read or changed by others than its owner; make it "
                                "private with: chmod 600 %1")
                     .arg(tokenFile);
        return {};
    }
    QByteArray read(kMaxTokenBytes + 1, Qt::Uninitialized);
    const ssize_t got = ::pread(fd.get(), read.data(), size_t(read.size()), 0);
    read.truncate(std::max<qsizetype>(got, 0));
    const QByteArray token = withoutFinalNewline(read);
    if (read.size() > kMaxTokenBytes || !isTokenText(token)) {
        *error =
            QStringLiteral("the token file %1 holds no token on one line (it is empty, longer than 16 KiB, "
                           "or has a blank, a second line or a control character)")
                .arg(tokenFile);
        return {};
    }
    return token;
}
