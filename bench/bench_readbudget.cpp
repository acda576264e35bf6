// The reading side against packages made to exhaust it: the time and the peak resident size of
//   - diff of two packages of 50 texts of 4 MiB each, a line in seven of every text changed;
//   - diff --json of two packages of 4,096 entries named with 64 KB each, every name different;
//   - diff of two packages of 2 million empty entries, every name different;
//   - show of a case folder whose index.json names one package of 100,000 entries for 20 hosts;
//   - the viewer's tree of one entry named 32,000 folders deep (64 KB), built in this process.
//
// The packages are written here, in a temporary folder, their entries stored (the reading is
// measured, not the inflating). The built program is copied there first, so that a build of the
// tree during the runs cannot replace it. Each command runs once, its exit status and a line of its
// output checked; its wall and CPU times and its peak resident size (wait4) are printed. The
// packages are written by a child, and no output is read whole here: the peak resident size this
// process reaches would count as that of the commands it starts next.
//
// bench_readbudget [FOLDER] writes into FOLDER instead, and leaves the packages there.
#include "ChildRun.h"

#include "viewer/EntryTree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <vector>

namespace {

void put(QByteArray& out, quint64 value, int width)
{
    for (int i = 0; i < width; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Writes a zip archive of stored entries with UTF-8 names: local headers and data, then the
// central directory, then the zip64 end records and the end record.
class StoredZip
{
public:
    explicit StoredZip(const QString& path) : m_file(path) {}

    bool open() { return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate); }

    bool add(const QByteArray& name, const QByteArray& data)
    {
        const quint32 crc =
            quint32(crc32_z(0, reinterpret_cast<const Bytef*>(data.constData()), size_t(data.size())));
        const quint64 offset = quint64(m_file.pos());
        QByteArray local;
        for (const auto& [value, width] :
             std::initializer_list<std::pair<quint64, int>>{{0x04034b50, 4},
                                                            {20, 2},
                                                            {0x0800, 2},
                                                            {0, 2},
                                                            {0, 2},
                                                            {0x5b21, 2},
                                                            {crc, 4},
                                                            {quint64(data.size()), 4},
                                                            {quint64(data.size()), 4},
                                                            {quint64(name.size()), 2},
                                                            {0, 2}})
            put(local, value, width);
        local += name;
        for (const auto& [value, width] :
             std::initializer_list<std::pair<quint64, int>>{{0x02014b50, 4},
                                                            {20, 2},
                                                            {20, 2},
                                                            {0x0800, 2},
                                                            {0, 2},
                                                            {0, 2},
                                                            {0x5b21, 2},
                                                            {crc, 4},
                                                            {quint64(data.size()), 4},
                                                            {quint64(data.size()), 4},
                                                            {quint64(name.size()), 2},
                                                            {0, 2},
                                                            {0, 2},
                                                            {0, 2},
                                                            {0, 2},
                                                            {0, 4},
                                                            {offset, 4}})
            put(m_central, value, width);
        m_central += name;
        ++m_entries;
        return offset < 0xffffffffu && m_file.write(local) == local.size() &&
               m_file.write(data) == data.size();
    }

    bool finish()
    {
        const quint64 start = quint64(m_file.pos());
        const quint64 size = quint64(m_central.size());
        QByteArray end;
        for (const auto& [value, width] : std::initializer_list<std::pair<quint64, int>>{
                 {0x06064b50, 4}, {44, 8},        {45, 2},           {45, 2},     {0, 4},
                 {0, 4},          {m_entries, 8}, {m_entries, 8},    {size, 8},   {start, 8},
                 {0x07064b50, 4}, {0, 4},         {start + size, 8}, {1, 4},      {0x06054b50, 4},
                 {0, 2},          {0, 2},         {0xffff, 2},       {0xffff, 2}, {0xffffffff, 4},
                 {0xffffffff, 4}, {0, 2}})
            put(end, value, width);
        return m_file.write(m_central) == m_central.size() && m_file.write(end) == end.size() &&
               m_file.flush();
    }

private:
    QFile m_file;
    QByteArray m_central;
    quint64 m_entries = 0;
};

// Writes a package of count entries, entry(i) giving each its name and bytes.
bool writeZip(const QString& path, int count,
              const std::function<std::pair<QByteArray, QByteArray>(int)>& entry)
{
    StoredZip zip(path);
    if (!zip.open())
        return false;
    for (int i = 0; i < count; ++i) {
        const auto [name, data] = entry(i);
        if (!zip.add(name, data))
            return false;
    }
    return zip.finish();
}

// A text of 4 MiB of numbered lines; later, a line in seven changed.
QByteArray text(int k, bool later)
{
    std::mt19937_64 random(quint64(k) * 0x9e3779b97f4a7c15u);
    QByteArray bytes;
    bytes.reserve((4 << 20) + 128);
    for (int line = 0; bytes.size() < (4 << 20) - 64; ++line) {
        if (later && line % 7 == 3)
            bytes += "changed ";
        bytes += "line " + QByteArray::number(line) + " of text " + QByteArray::number(k) + ": " +
                 QByteArray::number(random(), 16) + '\n';
    }
    return bytes;
}

QByteArray longName(int k, char fill)
{
    return "C/" + QByteArray::number(k).rightJustified(5, '0') + QByteArray(65500, fill) + ".TXT";
}

long peakKbOfThisProcess()
{
    struct rusage usage
    {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Run
{
    const char* label;
    QStringList arguments;
    int status;
    QByteArray says; // a line of its output holds this
};

// Whether a line of the file holds text, read a line at a time.
bool holdsLine(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd())
        if (file.readLine().contains(text))
            return true;
    return false;
}

bool measure(const Run& run, const QString& program, const QString& folder)
{
    QStringList command = run.arguments;
    command.prepend(program);
    const QString outPath = folder + QStringLiteral("/out.txt");
    const ChildRun child = runChild(command, outPath, folder + QStringLiteral("/err.txt"), false);
    const bool right = child.status == run.status && holdsLine(outPath, run.says);
    std::printf("%-44s %8.2f s %8.2f s CPU %9.1f MB  %s\n", run.label, child.seconds, child.cpuSeconds,
                double(child.peakKb) / 1024.0,
                right ? "ok"
                      : qPrintable(QStringLiteral("WRONG: status %1, %2")
                                       .arg(child.status)
                                       .arg(QString::fromUtf8(child.err.left(300)))));
    QFile::remove(outPath);
    return right;
}

} // namespace

// Writes the packages and the case folder into folder.
bool writeAll(const QString& folder)
{
    QDir().mkpath(folder);
    const auto at = [&](const char* name) { return folder + QLatin1Char('/') + QLatin1String(name); };
    const bool written =
        writeZip(at("texts-old.zip"), 50,
                 [](int k) {
                     return std::pair{"C/T/TEXT" + QByteArray::number(k) + ".TXT", text(k, false)};
                 }) &&
        writeZip(at("texts-new.zip"), 50,
                 [](int k) {
                     return std::pair{"C/T/TEXT" + QByteArray::number(k) + ".TXT", text(k, true)};
                 }) &&
        writeZip(at("names-old.zip"), 4096,
                 [](int k) {
                     return std::pair{longName(k, 'a'), QByteArray("x")};
                 }) &&
        writeZip(at("names-new.zip"), 4096,
                 [](int k) {
                     return std::pair{longName(k, 'b'), QByteArray("x")};
                 }) &&
        writeZip(at("many-old.zip"), 2'000'000,
                 [](int k) {
                     return std::pair{"C/" + QByteArray::number(k / 1000) + "/F" + QByteArray::number(k) +
                                          ".TXT",
                                      QByteArray()};
                 }) &&
        writeZip(at("many-new.zip"), 2'000'000,
                 [](int k) {
                     return std::pair{"C/" + QByteArray::number(k / 1000) + "/G" + QByteArray::number(k) +
                                          ".TXT",
                                      QByteArray()};
                 }) &&
        QDir().mkpath(at("case/hosts/h00")) && writeZip(at("case/hosts/h00/package.zip"), 100'000, [](int k) {
            return std::pair{"C/Apps/" + QByteArray::number(k / 100) + "/FILE" + QByteArray::number(k) +
                                 ".TXT",
                             QByteArray("a line\n")};
        });
    QByteArray index =
        R"({"case": {"target": "/srv/a", "options": [], "started": "2026-12-01T10:00:00Z"}, "hosts": [)";
    for (int i = 0; i < 20; ++i)
        index += QByteArray(i == 0 ? "" : ",") + R"({"host": "h)" +
                 QByteArray::number(i).rightJustified(2, '0') +
                 R"(", "state": "collected", "package": "hosts/h00/package.zip"})";
    QFile indexFile(at("case/index.json"));
    if (!written || !indexFile.open(QIODevice::WriteOnly) || indexFile.write(index + "]}") < 0) {
        std::fprintf(stderr, "cannot write the packages in %s\n", qPrintable(folder));
        return false;
    }
    return true;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("write"))
        return writeAll(args.at(2)) ? 0 : 1;
    std::optional<QTemporaryDir> temporary;
    QString folder = args.value(1);
    if (folder.isEmpty()) {
        temporary.emplace();
        if (!temporary->isValid())
            return 1;
        folder = temporary->path();
    }
    QDir().mkpath(folder);
    const QString program = folder + QStringLiteral("/ts6satchel");
    QFile::remove(program);
    if (!QFile::copy(QStringLiteral(TS6_PROGRAM), program)) {
        std::fprintf(stderr, "cannot copy %s to %s\n", TS6_PROGRAM, qPrintable(program));
        return 1;
    }
    // Written by a child of its own: a peak resident size is kept across exec, so the runs below
    // start from this process's small one, not from the writer's.
    const ChildRun writer =
        runChild({app.applicationFilePath(), QStringLiteral("write"), folder},
                 folder + QStringLiteral("/write.txt"), folder + QStringLiteral("/write.err"));
    if (writer.status != 0)
        return 1;
    std::printf("packages written in %s in %.0f s; this process's peak resident size %.1f MB\n\n",
                qPrintable(folder), writer.seconds, double(peakKbOfThisProcess()) / 1024.0);
    const auto at = [&](const char* name) { return folder + QLatin1Char('/') + QLatin1String(name); };
    std::printf("%-44s %10s %14s %12s\n", "command", "wall", "CPU", "peak RSS");
    const QString json = QStringLiteral("--json");
    const std::vector<Run> runs = {
        {"diff: 50 changed texts of 4 MiB",
         {QStringLiteral("diff"), at("texts-old.zip"), at("texts-new.zip")},
         1,
         "Entries: 0 added, 0 removed, 50 changed"},
        {"diff --json: 4,096 names of 64 KB",
         {QStringLiteral("diff"), json, at("names-old.zip"), at("names-new.zip")},
         1,
         "\"added\": 4096"},
        {"diff: 2 million entries",
         {QStringLiteral("diff"), at("many-old.zip"), at("many-new.zip")},
         1,
         "Entries: 2000000 added, 2000000 removed, 0 changed"},
        {"show: one 100k-entry package for 20 hosts",
         {QStringLiteral("show"), at("case")},
         1,
         "read once, for h00"},
    };
    bool allRight = true;
    for (const Run& run : runs)
        allRight = measure(run, program, folder) && allRight;

    // The viewer's tree of one deep name, in this process: its growth of the peak resident size.
    const QString deep = QStringLiteral("a/").repeated(32000) + QStringLiteral("end.txt");
    const long before = peakKbOfThisProcess();
    const auto treeStarted = std::chrono::steady_clock::now();
    const EntryTree tree(1, [&](int) { return EntryTree::Source{deep, false, false}; });
    const double treeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - treeStarted).count();
    const auto filterStarted = std::chrono::steady_clock::now();
    const std::vector<bool> shown = tree.shownFor(QStringLiteral("END"));
    const double filterSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - filterStarted).count();
    std::printf("%-44s %8.3f s %14s %9.1f MB more; %d nodes keep %lld characters of a %lld-character name; "
                "filtered in %.3f s, %lld nodes shown\n",
                "viewer tree: one name 32,000 folders deep", treeSeconds, "",
                double(peakKbOfThisProcess() - before) / 1024.0, tree.nodeCount(),
                static_cast<long long>(tree.nameCharacters()), static_cast<long long>(deep.size()),
                filterSeconds, static_cast<long long>(std::count(shown.begin(), shown.end(), true)));
    return allRight ? 0 : 1;
}
