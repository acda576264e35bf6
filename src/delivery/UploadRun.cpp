// "ts6satchel upload" from its arguments to its exit status, and the steps the window's upload
// shares with it.
//
// A run first settles its connection (uploadConnection): the URL read and stripped of its user and
// password, the token read, a secret refused over plain http to anything but this machine, and the
// process made not dumpable once it holds one. Then the files (uploadSources): a package as named,
// or a case folder's plain files, taken only when the folder, its folders and its files are the
// user's own. UploadSession sends them one by one through FileUpload over one TusClient, reading
// the case's record of files sent whole before and writing it after each file. Everything runs on
// the calling thread; only the client's stop token may be requested from another (the window's Cancel).
#include "delivery/UploadRun.h"

#include "base/ByteSize.h"
#include "base/CHandle.h"
#include "base/CleanJson.h"
#include "base/ExitStatus.h"
#include "base/ShownText.h"
#include "base/SystemError.h"
#include "platform/FileReplacement.h"
#include "platform/OwnFiles.h"
#include "platform/TerminalLine.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 kRedrawNs = 100'000'000;

void say(const QString& text)
{
    std::fputs(qPrintable(QStringLiteral("ts6satchel: %1\n").arg(shownText(text))), stderr);
}

QString shown(const QString& url)
{
    return withoutUserInfo(url);
}

// The case's own files go last, in this order: the index, then the sums of the packages.
int closingRank(const QString& relative)
{
    static const QStringList last{QStringLiteral("index.json"), QStringLiteral("index.txt"),
                                  QStringLiteral("SHA256SUMS")};
    return int(last.indexOf(relative)) + 1;
}

// What a case folder keeps of its files sent whole, so that a run again sends only the rest: one
// line a file, "ENDPOINT<tab>PATH<tab>SIZE<tab>SHA256<tab>LOCATION<tab>DEVICE<tab>INODE<tab>
// MODIFIED_NS<tab>CHANGED_NS" (an older record's lines end after LOCATION). Hidden, never sent
// itself.
const QString kSentRecord = QStringLiteral(".upload-sent");
constexpr qint64 kMaxRecordBytes = 16 << 20;

QString relativeInCase(const UploadSource& source)
{
    return source.relativePath.section(u'/', 1);
}

struct SentLine
{
    QString endpoint;
    QString relative;
    SentBefore sent;
    bool operator==(const SentLine& o) const
    {
        return endpoint == o.endpoint && relative == o.relative && sent.location == o.sent.location &&
               sent.file.sameBytes(o.sent.file) && sent.file.sameFile(o.sent.file);
    }
};

// The record of a case folder: none when there is none yet; when it is not the user's own (another
// could have written or planted it) it is not taken, every file it names is sent again, and note
// says so.
std::vector<SentLine> readSentRecord(const QString& path, QString* note)
{
    struct stat status
    {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    QString why;
    const std::optional<QByteArray> text = OwnFiles::readOwnFile(path, kMaxRecordBytes, &why);
    if (!text) {
        *note = QStringLiteral("%1; the files it lists are sent again").arg(why);
        return {};
    }
    std::vector<SentLine> lines;
    for (const QByteArray& line : text->split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != 5 && f.size() != 9)
            continue;
        SentLine read{QString::fromUtf8(f[0]), QString::fromUtf8(f[1]), {{}, QString::fromUtf8(f[4])}};
        read.sent.file.size = f[2].toLongLong();
        read.sent.file.sha256 = f[3];
        if (f.size() == 9) {
            read.sent.file.device = f[5].toULongLong();
            read.sent.file.inode = f[6].toULongLong();
            read.sent.file.modifiedNs = f[7].toLongLong();
            read.sent.file.changedNs = f[8].toLongLong();
        }
        lines.push_back(read);
    }
    return lines;
}

QString writeSentRecord(const QString& path, const std::vector<SentLine>& lines)
{
    QByteArray text;
    for (const SentLine& l : lines) {
        const SentIdentity& f = l.sent.file;
        text += l.endpoint.toUtf8() + '\t' + l.relative.toUtf8() + '\t' + QByteArray::number(f.size) + '\t' +
                f.sha256 + '\t' + l.sent.location.toUtf8() + '\t' + QByteArray::number(f.device) + '\t' +
                QByteArray::number(f.inode) + '\t' + QByteArray::number(f.modifiedNs) + '\t' +
                QByteArray::number(f.changedNs) + '\n';
    }
    const int error = replaceFile(QFile::encodeName(path), text, 0600, mode_t(0600));
    return error == 0 ? QString() : errnoText(error);
}

// Makes the process not dumpable: no core dump holds the secret it is about to read, and no other
// process of the user's may trace it or read its memory. For the rest of its life: the secret's
// bytes are freed later but not wiped.
void keepOutOfCoreDumps()
{
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

QString untrustedInCase(const QString& path, const QString& reason)
{
    return QStringLiteral("%1 is not taken: %2; a case folder is sent only when its files and folders are "
                          "your own and no one else may write them")
        .arg(path, reason);
}

// The first name in the folder that is not UTF-8, as far as it can be shown, or empty: such a file
// cannot be named again to be sent, and Qt's listing passes over it.
QString nameNotUtf8(const QString& folder)
{
    const unique_c_ptr<DIR, ::closedir> dir(::opendir(QFile::encodeName(folder).constData()));
    while (dir) {
        const dirent* entry = ::readdir(dir.get());
        if (!entry)
            break;
        const QByteArray name(entry->d_name);
        if (QString::fromUtf8(name).toUtf8() != name)
            return QString::fromUtf8(name);
    }
    return QString();
}

bool isHidden(const QString& relative)
{
    return relative.startsWith(QLatin1Char('.')) || relative.contains(QLatin1String("/."));
}

// Why an entry of a case folder is not sent, or empty when it is.
QString leftOutBecause(const struct stat& status, const QString& relative)
{
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("symbolic link, not followed");
    if (isHidden(relative))
        return QStringLiteral("hidden");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("not a regular file");
    return QString();
}

std::vector<UploadSource> caseSources(const QString& folder, QString* error, QStringList* leftOut)
{
    struct stat index
    {};
    const QString indexPath = QDir(folder).filePath(QStringLiteral("index.json"));
    if (::lstat(QFile::encodeName(indexPath).constData(), &index) != 0) {
        *error = errno == ENOENT || errno == ENOTDIR
                     ? QStringLiteral("%1 is a folder but not a case folder (it has no index.json); give a "
                                      "package or a case folder")
                           .arg(folder)
                     : QStringLiteral("cannot read the case folder %1: %2").arg(folder, errnoText(errno));
        return {};
    }
    // Its files are named from the folder's own path, links resolved, so that each can be checked to
    // be reached directly when it is opened.
    const QDir root(QFileInfo(folder).canonicalFilePath());
    if (QString why; !OwnFiles::isOwnFolder(root.absolutePath(), &why)) {
        *error = QStringLiteral("%1; a case folder is sent only when its files and folders are your own and "
                                "no one else may write them")
                     .arg(why);
        return {};
    }
    const QString caseName = QFileInfo(root.absolutePath()).fileName();
    QStringList relatives;
    QDirIterator walk(root.absolutePath(),
                      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    const auto refuseNotUtf8 = [&](const QString& in) {
        const QString name = nameNotUtf8(in);
        if (!name.isEmpty())
            *error = QStringLiteral("%1 holds a file whose name is not UTF-8 (%2): rename it, or send the "
                                    "packages one by one")
                         .arg(in, name);
        return !name.isEmpty();
    };
    if (refuseNotUtf8(root.absolutePath()))
        return {};
    while (walk.hasNext()) {
        const QFileInfo entry(walk.next());
        const QString relative = root.relativeFilePath(entry.filePath());
        struct stat status
        {};
        if (::lstat(QFile::encodeName(entry.filePath()).constData(), &status) != 0)
            continue; // gone since it was listed
        if (S_ISDIR(status.st_mode)) {
            // A folder the files are read from is the user's own, as they are.
            const QString why = isHidden(relative) ? QString() : OwnFiles::whyUntrusted(status, true);
            if (!why.isEmpty())
                *error = untrustedInCase(entry.filePath(), why);
            if (!why.isEmpty() || refuseNotUtf8(entry.filePath()))
                return {};
            continue;
        }
        // An upload's own state stays behind; a file of that name with no file beside it goes.
        if (relative.endsWith(QLatin1String(".upload")) && QFileInfo::exists(entry.filePath().chopped(7)))
            continue;
        if (relative == kSentRecord)
            continue;
        if (const QString why = leftOutBecause(status, relative); !why.isEmpty()) {
            if (leftOut)
                *leftOut << QStringLiteral("%1: %2").arg(relative, why);
            continue;
        }
        if (const QString why = OwnFiles::whyUntrusted(status, false); !why.isEmpty()) {
            *error = untrustedInCase(entry.filePath(), why);
            return {};
        }
        relatives << relative;
    }
    std::sort(relatives.begin(), relatives.end(), [](const QString& a, const QString& b) {
        return std::pair(closingRank(a), a) < std::pair(closingRank(b), b);
    });
    const QString sums = root.absoluteFilePath(QStringLiteral("SHA256SUMS"));
    std::vector<UploadSource> sources;
    for (const QString& relative : relatives) {
        const QString path = root.absoluteFilePath(relative);
        sources.push_back({path, caseName + QLatin1Char('/') + relative,
                           knownChecksum(path, sums, QFile::encodeName(relative))});
    }
    return sources;
}

QString endText(const UploadOutcome& o)
{
    switch (o.end) {
    case UploadOutcome::End::Sent:
        return QStringLiteral("sent");
    case UploadOutcome::End::Interrupted:
        return QStringLiteral("interrupted");
    case UploadOutcome::End::Failed:
        break;
    }
    return QStringLiteral("failed");
}

// The updating line of the file being sent, on a terminal only: its name, the bytes the server holds
// and the rate.
class ProgressLine final : public ProgressSink
{
public:
    explicit ProgressLine(UploadDisplay display) : m_line(display.stream, display.terminal) {}

    void setStatus(const QString& name) override
    {
        m_name = name;
        m_clock.start();
        m_firstDone = -1;
        m_lastDraw = -kRedrawNs;
    }
    void setBytes(qint64 done, qint64 total) override
    {
        if (!m_line.isTerminal())
            return;
        if (m_firstDone < 0)
            m_firstDone = done;
        const qint64 now = m_clock.nsecsElapsed();
        if (now - m_lastDraw < kRedrawNs && done < total)
            return;
        m_lastDraw = now;
        const double seconds = double(now) / 1e9;
        const QString rate =
            seconds > 0.2
                ? QStringLiteral("  %1/s").arg(byteSizeText(qint64(double(done - m_firstDone) / seconds)))
                : QString();
        m_line.show(m_name,
                    QStringLiteral("  %1 of %2%3").arg(byteSizeText(done), byteSizeText(total), rate));
    }
    // Clears the line before a line of text.
    void clear() { m_line.clear(); }

private:
    TerminalLine m_line;
    QString m_name;
    QElapsedTimer m_clock;
    qint64 m_firstDone = -1;
    qint64 m_lastDraw = 0;
};

QString outcomeLine(const UploadOutcome& o)
{
    switch (o.end) {
    case UploadOutcome::End::Sent: {
        if (o.alreadySent)
            return QStringLiteral("already sent: %1 (%2) to %3")
                .arg(o.path, byteSizeText(o.file.size), shown(o.location));
        QString line =
            QStringLiteral("sent %1 (%2) to %3").arg(o.path, byteSizeText(o.file.size), shown(o.location));
        if (o.resumedAt > 0)
            line += QStringLiteral(", resumed at %1").arg(byteSizeText(o.resumedAt));
        return line;
    }
    case UploadOutcome::End::Interrupted:
        if (o.location.isEmpty())
            return QStringLiteral("upload of %1 interrupted before it began").arg(o.path);
        if (!o.stateKept)
            return QStringLiteral(
                       "upload of %1 interrupted; its state could not be kept, so the next run starts "
                       "over")
                .arg(o.path);
        return QStringLiteral(
                   "upload of %1 interrupted; the same command goes on from where the server's copy ends")
            .arg(o.path);
    case UploadOutcome::End::Failed:
        break;
    }
    return QStringLiteral("upload failed: %1").arg(o.reason);
}

} // namespace

std::vector<UploadSource> uploadSources(const QString& target, QString* error, QStringList* leftOut)
{
    error->clear();
    const QFileInfo info(target);
    if (!info.exists()) {
        *error = QStringLiteral("%1 does not exist").arg(target);
        return {};
    }
    if (info.isDir())
        return caseSources(target, error, leftOut);
    if (!info.isFile()) {
        *error = QStringLiteral("%1 is not a plain file").arg(target);
        return {};
    }
    const QString path = info.absoluteFilePath();
    return {{path, QString(),
             knownChecksum(path, path + QStringLiteral(".sha256"), QFile::encodeName(info.fileName()))}};
}

QByteArray uploadJson(const QString& endpoint, const std::vector<UploadOutcome>& outcomes,
                      const QString& error)
{
    QJsonArray files;
    bool allSent = true;
    for (const UploadOutcome& o : outcomes) {
        allSent = allSent && o.end == UploadOutcome::End::Sent;
        QJsonObject file{
            {QStringLiteral("path"), o.path},
            {QStringLiteral("state"), endText(o)},
            {QStringLiteral("upload"), o.location.isEmpty() ? QJsonValue() : QJsonValue(shown(o.location))},
            {QStringLiteral("bytes"), double(o.file.size)},
            {QStringLiteral("sent_bytes"), double(o.sentBytes)},
            {QStringLiteral("sha256"),
             o.file.sha256.isEmpty() ? QJsonValue() : QJsonValue(QString::fromLatin1(o.file.sha256))},
            {QStringLiteral("seconds"), std::round(o.seconds * 1000) / 1000},
            {QStringLiteral("hash_seconds"), std::round(o.hashSeconds * 1000) / 1000},
        };
        if (o.resumedAt >= 0)
            file.insert(QStringLiteral("resumed_at"), double(o.resumedAt));
        if (!o.reason.isEmpty())
            file.insert(QStringLiteral("error"), o.reason);
        files.append(file);
    }
    QJsonObject result{{QStringLiteral("url"), endpoint},
                       {QStringLiteral("sent"), allSent && !outcomes.empty()},
                       {QStringLiteral("files"), files}};
    if (!error.isEmpty())
        result.insert(QStringLiteral("error"), error);
    return cleanJson(QJsonDocument(result).toJson(QJsonDocument::Indented));
}

QString withoutUserInfo(const QString& url)
{
    return QUrl(url).toDisplayString(QUrl::RemoveUserInfo);
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host == QLatin1String("::1"))
        return true;
    // Four decimal numbers, none with a leading zero: read as an octal one, 0127 would name another.
    const QStringList parts = host.split(QLatin1Char('.'));
    const auto isByte = [](const QString& part) {
        bool ok = false;
        const int value = part.toInt(&ok);
        return ok && part.size() <= 3 && (part.size() == 1 || !part.startsWith(QLatin1Char('0'))) &&
               std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c.isDigit(); }) && value <= 255;
    };
    return parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), isByte) &&
           parts.front() == QLatin1String("127");
}

std::optional<TusConnection> uploadConnection(const UploadOptions& options,
                                              const QByteArray& environmentToken, QString* why)
{
    if (const QString bad = checkServerUrl(options.url); !bad.isEmpty()) {
        *why = bad;
        return std::nullopt;
    }
    QUrl url(options.url, QUrl::StrictMode);
    const QByteArray userName = url.userName(QUrl::FullyDecoded).toUtf8();
    const QByteArray password = url.password(QUrl::FullyDecoded).toUtf8();
    url.setUserInfo(QString());
    if (!options.tokenFile.isEmpty() || !environmentToken.isEmpty() || !password.isEmpty())
        keepOutOfCoreDumps();
    QString error;
    const QByteArray token = readToken(options.tokenFile, environmentToken, &error);
    if (!error.isEmpty()) {
        *why = error;
        return std::nullopt;
    }
    if (url.scheme() == QLatin1String("http") && !isLoopbackHost(url.host()) &&
        !(token.isEmpty() && password.isEmpty())) {
        *why = QStringLiteral("%1 is not sent to %2: over plain http, a token or password goes only to this "
                              "machine (127.0.0.0/8, ::1, localhost); give the server's https address")
                   .arg(token.isEmpty() ? QStringLiteral("the password of the URL")
                                        : QStringLiteral("the token"),
                        url.toDisplayString());
        return std::nullopt;
    }
    if (!options.caCert.isEmpty() &&
        !(QFileInfo(options.caCert).isFile() && QFileInfo(options.caCert).isReadable())) {
        *why = QStringLiteral("cannot read the CA certificates file %1").arg(options.caCert);
        return std::nullopt;
    }
    return TusConnection{url, token, userName, password, options.caCert};
}

UploadSession::UploadSession(TusClient& client, const QString& target, std::vector<UploadSource> sources,
                             qint64 chunkBytes)
    : m_client(client), m_sources(std::move(sources)), m_chunkBytes(chunkBytes),
      m_record(QFileInfo(target).isDir() ? QDir(QFileInfo(target).canonicalFilePath()).filePath(kSentRecord)
                                         : QString())
{}

std::vector<UploadOutcome> UploadSession::run()
{
    const QString endpoint = QString::fromUtf8(m_client.endpoint().toEncoded());
    const auto note = [this](const QString& text) {
        if (onNote)
            onNote(text);
    };
    QString refused;
    std::vector<SentLine> record =
        m_record.isEmpty() ? std::vector<SentLine>() : readSentRecord(m_record, &refused);
    if (!refused.isEmpty())
        note(refused);
    for (UploadSource source : m_sources) {
        const QString relative = relativeInCase(source);
        const auto line = std::find_if(record.begin(), record.end(), [&](const SentLine& l) {
            return l.endpoint == endpoint && l.relative == relative;
        });
        if (line != record.end())
            source.sentBefore = line->sent;
        if (progress)
            progress->setStatus(QFileInfo(source.path).fileName());
        FileUpload upload(m_client, source, m_chunkBytes);
        if (progress)
            upload.onProgress = [sink = progress](qint64 done, qint64 total) { sink->setBytes(done, total); };
        upload.onNote = onNote;
        m_outcomes.push_back(upload.run());
        const UploadOutcome& o = m_outcomes.back();
        if (onFileEnds)
            onFileEnds(o);
        if (o.end != UploadOutcome::End::Sent)
            break; // the rest waits for the same command again
        if (m_record.isEmpty())
            continue;
        // Kept with the file's identity, so that a run again takes a checksum file's word for it
        // only while the file is untouched.
        const SentLine sent{endpoint, relative, {o.file, o.location}};
        if (line != record.end() && *line == sent)
            continue;
        std::erase_if(record,
                      [&](const SentLine& l) { return l.endpoint == endpoint && l.relative == relative; });
        record.push_back(sent);
        if (const QString why = writeSentRecord(m_record, record); !why.isEmpty())
            note(QStringLiteral(
                     "cannot keep the record of what was sent in %1: %2; a run again sends every file")
                     .arg(m_record, why));
    }
    return m_outcomes;
}

bool UploadSession::allSent() const
{
    return m_outcomes.size() == m_sources.size() &&
           std::all_of(m_outcomes.cbegin(), m_outcomes.cend(),
                       [](const UploadOutcome& o) { return o.end == UploadOutcome::End::Sent; });
}

int runUpload(const UploadOptions& options)
{
    const QString endpoint = shown(options.url);
    // A run that cannot start says why, and with --json prints a result that says so too.
    const auto refuse = [&](const QString& why, int status) {
        say(why);
        if (options.json)
            std::fputs(uploadJson(endpoint, {}, why).constData(), stdout);
        return status;
    };
    QString error;
    const std::optional<TusConnection> connection =
        uploadConnection(options, qgetenv("TS6_UPLOAD_TOKEN"), &error);
    if (!connection)
        return refuse(error, ExitStatus::kUsage);
    QStringList leftOut;
    const std::vector<UploadSource> sources = uploadSources(options.target, &error, &leftOut);
    if (!error.isEmpty())
        return refuse(error, 1);
    for (const QString& entry : leftOut)
        say(QStringLiteral("not sent: %1").arg(entry));

    StopToken stop; // a signal stops the run
    TusClient client(*connection, stop);
    UploadSession session(client, options.target, sources, options.chunkBytes);
    ProgressLine progress({stderr, ::isatty(STDERR_FILENO) == 1});
    session.progress = &progress;
    session.onNote = [&progress](const QString& note) {
        progress.clear();
        say(note);
    };
    session.onFileEnds = [&progress](const UploadOutcome& outcome) {
        progress.clear();
        say(outcomeLine(outcome));
    };
    const std::vector<UploadOutcome> outcomes = session.run();
    if (options.json)
        std::fputs(uploadJson(endpoint, outcomes).constData(), stdout);
    return session.allSent() ? 0 : 1;
}
