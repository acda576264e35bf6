#include "delivery/UploadRun.h"

#include "base/CHandle.h"
#include "base/ShownText.h"
#include "platform/FileReplacement.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QUrl>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr qint64 kRedrawNs = 100'000'000;

void say(const QString& text)
{
    std::fputs(qPrintable(QStringLiteral("ts6satchel: %1\n").arg(shownText(text))), stderr);
}

// An address as it is shown: never with a password.
QString shown(const QString& url)
{
    return QUrl(url).toDisplayString(QUrl::RemovePassword);
}

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

// The case's own files go last, in this order: the index, then the sums of the packages.
int closingRank(const QString& relative)
{
    static const QStringList last{QStringLiteral("index.json"), QStringLiteral("index.txt"),
                                  QStringLiteral("SHA256SUMS")};
    return int(last.indexOf(relative)) + 1;
}

// What a case folder keeps of its files sent whole, so that a run again sends only the rest: one
// line a file, "ENDPOINT<tab>PATH<tab>SIZE<tab>SHA256<tab>LOCATION". Hidden, never sent itself.
const QString kSentRecord = QStringLiteral(".upload-sent");
constexpr qint64 kMaxRecordBytes = 16 << 20;

struct SentLine
{
    QString endpoint;
    QString relative;
    SentBefore sent;
};

std::vector<SentLine> readSentRecord(const QString& path)
{
    QFile file(path);
    std::vector<SentLine> lines;
    if (!QFileInfo(path).isFile() || QFileInfo(path).isSymLink() || !file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.read(kMaxRecordBytes).split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() == 5)
            lines.push_back({QString::fromUtf8(f[0]),
                             QString::fromUtf8(f[1]),
                             {f[3], f[2].toLongLong(), QString::fromUtf8(f[4])}});
    }
    return lines;
}

QString writeSentRecord(const QString& path, const std::vector<SentLine>& lines)
{
    QByteArray text;
    for (const SentLine& l : lines)
        text += l.endpoint.toUtf8() + '\t' + l.relative.toUtf8() + '\t' + QByteArray::number(l.sent.size) +
                '\t' + l.sent.sha256 + '\t' + l.sent.location.toUtf8() + '\n';
    const int error = replaceFile(QFile::encodeName(path), text, 0600, mode_t(0600));
    return error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error));
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

// Why an entry of a case folder is not sent, or empty when it is.
QString leftOutBecause(const QFileInfo& entry, const QString& relative)
{
    if (entry.isSymLink())
        return QStringLiteral("symbolic link, not followed");
    if (relative.startsWith(QLatin1Char('.')) || relative.contains(QLatin1String("/.")))
        return QStringLiteral("hidden");
    if (!entry.isFile())
        return QStringLiteral("not a regular file");
    return QString();
}

std::vector<UploadSource> caseSources(const QString& folder, QString* error, QStringList* leftOut)
{
    if (!QDir(folder).exists(QStringLiteral("index.json"))) {
        *error =
            QStringLiteral("%1 is a folder but not a case folder (it has no index.json); give a package or a "
                           "case folder")
                .arg(folder);
        return {};
    }
    // Its files are named from the folder's own path, links resolved, so that each can be checked to
    // be reached directly when it is opened.
    const QDir root(QFileInfo(folder).canonicalFilePath());
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
        if (entry.isDir() && !entry.isSymLink()) {
            if (refuseNotUtf8(entry.filePath()))
                return {};
            continue;
        }
        // An upload's own state stays behind; a file of that name with no file beside it goes.
        if (relative.endsWith(QLatin1String(".upload")) && QFileInfo::exists(entry.filePath().chopped(7)))
            continue;
        if (relative == kSentRecord)
            continue;
        if (const QString why = leftOutBecause(entry, relative); !why.isEmpty()) {
            if (leftOut)
                *leftOut << QStringLiteral("%1: %2").arg(relative, why);
            continue;
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

// The updating line of the file being sent, on a terminal only.
class ProgressLine
{
public:
    explicit ProgressLine(UploadDisplay display) : m_display(display) {}

    void begin(const QString& name)
    {
        m_name = name;
        m_clock.start();
        m_firstDone = -1;
        m_lastDraw = -kRedrawNs;
    }
    void show(qint64 done, qint64 total)
    {
        if (!m_display.terminal)
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
                ? QStringLiteral("  %1/s").arg(sizeText(qint64(double(done - m_firstDone) / seconds)))
                : QString();
        const QString line =
            QStringLiteral("%1  %2 of %3%4").arg(m_name, sizeText(done), sizeText(total), rate);
        std::fprintf(m_display.stream, "\r\033[K%s", qPrintable(line));
        std::fflush(m_display.stream);
        m_drawn = true;
    }
    // Clears the line before a line of text.
    void clear()
    {
        if (m_drawn)
            std::fputs("\r\033[K", m_display.stream);
        m_drawn = false;
    }

private:
    const UploadDisplay m_display;
    QString m_name;
    QElapsedTimer m_clock;
    qint64 m_firstDone = -1;
    qint64 m_lastDraw = 0;
    bool m_drawn = false;
};

QString outcomeLine(const UploadOutcome& o)
{
    switch (o.end) {
    case UploadOutcome::End::Sent: {
        if (o.alreadySent)
            return QStringLiteral("already sent: %1 (%2) to %3")
                .arg(o.path, sizeText(o.file.size), shown(o.location));
        QString line =
            QStringLiteral("sent %1 (%2) to %3").arg(o.path, sizeText(o.file.size), shown(o.location));
        if (o.resumedAt > 0)
            line += QStringLiteral(", resumed at %1").arg(sizeText(o.resumedAt));
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
    return QJsonDocument(result).toJson(QJsonDocument::Indented);
}

int runUpload(const QStringList& arguments)
{
    const UploadCommand command = parseUploadArguments(arguments);
    if (const std::optional<int> status = answerWithoutRunning(command, uploadHelpText(), uploadUsageHint()))
        return *status;
    const UploadOptions& options = command.options;
    const QString endpoint = shown(options.url);
    // A run that cannot start says why, and with --json prints a result that says so too.
    const auto refuse = [&](const QString& why, int status) {
        say(why);
        if (options.json)
            std::fputs(uploadJson(endpoint, {}, why).constData(), stdout);
        return status;
    };
    QString error;
    const QByteArray token = readToken(options.tokenFile, qgetenv("TS6_UPLOAD_TOKEN"), &error);
    if (!error.isEmpty())
        return refuse(error, kUsageStatus);
    if (!options.caCert.isEmpty() &&
        !(QFileInfo(options.caCert).isFile() && QFileInfo(options.caCert).isReadable()))
        return refuse(QStringLiteral("--cacert: %1 is not a file that can be read").arg(options.caCert),
                      kUsageStatus);
    QStringList leftOut;
    const std::vector<UploadSource> sources = uploadSources(options.target, &error, &leftOut);
    if (!error.isEmpty())
        return refuse(error, 1);
    for (const QString& entry : leftOut)
        say(QStringLiteral("not sent: %1").arg(entry));

    TusClient client({QUrl(options.url, QUrl::StrictMode), token, options.caCert});
    const QString endpointKey = QString::fromUtf8(client.endpoint().toEncoded());
    const QString record = QFileInfo(options.target).isDir()
                               ? QDir(QFileInfo(options.target).canonicalFilePath()).filePath(kSentRecord)
                               : QString();
    std::vector<SentLine> sentLines = record.isEmpty() ? std::vector<SentLine>() : readSentRecord(record);
    const auto relativeOf = [](const UploadSource& source) { return source.relativePath.section(u'/', 1); };
    ProgressLine progress({stderr, ::isatty(STDERR_FILENO) == 1});
    std::vector<UploadOutcome> outcomes;
    for (UploadSource source : sources) {
        for (const SentLine& line : sentLines)
            if (line.endpoint == endpointKey && line.relative == relativeOf(source))
                source.sentBefore = line.sent;
        FileUpload upload(client, source, options.chunkBytes);
        progress.begin(QFileInfo(source.path).fileName());
        upload.onProgress = [&progress](qint64 done, qint64 total) { progress.show(done, total); };
        upload.onNote = [&progress](const QString& note) {
            progress.clear();
            say(note);
        };
        outcomes.push_back(upload.run());
        progress.clear();
        say(outcomeLine(outcomes.back()));
        if (const UploadOutcome& o = outcomes.back();
            !record.isEmpty() && o.end == UploadOutcome::End::Sent && !o.alreadySent) {
            std::erase_if(sentLines, [&](const SentLine& l) {
                return l.endpoint == endpointKey && l.relative == relativeOf(source);
            });
            sentLines.push_back({endpointKey, relativeOf(source), {o.file.sha256, o.file.size, o.location}});
            if (const QString why = writeSentRecord(record, sentLines); !why.isEmpty())
                say(QStringLiteral("cannot keep the record of what was sent in %1: %2; a run again sends "
                                   "every file")
                        .arg(record, why));
        }
        if (outcomes.back().end != UploadOutcome::End::Sent)
            break; // the rest waits for the same command again
    }
    if (options.json)
        std::fputs(uploadJson(endpoint, outcomes).constData(), stdout);
    const bool allSent = outcomes.size() == sources.size() &&
                         std::all_of(outcomes.cbegin(), outcomes.cend(), [](const UploadOutcome& o) {
                             return o.end == UploadOutcome::End::Sent;
                         });
    return allSent ? 0 : 1;
}
