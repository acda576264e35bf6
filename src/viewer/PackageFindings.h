#pragma once

#include "viewer/ZipReader.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringConverter>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// The version manifest (TSVERSION.TXT): its "Key: value" lines in order, and the files it lists.
struct Manifest
{
    struct Field
    {
        QString key;
        QString value;
    };
    bool present = false;
    QString error{}; // it is there but cannot be read
    std::vector<Field> fields{};
    QStringList files{};

    QString value(const QString& key) const;
};
Manifest parseManifest(const QByteArray& text);

// A file the build left out, as the archive's comment names it, and why.
struct LeftOut
{
    QString path;
    QString reason;
};
std::vector<LeftOut> parseLeftOut(const QByteArray& comment);

// REDACTED.TXT: how many values were masked (and names replaced) in which entry; the files that
// could not be read as text. Never the values.
struct MaskingReport
{
    struct File
    {
        QString entry;
        int values = 0;
        int names = 0;
        QString encoding;
    };
    bool present = false;
    QString error{}; // it is there but cannot be read
    int filesChecked = 0;
    bool namesReplaced = false;
    std::vector<File> files{};
    QStringList notChecked{};
    QString text{}; // the report as written, for a person
};
MaskingReport parseMaskingReport(const QByteArray& text);

// The time a log's lines cover: the first and last time stamps at line starts, else the entry's date.
struct LogSpan
{
    QDateTime first;
    QDateTime last;
    bool fromStamps = false;
};

// Follows a log's lines as its bytes come, keeping the first and the last time stamp at a line start.
class LogSpanReader
{
public:
    void add(const char* data, size_t size);
    LogSpan span(const QDateTime& entryDate) const;

private:
    void line(const char* begin, const char* end);
    QByteArray m_partial; // the start of a line whose end has not come yet (its first bytes only)
    bool m_inLine = false;
    QDateTime m_first;
    QDateTime m_last;
};
// The time stamp a line starts with ("2026-12-04 08:00:01", ISO 8601 with T, in brackets), or none.
std::optional<QDateTime> lineTimeStamp(const char* begin, const char* end);

// Whether an entry is one of the product's logs, compared by size and time span.
bool isLogEntry(QStringView name);

// A log's time span beside its entry's row, read as an optional one: kept apart, so that the row of
// an entry that is no log (most of them, in a package of millions) costs a pointer for it.
class EntryLogSpan
{
public:
    EntryLogSpan() = default;
    EntryLogSpan(const EntryLogSpan& other)
        : m_span(other.m_span ? std::make_unique<LogSpan>(*other.m_span) : nullptr)
    {}
    EntryLogSpan(EntryLogSpan&&) noexcept = default;
    EntryLogSpan& operator=(const EntryLogSpan& other)
    {
        m_span = other.m_span ? std::make_unique<LogSpan>(*other.m_span) : nullptr;
        return *this;
    }
    EntryLogSpan& operator=(EntryLogSpan&&) noexcept = default;
    ~EntryLogSpan() = default;
    EntryLogSpan& operator=(const LogSpan& span)
    {
        m_span = std::make_unique<LogSpan>(span);
        return *this;
    }

    explicit operator bool() const { return m_span != nullptr; }
    const LogSpan& operator*() const { return *m_span; }
    const LogSpan* operator->() const { return m_span.get(); }
    operator std::optional<LogSpan>() const
    {
        return m_span ? std::optional<LogSpan>(*m_span) : std::nullopt;
    }

private:
    std::unique_ptr<LogSpan> m_span;
};

// One entry and what reading it showed.
struct EntryReport
{
    qsizetype index = 0; // in the archive's entries
    QString problem{};   // damage or refusal; empty when intact or not read
    EntryLogSpan log{};
    bool checked = false;
};

// The sha256sum file beside a package and whether the package still matches it.
struct ChecksumCheck
{
    QString file;
    QByteArray expected;
    QByteArray actual;
    QString problem; // the file cannot be read, or names no digest
    bool matches() const { return problem.isEmpty() && expected == actual; }
};

// Everything show tells about a package, read once.
struct PackageFindings
{
    QString path;
    std::shared_ptr<const ZipReader> zip; // for a view that reads entries later
    QString openError;                    // the package cannot be opened at all
    std::vector<EntryReport> entries;     // in the archive's order
    QStringList damage;                   // every problem named: the archive's, then "entry: what"
    std::optional<ChecksumCheck> checksum;
    Manifest manifest;
    std::vector<LeftOut> leftOut;
    MaskingReport masking;

    bool readable() const { return zip != nullptr; }
    bool intact() const { return readable() && damage.isEmpty(); }
    const ZipEntry& entry(const EntryReport& report) const
    {
        return zip->entries()[static_cast<size_t>(report.index)];
    }
};

struct ReadChoice
{
    bool checkData = true;   // read every entry: CRCs, sizes, log spans
    bool checkDigest = true; // the .sha256 file beside the package
    // What the packages of one run may hold in memory together; none: the package's own.
    std::shared_ptr<ReadBudget> budget{};
    // What asks the run to stop besides a signal; none: a signal only.
    std::shared_ptr<const StopToken> stop{};
};

// Opens and reads a package: what it holds and what is wrong with it, never failing on damage.
PackageFindings readPackage(const QString& path, const ReadChoice& choice = {});

// The SHA-256 of the whole archive file in lower-case hex; none, with the reason, when it cannot be read.
std::optional<QByteArray> packageSha256(const ZipReader& zip, QString* why);

// Whether the bytes read as text (UTF-8, Latin-1, UTF-16 with or without BOM), and as what.
enum class EntryEncoding
{
    Binary,
    Utf8,
    Latin1,
    Utf16LE,
    Utf16BE,
};
EntryEncoding entryEncoding(const QByteArray& start);
// The decoder of that encoding (UTF-8 for binary bytes).
QStringConverter::Encoding converterOf(EntryEncoding encoding);
// The bytes as text in that encoding (a BOM dropped, NUL padding left out).
QString decodeText(const QByteArray& bytes, EntryEncoding encoding);
