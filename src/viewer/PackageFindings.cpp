#include "viewer/PackageFindings.h"

#include "base/PackageFormat.h"
#include "base/SystemError.h"
#include "masking/TextMasker.h"
#include "platform/HostName.h"
#include "platform/WorkerPool.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <openssl/evp.h>

#include <cstring>
#include <latch>
#include <numeric>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr quint64 kReportCap = quint64(16) << 20; // the manifest and the masking report
constexpr qint64 kStampPrefix = 40;               // the bytes of a line start a time stamp can take
constexpr qint64 kChecksumFileCap = 64 << 10;
constexpr qsizetype kEntryDamageNamed = 1000; // entries' problems named one by one in the summary

const QString kManifestName = QString::fromLatin1(PackageFormat::kManifestName);
const QString kMaskingName = QString::fromLatin1(PackageFormat::kMaskingReportName);

QStringList textLines(const QByteArray& bytes)
{
    QString text = decodeText(bytes, entryEncoding(bytes.left(8192)));
    text.remove(QLatin1Char('\r'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

bool digits(const char* p, int count)
{
    for (int i = 0; i < count; ++i)
        if (p[i] < '0' || p[i] > '9')
            return false;
    return true;
}

int number(const char* p, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (p[i] - '0');
    return value;
}

} // namespace

std::optional<QByteArray> packageSha256(const ZipReader& zip, QString* why)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        *why = QStringLiteral("no SHA-256 digest available");
        return std::nullopt;
    }
    std::vector<char> block(1 << 20);
    quint64 offset = 0;
    for (;;) {
        const qint64 n = zip.readAt(offset, block.data(), static_cast<qint64>(block.size()));
        if (n < 0) {
            *why = QStringLiteral("cannot read the package: ") + errnoText(errno);
            return std::nullopt;
        }
        if (n == 0)
            break;
        if (zip.stop().stopRequested()) {
            *why = zip.stop().reason();
            return std::nullopt;
        }
        EVP_DigestUpdate(context.get(), block.data(), static_cast<size_t>(n));
        offset += static_cast<quint64>(n);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length)).toHex();
}

namespace {

// The package's sha256sum file, when there is one: the digest it names against the package's own.
std::optional<ChecksumCheck> checkDigestFile(const ZipReader& zip)
{
    ChecksumCheck check;
    check.file = zip.path() + QStringLiteral(".sha256");
    const QByteArray host = HostName::encode(check.file);
    struct stat info
    {};
    if (::lstat(host.constData(), &info) != 0)
        return std::nullopt;
    QFile file(check.file);
    const QString why = !S_ISREG(info.st_mode) ? QStringLiteral("not a plain file (a link is not followed)")
                        : info.st_size > kChecksumFileCap ? QStringLiteral("too large for a checksum file")
                        : !file.open(QIODevice::ReadOnly) ? file.errorString()
                                                          : QString();
    if (!why.isEmpty()) {
        check.problem = QStringLiteral("%1 cannot be read: %2").arg(check.file, why);
        return check;
    }
    static const QRegularExpression line(QStringLiteral("^([0-9a-fA-F]{64})\\s"));
    const QRegularExpressionMatch match = line.match(QString::fromUtf8(file.read(kChecksumFileCap)));
    if (!match.hasMatch()) {
        check.problem = check.file + QStringLiteral(" names no SHA-256 digest");
        return check;
    }
    check.expected = match.captured(1).toLower().toLatin1();
    check.actual = packageSha256(zip, &check.problem).value_or(QByteArray());
    return check;
}

// Reads one entry through: its size and CRC, where its compressed data ends, and a log's time span.
// A folder is read too: its data, however small, could hide an entry.
void readEntry(const ZipReader& zip, const ZipEntry& entry, EntryReport& row)
{
    if (!entry.refused.isEmpty())
        return;
    const bool log = isLogEntry(entry.name);
    LogSpanReader span;
    const bool intact = zip.read(
        entry,
        [&](const char* data, size_t size) {
            if (log)
                span.add(data, size);
            return true;
        },
        &row.problem);
    row.checked = true;
    if (log && intact)
        row.log = span.span(entry.modified);
}

// Reads every entry, spread over the cores in runs of neighbours. The workers stop at a signal, so
// the wait for them ends soon after the run is asked to stop.
void readAllEntries(const ZipReader& zip, std::vector<EntryReport>& rows)
{
    constexpr size_t kRun = 256;
    const std::vector<ZipEntry>& entries = zip.entries();
    const size_t runs = (entries.size() + kRun - 1) / kRun;
    std::latch done(static_cast<std::ptrdiff_t>(runs));
    WorkerPool pool(static_cast<int>(std::min<size_t>(static_cast<size_t>(WorkerPool::defaultSize()), runs)));
    for (size_t first = 0; first < entries.size(); first += kRun)
        pool.submit([&, first] {
            for (size_t i = first; i < std::min(first + kRun, entries.size()); ++i) {
                if (zip.stop().stopRequested()) {
                    rows[i].problem = zip.stop().reason();
                    continue;
                }
                try {
                    readEntry(zip, entries[i], rows[i]);
                } catch (const std::bad_alloc&) {
                    rows[i].problem = QStringLiteral("out of memory");
                } catch (const std::exception& error) {
                    rows[i].problem = QString::fromLocal8Bit(error.what());
                }
            }
            done.count_down();
        });
    done.wait();
}

QString entryProblem(const ZipEntry& entry, const QString& problem)
{
    return (entry.name.isEmpty() ? QStringLiteral("(an entry without a name)") : entry.name.toString()) +
           QStringLiteral(": ") + problem;
}

// Whether a reader extracting name could write it under another spelling: a NUL ends the name for
// a C reader, a backslash parts folders on Windows, and empty or "." parts are dropped.
bool spelledAnotherWay(QStringView name)
{
    return name.contains(QChar()) || name.contains(QLatin1Char('\\')) || name.contains(u"//") ||
           name.contains(u"/./") || name.startsWith(u"./") || name.endsWith(u"/.") || name.endsWith(u'/') ||
           name == u".";
}

// The path a reader extracting name writes, in its one spelling.
QString extractedPath(QStringView name)
{
    QStringView cut = name;
    if (const qsizetype nul = name.indexOf(QChar()); nul >= 0)
        cut = name.left(nul);
    QStringList parts;
    for (const QString& part :
         cut.toString().replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/')))
        if (!part.isEmpty() && part != QLatin1String("."))
            parts.append(part);
    return parts.join(QLatin1Char('/'));
}

// Paths in the order where what is below a path follows it at once: "/" before any other character.
bool pathBefore(QStringView a, QStringView b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i)
        if (a[i] != b[i]) {
            const auto rank = [](QChar c) { return c == u'/' ? 0u : uint(c.unicode()) + 1; };
            return rank(a[i]) < rank(b[i]);
        }
    return a.size() < b.size();
}

// An entry that a reader extracting the archive cannot write as listed: the entry before it that
// goes to the same path (the same name, or another spelling of it), or a file where it needs a
// folder on its way.
struct Clash
{
    qint32 with = -1; // the other entry, or -1
    bool underFile = false;
};

// Each entry's clash, if any. Names are compared where they stand: only the few spelled another way
// get a copy in their one spelling.
std::vector<Clash> extractionClashes(const std::vector<ZipEntry>& entries)
{
    std::vector<QString> respelled;
    for (const ZipEntry& entry : entries)
        if (spelledAnotherWay(entry.name))
            respelled.push_back(extractedPath(entry.name));
    std::vector<QStringView> keys(entries.size());
    for (size_t i = 0, r = 0; i < entries.size(); ++i)
        keys[i] = spelledAnotherWay(entries[i].name) ? QStringView(respelled[r++]) : entries[i].name;
    std::vector<quint32> order(entries.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](quint32 a, quint32 b) { return pathBefore(keys[a], keys[b]); });
    std::vector<Clash> clashes(entries.size());
    qint32 file = -1; // the file the paths now in order are below, if any
    for (size_t k = 0; k < order.size(); ++k) {
        const quint32 i = order[k];
        if (k > 0 && keys[i] == keys[order[k - 1]]) {
            const Clash& before = clashes[order[k - 1]];
            clashes[i].with = before.with >= 0 && !before.underFile ? before.with : qint32(order[k - 1]);
            continue;
        }
        const QStringView below = file >= 0 ? keys[size_t(file)] : QStringView();
        if (file >= 0 && keys[i].size() > below.size() && keys[i].startsWith(below) &&
            keys[i][below.size()] == u'/')
            clashes[i] = {file, true};
        else
            file = entries[i].isFolder() ? -1 : qint32(i);
    }
    return clashes;
}

} // namespace

QString Manifest::value(const QString& key) const
{
    for (const Field& field : fields)
        if (field.key == key)
            return field.value;
    return {};
}

Manifest parseManifest(const QByteArray& text)
{
    Manifest manifest;
    manifest.present = true;
    bool inFiles = false;
    static const QRegularExpression numbered(QStringLiteral("^\\s*\\d+\\s+(.*)$"));
    for (const QString& line : textLines(text)) {
        if (inFiles) {
            const QRegularExpressionMatch match = numbered.match(line);
            manifest.files.append(match.hasMatch() ? match.captured(1) : line.trimmed());
            continue;
        }
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QString key = line.left(colon).trimmed();
        if (key == QLatin1String("Files")) {
            inFiles = true;
            continue;
        }
        manifest.fields.push_back({key, line.mid(colon + 1).trimmed()});
    }
    return manifest;
}

std::vector<LeftOut> parseLeftOut(const QByteArray& comment)
{
    std::vector<LeftOut> leftOut;
    for (const QString& line : textLines(comment)) {
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype cut = line.indexOf(QLatin1String(": "));
        if (cut < 0)
            leftOut.push_back({line, {}});
        else
            leftOut.push_back({line.left(cut), line.mid(cut + 2)});
    }
    return leftOut;
}

MaskingReport parseMaskingReport(const QByteArray& text)
{
    MaskingReport report;
    report.present = true;
    report.text = decodeText(text, EntryEncoding::Utf8).remove(QLatin1Char('\r'));
    static const QRegularExpression checked(QStringLiteral("Files checked: (\\d+)"));
    static const QRegularExpression counts(
        QStringLiteral("^\\s*(\\d+)(?:\\s+(\\d+))?  (.+?)(?: \\(([^()]*)\\))?$"));
    bool notChecked = false;
    for (const QString& line : report.text.split(QLatin1Char('\n'))) {
        if (const QRegularExpressionMatch match = checked.match(line); match.hasMatch()) {
            report.filesChecked = match.captured(1).toInt();
            continue;
        }
        if (line.startsWith(QLatin1String("TS6Satchel masked")))
            report.namesReplaced = line.contains(QLatin1String("placeholder"));
        if (line.startsWith(QLatin1String("Files not checked"))) {
            notChecked = true;
            continue;
        }
        if (notChecked) {
            if (!line.trimmed().isEmpty())
                report.notChecked.append(line.trimmed());
            continue;
        }
        const QRegularExpressionMatch match = counts.match(line);
        if (!match.hasMatch())
            continue;
        MaskingReport::File file;
        file.values = match.captured(1).toInt();
        file.names = match.captured(2).isEmpty() ? 0 : match.captured(2).toInt();
        file.entry = match.captured(3);
        file.encoding = match.captured(4);
        report.files.push_back(file);
    }
    return report;
}

std::optional<QDateTime> lineTimeStamp(const char* begin, const char* end)
{
    if (begin < end && *begin == '[')
        ++begin;
    if (end - begin < 19 || !digits(begin, 4) || begin[4] != '-' || !digits(begin + 5, 2) ||
        begin[7] != '-' || !digits(begin + 8, 2) || (begin[10] != ' ' && begin[10] != 'T') ||
        !digits(begin + 11, 2) || begin[13] != ':' || !digits(begin + 14, 2) || begin[16] != ':' ||
        !digits(begin + 17, 2))
        return std::nullopt;
    const QDate day(number(begin, 4), number(begin + 5, 2), number(begin + 8, 2));
    const QTime clock(number(begin + 11, 2), number(begin + 14, 2), number(begin + 17, 2));
    if (!day.isValid() || !clock.isValid())
        return std::nullopt;
    return QDateTime(day, clock, Qt::UTC);
}

void LogSpanReader::line(const char* begin, const char* end)
{
    if (!m_first.isValid() && end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0)
        begin += 3; // a byte-order mark before the first line
    if (const std::optional<QDateTime> stamp = lineTimeStamp(begin, std::min(end, begin + kStampPrefix))) {
        if (!m_first.isValid())
            m_first = *stamp;
        m_last = *stamp;
    }
}

void LogSpanReader::add(const char* data, size_t size)
{
    const char* p = data;
    const char* end = data + size;
    if (m_inLine) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', size));
        const char* lineEnd = newline ? newline : end;
        m_partial.append(p,
                         std::min<qint64>(lineEnd - p, std::max<qint64>(0, kStampPrefix - m_partial.size())));
        if (!newline)
            return;
        line(m_partial.constData(), m_partial.constData() + m_partial.size());
        m_inLine = false;
        p = newline + 1;
    }
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!newline) {
            m_partial = QByteArray(p, std::min<qint64>(end - p, kStampPrefix));
            m_inLine = true;
            return;
        }
        line(p, newline);
        p = newline + 1;
    }
}

LogSpan LogSpanReader::span(const QDateTime& entryDate) const
{
    LogSpanReader last = *this;
    if (last.m_inLine)
        last.line(last.m_partial.constData(), last.m_partial.constData() + last.m_partial.size());
    if (!last.m_first.isValid())
        return {entryDate, entryDate, false};
    return {last.m_first, last.m_last, true};
}

bool isLogEntry(QStringView name)
{
    if (name.endsWith(QLatin1Char('/')))
        return false;
    if (name.endsWith(QLatin1String(".log"), Qt::CaseInsensitive) ||
        name.startsWith(QLatin1String("logs/"), Qt::CaseInsensitive) ||
        name.contains(QLatin1String("/logs/"), Qt::CaseInsensitive))
        return true;
    // A rotation: "app.log.3".
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QStringView rest = name.mid(dot + 1);
    return dot > 4 && !rest.isEmpty() &&
           std::all_of(rest.begin(), rest.end(), [](QChar c) { return c.isDigit(); }) &&
           name.left(dot).endsWith(QLatin1String(".log"), Qt::CaseInsensitive);
}

EntryEncoding entryEncoding(const QByteArray& start)
{
    // Text is told the way the masker tells it, so what was masked as text is shown as text.
    switch (detectEncoding(reinterpret_cast<const unsigned char*>(start.constData()),
                           static_cast<size_t>(start.size()))) {
    case TextEncoding::Binary:
        return EntryEncoding::Binary;
    case TextEncoding::Utf16LE:
        return EntryEncoding::Utf16LE;
    case TextEncoding::Utf16BE:
        return EntryEncoding::Utf16BE;
    case TextEncoding::Bytes:
        break;
    }
    // UTF-8 unless its bytes say otherwise; a character cut at the end of the sample says nothing.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(start);
    return utf8.hasError() ? EntryEncoding::Latin1 : EntryEncoding::Utf8;
}

QStringConverter::Encoding converterOf(EntryEncoding encoding)
{
    switch (encoding) {
    case EntryEncoding::Latin1:
        return QStringConverter::Latin1;
    case EntryEncoding::Utf16LE:
        return QStringConverter::Utf16LE;
    case EntryEncoding::Utf16BE:
        return QStringConverter::Utf16BE;
    case EntryEncoding::Utf8:
    case EntryEncoding::Binary:
        break;
    }
    return QStringConverter::Utf8;
}

QString decodeText(const QByteArray& bytes, EntryEncoding encoding)
{
    QStringDecoder decoder(converterOf(encoding));
    QString text = decoder(bytes);
    text.remove(QChar(0));
    return text;
}

PackageFindings readPackage(const QString& path, const ReadChoice& choice)
{
    PackageFindings report;
    report.path = path;
    report.zip = ZipReader::open(path, {}, choice.budget, &report.openError, choice.stop);
    if (!report.zip)
        return report;
    const ZipReader& zip = *report.zip;
    report.damage = zip.damage();
    if (choice.checkDigest) {
        report.checksum = checkDigestFile(zip);
        if (report.checksum && !report.checksum->problem.isEmpty())
            report.damage.append(report.checksum->problem);
        else if (report.checksum && !report.checksum->matches())
            report.damage.append(QStringLiteral("the package's SHA-256 is %1, %2 says %3")
                                     .arg(QString::fromLatin1(report.checksum->actual), report.checksum->file,
                                          QString::fromLatin1(report.checksum->expected)));
    }
    const std::vector<ZipEntry>& entries = zip.entries();
    report.entries.resize(entries.size());
    if (choice.checkData)
        readAllEntries(zip, report.entries);
    const std::vector<Clash> clashes = extractionClashes(entries);
    // Every entry's damage is in its row; the summary names the first ones and counts the rest,
    // so that an archive of a million damaged entries does not hold their names twice.
    qsizetype named = 0;
    qsizetype more = 0;
    const auto name = [&](const ZipEntry& entry, const QString& problem) {
        if (named++ < kEntryDamageNamed)
            report.damage.append(entryProblem(entry, problem));
        else
            ++more;
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        const ZipEntry& entry = entries[i];
        EntryReport& row = report.entries[i];
        row.index = static_cast<qsizetype>(i);
        if (!row.checked)
            row.problem = entry.refused;
        if (!entry.unsafe.isEmpty())
            name(entry,
                 QStringLiteral("its name would lead a reader out of the folder it extracts into (%1); "
                                "shown, never followed")
                     .arg(entry.unsafe));
        if (const Clash& clash = clashes[i]; clash.with >= 0) {
            const QStringView other = entries[size_t(clash.with)].name;
            name(entry, clash.underFile ? QStringLiteral("a reader extracting it needs %1 as a folder, where "
                                                         "that entry is a file")
                                              .arg(other)
                        : other == entry.name
                            ? QStringLiteral("a second entry of this name")
                            : QStringLiteral("a reader extracting it writes the same file as %1").arg(other));
        }
        if (!row.problem.isEmpty())
            name(entry, row.problem);
    }
    if (more > 0)
        report.damage.append(
            QStringLiteral("%1 more problems of entries, each named in its entry's row").arg(more));
    report.leftOut = parseLeftOut(zip.comment());
    QString why;
    // The manifest and the masking report; one that is there but cannot be read says why.
    if (const std::optional<qsizetype> at = zip.find(kManifestName)) {
        if (const std::optional<QByteArray> text =
                zip.readAll(entries[static_cast<size_t>(*at)], kReportCap, &why))
            report.manifest = parseManifest(*text);
        else
            report.manifest = {.present = true, .error = why};
    }
    if (const std::optional<qsizetype> at = zip.find(kMaskingName)) {
        if (const std::optional<QByteArray> text =
                zip.readAll(entries[static_cast<size_t>(*at)], kReportCap, &why))
            report.masking = parseMaskingReport(*text);
        else
            report.masking = {.present = true, .error = why};
    }
    return report;
}
