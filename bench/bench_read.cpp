// Times show and diff on packages of 100,000 entries, with their peak resident size, beside the
// targets: show under 1 s, diff under 2 s, 150 MB. Then show on a package of 2,000,000 small entries,
// the most one run reads, to see what an entry costs in memory: under 20 s and 700 MB.
//
// The packages are written here, in a temporary folder, laid out as the program lays them out:
// TSVERSION.TXT first; a thousand logs C/ProgramData/Norvale/TS6/logs/x<k>.log of time-stamped
// lines; configuration files C/Apps/Orders/<k/100>/FILE<k>.INI whose secrets read ********; text
// files C/Apps/Orders/<k/100>/FILE<k>.TXT of a few hundred bytes to a few KiB, and a handful of
// 1 to 5 MB; REDACTED.TXT last; the files left out in the comment. Every entry is raw deflate
// (zlib), UTF-8 named, made on Unix, with its time in the extended-timestamp field; the end has the
// zip64 records that more than 65535 entries need. The second package is the same machine a week
// later: the product updated, 1% of the entries changed (lines of text edited; in half of the
// configuration files the masked values show values, and in a fifth of those a setting changed
// too), 0.5% removed, 0.5% added, every log grown. unzip -tq checks both archives once.
//
// bench_read write FOLDER writes the two packages there as old.zip and new.zip, and nothing more.
// bench_read many runs the case of 2,000,000 entries alone.
//
// The built program is copied into the temporary folder first, so that a build of the shared tree
// during the runs cannot replace it. Each command runs once with its output checked (exit status,
// counts), then three times with its output to /dev/null; the median wall and CPU times and the
// largest peak resident size (wait4) count.
#include "ChildRun.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <random>
#include <vector>

extern char** environ;

namespace {

constexpr int kNumbered = 99'998; // with TSVERSION.TXT and REDACTED.TXT: 100,000 entries
constexpr int kLogs = 1000;       // entries 1 to 1000 are logs
constexpr int kAdded = 500;       // numbered after the last of the first package
constexpr int kRuns = 3;
constexpr double kShowTarget = 1.0;
constexpr double kDiffTarget = 2.0;
constexpr double kRssTarget = 150;    // MB
constexpr qint64 kStart = 1796371200; // 2026-12-04 08:00:00 UTC
constexpr int kMany = 2'000'000;      // the entries of the largest package one run reads
constexpr double kManyTarget = 20.0;
constexpr double kManyRssTarget = 700; // MB
constexpr qint64 kWeek = 7 * 86400;

// The handful of large entries: three logs and three exports.
struct Large
{
    int k;
    qsizetype bytes;
};
constexpr Large kLarge[] = {{10, 1'500'000},    {500, 3'000'000},   {990, 5'000'000},
                            {20000, 1'000'000}, {50000, 2'000'000}, {80000, 4'000'000}};

const char* const kWords[] = {"saved",  "opened", "closed",  "printed", "queued", "updated",
                              "synced", "locked", "retried", "checked", "posted", "billed"};
const char* const kLevels[] = {"INFO", "INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"};
const char* const kModules[] = {"orders", "stock", "print", "sync", "license", "db"};

enum class Kind
{
    Log,
    Config,
    Text,
};

Kind kindOf(int k)
{
    if (k <= kLogs)
        return Kind::Log;
    return k % 100 == 7 ? Kind::Config : Kind::Text;
}

// What a week changes, entry by entry.
bool removedLater(int k)
{
    return k <= kNumbered && kindOf(k) == Kind::Text && k % 200 == 101;
}
bool editedLater(int k)
{
    return k <= kNumbered && kindOf(k) == Kind::Text && k % 200 == 3;
}
bool revealedLater(int k) // its masked values show values
{
    return k <= kNumbered && kindOf(k) == Kind::Config && k % 200 == 7;
}
bool retunedLater(int k) // and a setting changed
{
    return revealedLater(k) && k % 1000 == 7;
}

QByteArray entryName(int k)
{
    if (kindOf(k) == Kind::Log)
        return "C/ProgramData/Norvale/TS6/logs/x" + QByteArray::number(k) + ".log";
    return "C/Apps/Orders/" + QByteArray::number(k / 100) + "/FILE" + QByteArray::number(k) +
           (kindOf(k) == Kind::Config ? ".INI" : ".TXT");
}

qsizetype largeSize(int k)
{
    for (const Large& large : kLarge)
        if (large.k == k)
            return large.bytes;
    return 0;
}

// The same entry gives the same bytes in both packages: its generator is seeded by its number.
std::mt19937 seeded(int k, quint32 salt)
{
    return std::mt19937(static_cast<quint32>(k) * 2654435761u + salt);
}

int pick(std::mt19937& random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

QByteArray stampText(qint64 seconds)
{
    const auto t = static_cast<time_t>(seconds);
    tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    return text;
}

// --- the entries' bytes -----------------------------------------------------------------------

QByteArray recordLine(std::mt19937& random)
{
    return "Order " + QByteArray::number(pick(random, 100000, 999999)) + "  customer C-" +
           QByteArray::number(pick(random, 1000, 9999)) + "  item STOCK-" +
           QByteArray::number(pick(random, 100, 99999)) + "  qty " + QByteArray::number(pick(random, 1, 40)) +
           "  price " + QByteArray::number(pick(random, 100, 99999) / 100.0, 'f', 2) + "  " +
           kWords[pick(random, 0, std::size(kWords) - 1)] + " by user" +
           QByteArray::number(pick(random, 1, 60));
}

// An export of order records; a week later, three of its lines edited.
QByteArray textEntry(int k, bool edited)
{
    std::mt19937 sizing = seeded(k, 0);
    const qsizetype size =
        largeSize(k) > 0 ? largeSize(k)
                         : qsizetype(300 * std::pow(20.0, std::uniform_real_distribution<>(0, 1)(sizing)));
    std::mt19937 random = seeded(k, 1);
    std::vector<QByteArray> lines{"Orders export, branch " + QByteArray::number(k / 100)};
    for (qsizetype total = 0; total < size; total += lines.back().size() + 2)
        lines.push_back(recordLine(random));
    if (edited) {
        std::mt19937 edits = seeded(k, 2);
        for (int i = 0; i < 3; ++i)
            lines[static_cast<size_t>(pick(edits, 1, int(lines.size()) - 1))] = recordLine(edits);
    }
    QByteArray text;
    text.reserve(size + 256);
    for (const QByteArray& line : lines)
        text += line + "\r\n";
    return text;
}

constexpr int kSecretsPerConfig = 3;

// A settings file whose secrets were masked; a week later, in half of them the values show, and
// in a fifth of those a time-out changed as well.
QByteArray configEntry(int k, bool week)
{
    const bool reveal = week && revealedLater(k);
    const auto secret = [&](const char* value) {
        return reveal ? QByteArray(value) + '-' + QByteArray::number(k) : QByteArray("********");
    };
    std::mt19937 random = seeded(k, 3);
    QByteArray text = "; Orders settings, branch " + QByteArray::number(k / 100) +
                      "\r\n[Database]\r\nServer = db-" + QByteArray::number(k % 17) +
                      ".orders.local\r\nPort = 1433\r\nUser = orders\r\nPassword = " + secret("Wint3r") +
                      "\r\n\r\n[Mail]\r\nHost = smtp.orders.local\r\nSmtpPassword = " + secret("Ma1lbox") +
                      "\r\n\r\n[Api]\r\nToken = " + secret("tok9f3a") +
                      "\r\nTimeout = " + (week && retunedLater(k) ? "45" : "30") + "\r\n\r\n[Screens]\r\n";
    const int settings = pick(random, 30, 90);
    for (int i = 0; i < settings; ++i)
        text += "Screen" + QByteArray::number(i) + ".Layout = " + QByteArray::number(pick(random, 0, 99999)) +
                ',' + QByteArray::number(pick(random, 0, 1)) + ',' + kWords[pick(random, 0, 11)] + "\r\n";
    return text;
}

QByteArray logLine(std::mt19937& random, qint64 when)
{
    return stampText(when) + ' ' + kLevels[pick(random, 0, std::size(kLevels) - 1)] + " [" +
           kModules[pick(random, 0, std::size(kModules) - 1)] + "] order " +
           QByteArray::number(pick(random, 100000, 999999)) + ' ' + kWords[pick(random, 0, 11)] + " in " +
           QByteArray::number(pick(random, 1, 900)) + " ms\r\n";
}

// A log of time-stamped lines; a week later, grown by the lines of that week. Sets the time of its
// last line.
QByteArray logEntry(int k, bool grown, qint64* last)
{
    std::mt19937 random = seeded(k, 4);
    const qsizetype large = largeSize(k);
    const int lines = large > 0 ? 0 : pick(random, 20, 120);
    QByteArray text;
    text.reserve(large + 8192);
    qint64 when = kStart - 3 * 86400 + k * 60;
    for (int i = 0; large > 0 ? text.size() < large : i < lines; ++i) {
        when += pick(random, 1, 30);
        text += logLine(random, when);
    }
    if (grown) {
        std::mt19937 later = seeded(k, 5);
        const int more = large > 0 ? int(text.size() / 70 / 50) : pick(later, 10, 60); // 2% of a large one
        when += kWeek - 86400;
        for (int i = 0; i < more; ++i) {
            when += pick(later, 1, 30);
            text += logLine(later, when);
        }
    }
    *last = when;
    return text;
}

QByteArray manifestEntry(bool week)
{
    QByteArray text = QByteArray("Version: ") + (week ? "6.2.1.1203" : "6.2.1.1187") +
                      "\r\nInstall Path: C:\\Program Files\\Norvale\\TS6\r\nData Path: "
                      "C:\\ProgramData\\Norvale\\TS6\r\nShared Path: \\\\FS01\\TS6\r\nComputer Name: "
                      "ORDERS-PC07\r\nUser Name: jsmith\r\nFiles:  \r\n";
    const int files = week ? 202 : 200;
    for (int i = 1; i <= files; ++i)
        text += ' ' + QByteArray::number(i) + "  C:\\PROGRAMDATA\\NORVALE\\TS6\\DATA\\ORD" +
                QByteArray::number(1000 + i) + ".DAT\r\n";
    return text;
}

QByteArray maskingEntry(const std::vector<QByteArray>& masked, int checked)
{
    QByteArray text = "TS6Satchel masked the secrets in the text files of this package: each value became "
                      "********.\r\nFiles checked: " +
                      QByteArray::number(checked) +
                      ". Values masked: " + QByteArray::number(qsizetype(masked.size()) * kSecretsPerConfig) +
                      "; in " + QByteArray::number(qsizetype(masked.size())) + " files:\r\n";
    for (const QByteArray& entry : masked)
        text += QByteArray::number(kSecretsPerConfig).rightJustified(7) + "  " + entry + "\r\n";
    return text;
}

const QByteArray kLeftOut = "C:\\ProgramData\\Norvale\\TS6\\logs\\trace.lock: Permission denied\n"
                            "C:\\ProgramData\\Norvale\\TS6\\pipe: not a regular file";

// --- the archive ------------------------------------------------------------------------------

void put(QByteArray& out, quint64 value, int width)
{
    for (int i = 0; i < width; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Writes a zip archive entry by entry, each deflated whole: local headers, then the central
// directory, and the zip64 end records once there are more entries than the end record counts.
class PackageWriter
{
public:
    explicit PackageWriter(const QString& path) : m_file(path) {}
    ~PackageWriter()
    {
        if (m_deflaterReady)
            deflateEnd(&m_deflater);
    }
    PackageWriter(const PackageWriter&) = delete;
    PackageWriter& operator=(const PackageWriter&) = delete;

    bool open()
    {
        m_deflaterReady = deflateInit2(&m_deflater, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return m_deflaterReady && m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }

    bool add(const QByteArray& name, const QByteArray& data, qint64 modified)
    {
        deflateReset(&m_deflater);
        m_packed.resize(qsizetype(deflateBound(&m_deflater, uLong(data.size()))));
        m_deflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        m_deflater.avail_in = uInt(data.size());
        m_deflater.next_out = reinterpret_cast<Bytef*>(m_packed.data());
        m_deflater.avail_out = uInt(m_packed.size());
        if (deflate(&m_deflater, Z_FINISH) != Z_STREAM_END)
            return false;
        const quint64 packed = m_deflater.total_out;
        const quint32 crc =
            quint32(crc32_z(0, reinterpret_cast<const Bytef*>(data.constData()), size_t(data.size())));
        const auto [date, time] = dosDateTime(modified);
        QByteArray extra; // the exact time, as the program writes it
        put(extra, 0x5455, 2);
        put(extra, 5, 2);
        put(extra, 1, 1);
        put(extra, quint64(modified), 4);
        const quint64 offset = quint64(m_file.pos());
        QByteArray local;
        for (const auto& [value, width] :
             std::initializer_list<std::pair<quint64, int>>{{0x04034b50, 4},
                                                            {20, 2},
                                                            {0x0800, 2}, // UTF-8 name
                                                            {8, 2},
                                                            {time, 2},
                                                            {date, 2},
                                                            {crc, 4},
                                                            {packed, 4},
                                                            {quint64(data.size()), 4},
                                                            {quint64(name.size()), 2},
                                                            {quint64(extra.size()), 2}})
            put(local, value, width);
        local += name + extra;
        for (const auto& [value, width] :
             std::initializer_list<std::pair<quint64, int>>{{0x02014b50, 4},
                                                            {(3 << 8) | 63, 2}, // made on Unix
                                                            {20, 2},
                                                            {0x0800, 2},
                                                            {8, 2},
                                                            {time, 2},
                                                            {date, 2},
                                                            {crc, 4},
                                                            {packed, 4},
                                                            {quint64(data.size()), 4},
                                                            {quint64(name.size()), 2},
                                                            {quint64(extra.size()), 2},
                                                            {0, 2},
                                                            {0, 2},
                                                            {0, 2},
                                                            {quint64(S_IFREG | 0644) << 16, 4},
                                                            {offset, 4}})
            put(m_central, value, width);
        m_central += name + extra;
        ++m_entries;
        m_dataBytes += data.size();
        return offset + quint64(local.size()) + packed < 0xffffffffu && m_file.write(local) == local.size() &&
               m_file.write(m_packed.constData(), qint64(packed)) == qint64(packed);
    }

    bool finish(const QByteArray& comment)
    {
        const quint64 start = quint64(m_file.pos());
        const quint64 size = quint64(m_central.size());
        const quint64 zip64At = start + size;
        QByteArray end;
        for (const auto& [value, width] :
             std::initializer_list<std::pair<quint64, int>>{{0x06064b50, 4},
                                                            {44, 8},
                                                            {(3 << 8) | 63, 2},
                                                            {45, 2},
                                                            {0, 4},
                                                            {0, 4},
                                                            {m_entries, 8},
                                                            {m_entries, 8},
                                                            {size, 8},
                                                            {start, 8}, // the zip64 end record
                                                            {0x07064b50, 4},
                                                            {0, 4},
                                                            {zip64At, 8},
                                                            {1, 4}, // its locator
                                                            {0x06054b50, 4},
                                                            {0, 2},
                                                            {0, 2},
                                                            {0xffff, 2},
                                                            {0xffff, 2},
                                                            {size, 4},
                                                            {start, 4},
                                                            {quint64(comment.size()), 2}})
            put(end, value, width);
        end += comment;
        return m_file.write(m_central) == m_central.size() && m_file.write(end) == end.size() &&
               m_file.flush();
    }

    quint64 entries() const { return m_entries; }
    qint64 dataBytes() const { return m_dataBytes; }

private:
    // The DOS date and time are the local time, as the program writes them.
    static std::pair<quint16, quint16> dosDateTime(qint64 seconds)
    {
        const auto t = static_cast<time_t>(seconds);
        tm local{};
        localtime_r(&t, &local);
        return {quint16(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday),
                quint16((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2))};
    }

    QFile m_file;
    z_stream m_deflater{};
    bool m_deflaterReady = false;
    QByteArray m_packed;
    QByteArray m_central;
    quint64 m_entries = 0;
    qint64 m_dataBytes = 0;
};

// What the later package should show against the first.
struct Expected
{
    int added = 0;
    int removed = 0;
    int changed = 0;
    int maskOnly = 0; // changed bytes, only masked values differ: not a change
};

struct Written
{
    qint64 entries = 0;
    qint64 dataBytes = 0;
};

// Writes the package as it was (week false) or a week later; counts what changed into expected.
std::optional<Written> writePackage(const QString& path, bool week, Expected& expected)
{
    PackageWriter zip(path);
    if (!zip.open())
        return std::nullopt;
    const qint64 dated = week ? kStart + kWeek - 3600 : kStart - 3600;
    if (!zip.add("TSVERSION.TXT", manifestEntry(week), dated))
        return std::nullopt;
    std::vector<QByteArray> masked;
    int checked = 0;
    const int last = week ? kNumbered + kAdded : kNumbered;
    for (int k = 1; k <= last; ++k) {
        if (week && removedLater(k)) {
            ++expected.removed;
            continue;
        }
        const bool isNew = k > kNumbered;
        const bool touched = week && (isNew || editedLater(k) || revealedLater(k));
        qint64 modified = touched ? kStart + kWeek - (k % 500) * 60 : kStart - 86400 - (k % 5000) * 60;
        QByteArray bytes;
        switch (kindOf(k)) {
        case Kind::Log:
            bytes = logEntry(k, week, &modified);
            break;
        case Kind::Config:
            bytes = configEntry(k, week);
            if (!(week && revealedLater(k)))
                masked.push_back(entryName(k));
            break;
        case Kind::Text:
            bytes = textEntry(k, week && editedLater(k));
            break;
        }
        if (week && isNew)
            ++expected.added;
        else if (week && (kindOf(k) == Kind::Log || editedLater(k) || retunedLater(k)))
            ++expected.changed;
        else if (week && revealedLater(k))
            ++expected.maskOnly;
        ++checked;
        if (!zip.add(entryName(k), bytes, modified))
            return std::nullopt;
    }
    expected.changed += week ? 1 : 0; // REDACTED.TXT
    if (!zip.add("REDACTED.TXT", maskingEntry(masked, checked), dated) || !zip.finish(kLeftOut))
        return std::nullopt;
    return Written{qint64(zip.entries()), zip.dataBytes()};
}

// A package of many small entries, as an archive of order records would give: names of about 50
// characters, a line of text each.
std::optional<Written> writeMany(const QString& path, int count)
{
    PackageWriter zip(path);
    if (!zip.open())
        return std::nullopt;
    for (int k = 0; k < count; ++k) {
        const QByteArray number = QByteArray::number(k).rightJustified(7, '0');
        if (!zip.add("C/ProgramData/Norvale/TS6/Archive/" + QByteArray::number(k / 1000) + "/ORDER-" +
                         number + ".TXT",
                     "Order " + number + " saved\r\n", kStart - (k % 5000) * 60))
            return std::nullopt;
    }
    if (!zip.finish({}))
        return std::nullopt;
    return Written{qint64(zip.entries()), zip.dataBytes()};
}

// --- running the program ----------------------------------------------------------------------

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double megabytes(double bytes)
{
    return bytes / 1e6;
}

// One command of the program: what it is called here, its arguments, the exit status it should
// end with, and a check of its output (empty when the output is right, else what is wrong).
struct Case
{
    const char* label;
    QStringList arguments;
    int status;
    double target; // seconds
    qint64 entries;
    std::function<QString(const QByteArray&)> check;
    double rssTarget = kRssTarget; // MB
};

// Runs a case once with its output checked, then kRuns times with its output to /dev/null; prints its line.
bool measure(const Case& c, const QString& program, const QString& scratch)
{
    const QString outPath = scratch + QStringLiteral("/out.txt");
    const QString errPath = scratch + QStringLiteral("/err.txt");
    QStringList command = c.arguments;
    command.prepend(program);
    const ChildRun first = runChild(command, outPath, errPath);
    const QByteArray output = readAll(outPath);
    QString wrong = first.status == c.status
                        ? c.check(output)
                        : QStringLiteral("ended with %1, not %2: %3")
                              .arg(first.status)
                              .arg(c.status)
                              .arg(QString::fromUtf8(first.err.left(500) + output.left(500)));
    QFile::remove(outPath);
    std::vector<double> seconds;
    std::vector<double> cpu;
    long peakKb = 0;
    for (int run = 0; run < kRuns; ++run) {
        const ChildRun timed = runChild(command, QStringLiteral("/dev/null"), errPath);
        if (timed.status != c.status && wrong.isEmpty())
            wrong = QStringLiteral("a timed run ended with %1").arg(timed.status);
        seconds.push_back(timed.seconds);
        cpu.push_back(timed.cpuSeconds);
        peakKb = std::max(peakKb, timed.peakKb);
    }
    const std::vector<double> inOrder = seconds;
    const double wall = median(seconds);
    const double peak = megabytes(double(peakKb) * 1024);
    std::printf("%-20s %6.3f s (%5.2f %5.2f %5.2f) %6.2f s %8.0f/s %6.1f MB   %.0f s %-6s  %.0f MB %s\n",
                c.label, wall, inOrder[0], inOrder[1], inOrder[2], median(cpu), double(c.entries) / wall,
                peak, c.target, wall < c.target ? "met" : "MISSED", c.rssTarget,
                peak < c.rssTarget ? "met" : "MISSED");
    if (!wrong.isEmpty())
        std::printf("  CHECK FAILED: %s\n", qPrintable(wrong));
    std::fflush(stdout);
    return wrong.isEmpty();
}

QString expectLine(const QByteArray& output, const QByteArray& line)
{
    return output.contains(line)
               ? QString()
               : QStringLiteral("no \"%1\" in what it printed").arg(QString::fromUtf8(line));
}

// The counts of a diff's JSON: added, removed, changed.
QString checkDiffJson(const QByteArray& output, const Expected& expected)
{
    const QJsonArray entries =
        QJsonDocument::fromJson(output).object().value(QStringLiteral("entries")).toArray();
    int counts[3] = {0, 0, 0};
    for (const QJsonValue& entry : entries) {
        const QString change = entry.toObject().value(QStringLiteral("change")).toString();
        ++counts[change == QLatin1String("added") ? 0 : change == QLatin1String("removed") ? 1 : 2];
    }
    if (counts[0] == expected.added && counts[1] == expected.removed && counts[2] == expected.changed)
        return {};
    return QStringLiteral("%1 added, %2 removed, %3 changed; expected %4, %5, %6")
        .arg(counts[0])
        .arg(counts[1])
        .arg(counts[2])
        .arg(expected.added)
        .arg(expected.removed)
        .arg(expected.changed);
}

QString checkShowJson(const QByteArray& output, qint64 entries)
{
    const QJsonObject json = QJsonDocument::fromJson(output).object();
    const qsizetype listed = json.value(QStringLiteral("entries")).toArray().size();
    const qsizetype logs = json.value(QStringLiteral("logs")).toArray().size();
    if (json.value(QStringLiteral("intact")).toBool() && listed == entries && logs == kLogs)
        return {};
    return QStringLiteral("intact %1, %2 entries, %3 logs")
        .arg(json.value(QStringLiteral("intact")).toBool())
        .arg(listed)
        .arg(logs);
}

// show on the package of 2,000,000 entries: the memory an entry costs, names included.
bool measureMany(const QString& program, const QString& scratch)
{
    const QString many = scratch + QStringLiteral("/MANY-ENTRIES.zip");
    const auto started = std::chrono::steady_clock::now();
    const std::optional<Written> written = writeMany(many, kMany);
    if (!written) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(many));
        return false;
    }
    std::printf("\n%s written in %.1f s: %6.1f MB, %lld entries\n", qPrintable(QFileInfo(many).fileName()),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                megabytes(double(QFileInfo(many).size())), written->entries);
    const qint64 entries = written->entries;
    std::printf("%-20s %8s %-20s%9s%11s%10s   %-10s  %s\n", "command", "wall", " (3 runs)", "CPU",
                "entries/s", "peak RSS", "time <", "RSS <");
    const bool right =
        measure({"show MANY",
                 {QStringLiteral("show"), many},
                 0,
                 kManyTarget,
                 entries,
                 [&](const QByteArray& out) {
                     const QString intact = expectLine(out, "Integrity: intact");
                     return intact.isEmpty()
                                ? expectLine(out, "Entries (" + QByteArray::number(entries) + "):")
                                : intact;
                 },
                 kManyRssTarget},
                program, scratch);
    QFile::remove(many);
    return right;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("write")) { // the two packages, to profile by hand
        Expected expected;
        return writePackage(args.at(2) + QStringLiteral("/old.zip"), false, expected) &&
                       writePackage(args.at(2) + QStringLiteral("/new.zip"), true, expected)
                   ? 0
                   : 1;
    }
    const bool manyOnly = args.size() == 2 && args.at(1) == QLatin1String("many");
    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "no temporary folder: %s\n", qPrintable(work.errorString()));
        return 1;
    }
    // The built program, copied: a build of the shared tree while the runs go on cannot replace it.
    const QString program = work.path() + QStringLiteral("/ts6satchel");
    if (!QFile::copy(QStringLiteral(TS6_PROGRAM), program)) {
        std::fprintf(stderr, "cannot copy %s to %s\n", TS6_PROGRAM, qPrintable(program));
        return 1;
    }
    std::printf("program: %s, copied into the temporary folder\n", TS6_PROGRAM);
    if (manyOnly)
        return measureMany(program, work.path()) ? 0 : 1;
    const QString older = work.path() + QStringLiteral("/ORDERS-PC07-20261204.zip");
    const QString newer = work.path() + QStringLiteral("/ORDERS-PC07-20261211.zip");
    const auto started = std::chrono::steady_clock::now();
    Expected ignored;
    Expected expected;
    const std::optional<Written> first = writePackage(older, false, ignored);
    const std::optional<Written> second = first ? writePackage(newer, true, expected) : std::nullopt;
    if (!second) {
        std::fprintf(stderr, "cannot write the packages in %s\n", qPrintable(work.path()));
        return 1;
    }
    const double writeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const qint64 olderEntries = first->entries;
    const qint64 newerEntries = second->entries;
    std::printf("packages written in %.1f s, in %s:\n", writeSeconds, qPrintable(work.path()));
    std::printf("  old %s  %6.1f MB, %lld entries, %6.1f MB of data\n",
                qPrintable(QFileInfo(older).fileName()), megabytes(double(QFileInfo(older).size())),
                olderEntries, megabytes(double(first->dataBytes)));
    std::printf(
        "  new %s  %6.1f MB, %lld entries, %6.1f MB of data: %d added, %d removed, %d changed (%d logs "
        "grown), %d more with only masked values showing values\n",
        qPrintable(QFileInfo(newer).fileName()), megabytes(double(QFileInfo(newer).size())), newerEntries,
        megabytes(double(second->dataBytes)), expected.added, expected.removed, expected.changed, kLogs,
        expected.maskOnly);

    // Whether the archives are valid is asked of a reader that is not ours, once.
    const QString scratch = work.path();
    for (const QString& package : {older, newer}) {
        const ChildRun test =
            runChild({QStringLiteral("unzip"), QStringLiteral("-tq"), package},
                     scratch + QStringLiteral("/unzip.txt"), scratch + QStringLiteral("/unzip.err"));
        const QByteArray said = readAll(scratch + QStringLiteral("/unzip.txt")).trimmed();
        std::printf("  checked with unzip -tq (%.1f s): %s\n", test.seconds,
                    test.status == 0 ? said.constData() : (said + ' ' + test.err).constData());
        if (test.status != 0)
            return 1;
    }
    double load[3] = {0, 0, 0};
    std::printf(
        "\nload average before the runs: %.2f (this machine's other work skews the wall times; the CPU "
        "times less)\n",
        getloadavg(load, 3) > 0 ? load[0] : -1.0);
    std::printf("%-20s %8s %-20s%9s%11s%10s   %-10s  %s\n", "command", "wall", " (3 runs)", "CPU",
                "entries/s", "peak RSS", "time <", "RSS <");

    const QByteArray diffLine = "Entries: " + QByteArray::number(expected.added) + " added, " +
                                QByteArray::number(expected.removed) + " removed, " +
                                QByteArray::number(expected.changed) + " changed";
    const QString json = QStringLiteral("--json");
    const std::vector<Case> cases = {
        {"show OLD",
         {QStringLiteral("show"), older},
         0,
         kShowTarget,
         olderEntries,
         [&](const QByteArray& out) {
             const QString intact = expectLine(out, "Integrity: intact");
             return intact.isEmpty() ? expectLine(out, "Entries (" + QByteArray::number(olderEntries) + "):")
                                     : intact;
         }},
        {"show OLD --json",
         {QStringLiteral("show"), older, json},
         0,
         kShowTarget,
         olderEntries,
         [&](const QByteArray& out) { return checkShowJson(out, olderEntries); }},
        {"diff OLD NEW",
         {QStringLiteral("diff"), older, newer},
         1,
         kDiffTarget,
         olderEntries + newerEntries,
         [&](const QByteArray& out) { return expectLine(out, diffLine); }},
        {"diff OLD NEW --json",
         {QStringLiteral("diff"), older, newer, json},
         1,
         kDiffTarget,
         olderEntries + newerEntries,
         [&](const QByteArray& out) { return checkDiffJson(out, expected); }},
        {"diff OLD NEW --logs",
         {QStringLiteral("diff"), older, newer, QStringLiteral("--logs")},
         1,
         kDiffTarget,
         olderEntries + newerEntries,
         [&](const QByteArray& out) { return expectLine(out, diffLine); }},
    };
    bool allRight = true;
    for (const Case& c : cases)
        allRight = measure(c, program, scratch) && allRight;
    std::printf(
        "(median wall and CPU time of the whole command, its start included; entries per second of wall "
        "time, of the one package for show and of both for diff; peak RSS the largest of the runs)\n");
    QFile::remove(older);
    QFile::remove(newer);
    return measureMany(program, scratch) && allRight ? 0 : 1;
}
