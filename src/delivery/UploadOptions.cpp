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

using Action = UploadCommand::Action;

constexpr qsizetype kMaxTokenBytes = 16 << 10;

constexpr auto usageError = &UploadCommand::usageError;

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

qint64 parseByteSize(const QString& text)
{
    static const QString units = QStringLiteral("KMG");
    QString digits = text.trimmed().toUpper();
    int shift = 0;
    if (!digits.isEmpty() && units.contains(digits.back())) {
        shift = 10 * (int(units.indexOf(digits.back())) + 1);
        digits.chop(1);
    }
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (!ok || number <= 0 || number > (qint64(1) << (62 - shift)))
        return -1;
    return number << shift;
}

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

UploadCommand parseUploadArguments(const QStringList& arguments)
{
    UploadCommand command;
    UploadOptions& o = command.options;
    QStringList targets;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            targets << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = argument;
        QString value;
        bool hasValue = false;
        if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
            hasValue = true;
        }
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            command.action = Action::Help;
            return command;
        }
        if (name == QLatin1String("--json")) {
            if (hasValue)
                return usageError(QStringLiteral("--json takes no value"));
            o.json = true;
            continue;
        }
        static const QStringList valued{QStringLiteral("--url"), QStringLiteral("--token-file"),
                                        QStringLiteral("--cacert"), QStringLiteral("--chunk-size")};
        if (!valued.contains(name))
            return usageError(QStringLiteral("unknown option %1").arg(name));
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                return usageError(QStringLiteral("%1 needs a value").arg(name));
            value = arguments.at(++i);
        }
        if (name == QLatin1String("--url"))
            o.url = value;
        else if (name == QLatin1String("--token-file"))
            o.tokenFile = value;
        else if (name == QLatin1String("--cacert"))
            o.caCert = value;
        else if (const qint64 bytes = parseByteSize(value); bytes < kMinChunkBytes || bytes > kMaxChunkBytes)
            return usageError(
                QStringLiteral("--chunk-size: '%1' is not a size from 64K to 1G (8M, 512K, 1G)").arg(value));
        else
            o.chunkBytes = bytes;
    }
    if (targets.size() != 1)
        return usageError(
            targets.isEmpty()
                ? QStringLiteral("give the package or case folder to send")
                : QStringLiteral("give one package or case folder, not %1").arg(targets.size()));
    o.target = targets.front();
    if (const QString bad = checkServerUrl(o.url); !bad.isEmpty())
        return usageError(bad);
    return command;
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

QString uploadUsageHint()
{
    return QStringLiteral(
        "Usage: ts6satchel upload PACKAGE|CASEDIR --url URL [--token-file FILE] [--cacert FILE] "
        "[--chunk-size SIZE] [--json]\n"
        "'ts6satchel upload --help' says more.\n");
}

QString uploadHelpText()
{
    return QStringLiteral(
        "Usage: ts6satchel upload PACKAGE|CASEDIR --url URL [OPTIONS]\n"
        "\n"
        "Sends a package, or every file of a case folder, to support's upload server with the tus 1.0\n"
        "resumable-upload protocol. A transfer that is cut off resumes where the server's copy ends:\n"
        "run the same command again. The state of an upload is kept beside the file (FILE.upload, only\n"
        "for its owner) until the server holds the whole file.\n"
        "\n"
        "Options:\n"
        "  --url URL          the upload server's address (http or https)\n"
        "  --token-file FILE  the bearer token, alone in a file of your own (no link) that only\n"
        "                     you may read;\n"
        "                     without it the token is taken from TS6_UPLOAD_TOKEN, if set\n"
        "  --cacert FILE      trust this CA's certificates too (a private CA)\n"
        "  --chunk-size SIZE  bytes a request carries, 64K to 1G (default 8M)\n"
        "  --json             print the result as JSON on standard output\n"
        "  -h, --help         show this help\n"
        "\n"
        "Proxies are taken from the environment (https_proxy, http_proxy, no_proxy); the system's\n"
        "CA store is trusted. A request that fails on the network or with a server error is tried\n"
        "up to 5 times, waiting 1, 2, 4 and 8 s between tries; a server whose offset makes no\n"
        "headway ends the upload.\n"
        "\n"
        "A token, or a user and password in the URL (sent as basic authentication, never written to\n"
        "a file), goes over https, or over plain http only to this machine (127.0.0.0/8, ::1,\n"
        "localhost). What the server says is shown with them replaced by ********. A case folder is\n"
        "sent only when its files and folders are your own and no one else may write them.\n"
        "\n"
        "Exit status: 0 every file was sent; 1 a file was not (the reason on standard error; run the\n"
        "same command again to resume); 64 the command line could not be read.\n");
}
