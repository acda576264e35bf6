#include "cli/UploadCommand.h"

#include "base/ByteSize.h"
#include "delivery/UploadRun.h"

namespace {

using Options = UploadLine;

OptionRow<Options> textOption(const QString& name, const QString& valueName, const QString& help,
                              QString UploadOptions::*field)
{
    return {{{name}, valueName, help}, [field](Options& o, const QString& value, QString*) {
                o.options.*field = value;
                return true;
            }};
}

bool readChunkSize(Options& o, const QString& value, QString* why)
{
    QString unread;
    const std::optional<qint64> bytes = parseByteSize(value, ByteUnits::Binary, &unread);
    if (!bytes || *bytes < kMinChunkBytes || *bytes > kMaxChunkBytes) {
        *why = QStringLiteral("--chunk-size: '%1' is not a size from 64K to 1G (8M, 512K, 1G).").arg(value);
        return false;
    }
    o.options.chunkBytes = *bytes;
    return true;
}

bool checkLine(Options& line, const QStringList&, QString* why)
{
    if (line.operands.size() != 1) {
        *why = line.operands.isEmpty()
                   ? QStringLiteral("give the package or case folder to send.")
                   : QStringLiteral("give one package or case folder, not %1.").arg(line.operands.size());
        return false;
    }
    line.options.target = line.operands.constFirst();
    if (const QString bad = checkServerUrl(line.options.url); !bad.isEmpty()) {
        *why = bad + QLatin1Char('.');
        return false;
    }
    return true;
}

const char kAbout[] =
    "Sends a package, or every file of a case folder, to support's upload server with the tus 1.0\n"
    "resumable-upload protocol. A transfer that is cut off resumes where the server's copy ends:\n"
    "run the same command again. The state of an upload is kept beside the file (FILE.upload, only\n"
    "for its owner) until the server holds the whole file.\n";

const char kEpilogue[] =
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
    "Environment:\n"
    "  TS6_UPLOAD_TOKEN   the bearer token, when no --token-file is given\n"
    "\n"
    "Exit status: 0 every file was sent; 1 a file was not (the reason on standard error; run the\n"
    "same command again to resume); 64 the command line cannot be read.\n";

} // namespace

const Grammar<UploadLine>& uploadGrammar()
{
    static const Grammar<Options> grammar{
        {QStringLiteral("upload"),
         {QStringLiteral("upload PACKAGE|CASEDIR --url URL [OPTION]...")},
         QLatin1String(kAbout),
         QLatin1String(kEpilogue)},
        {
            textOption(QStringLiteral("url"), QStringLiteral("URL"),
                       QStringLiteral("the upload server's address (http or https)"), &UploadOptions::url),
            textOption(
                QStringLiteral("token-file"), QStringLiteral("FILE"),
                QStringLiteral("the bearer token, alone in a file of your own (no link) that only you may "
                               "read; without it the token is taken from TS6_UPLOAD_TOKEN, if set"),
                &UploadOptions::tokenFile),
            textOption(QStringLiteral("cacert"), QStringLiteral("FILE"),
                       QStringLiteral("trust this CA's certificates too (a private CA)"),
                       &UploadOptions::caCert),
            {{{QStringLiteral("chunk-size")},
              QStringLiteral("SIZE"),
              QStringLiteral("bytes a request carries, 64K to 1G (default 8M)")},
             readChunkSize},
            {{{QStringLiteral("json")}, {}, QStringLiteral("print the result as JSON on standard output")},
             [](Options& o, const QString&, QString*) {
                 o.options.json = true;
                 return true;
             }},
        },
        [](Options& o, const QString& target, bool, QString*) {
            o.operands.append(target);
            return true;
        },
        checkLine,
    };
    return grammar;
}

UploadCommand parseUploadArguments(const QStringList& arguments)
{
    return parseCommand(uploadGrammar(), arguments);
}

int uploadVerb(const QStringList& arguments)
{
    return runVerb(uploadGrammar(), arguments,
                   [](const UploadLine& line) { return runUpload(line.options); });
}
