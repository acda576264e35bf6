// Generates the benchmark corpora (a support-package mix of over 300 MB, 20,000 files of 0.25 to
// 4 KB, and 100,000 tiny files) and packs each in the same run with the zip writer, the whole
// program (a batch start), Info-ZIP zip -6 and -1, 7-Zip and Python's zipfile, printing MB/s,
// archive size and peak memory for each. zip -6 and the batch start run three times each,
// alternating, and the best run of each counts; on the support-package mix so does the batch start
// with --redact (every file of the corpus is then a log file, its secrets masked) and with
// --redact-names (its addresses and host names replaced as well), and their time
// against the plain one. Beside the batch start it prints the
// pure-compression ceiling (the writer's encoders on every core, the files already in memory, no
// I/O) and how close the batch start comes to it, and how long a batch start takes to end after
// SIGTERM in the middle of a large add.
#include "Corpus.h"

#include "components/zip/Compressors.h"
#include "components/zip/EntryPipeline.h"
#include "components/zip/ZipWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <libdeflate.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

constexpr int kRounds = 3;

int pack(const QString& folder, const QString& archive, int workers)
{
    // The corpus is drive C, so entry names are as short as the other tools' ("C/logs/..." against
    // "logs/...").
    qputenv("TS6_DRIVES", ("C=" + folder).toUtf8());
    ZipWriter writer(workers > 0 ? workers : WorkerPool::defaultSize());
    const QString windowsArchive =
        QStringLiteral("Z:") + QString(archive).replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (!writer.setArchivePath(windowsArchive) || !writer.add(QStringLiteral("C:\\*.*"), true, true, {}) ||
        !writer.finish()) {
        std::fprintf(stderr, "%s\n", qPrintable(writer.lastError()));
        return 1;
    }
    return 0;
}

double megabytes(qint64 bytes)
{
    return static_cast<double>(bytes) / 1e6;
}

void line(const char* tool, double speed, double baseline, qint64 archive, const Measured& m)
{
    std::printf("%-30s %9.1f MB/s %6.2fx %10.1f MB %9.1f MB %7.2f s %s\n", tool, speed, speed / baseline,
                megabytes(archive), m.peakMegabytes, m.cpuSeconds, m.ok ? "" : "FAILED");
}

void row(const char* tool, const Measured& m, qint64 input, const QString& archive, double baseline)
{
    line(tool, m.seconds > 0 ? megabytes(input) / m.seconds : 0.0, baseline, QFileInfo(archive).size(), m);
    QFile::remove(archive);
}

// The writer's own encoders on every core over the corpus in memory, cut as the writer cuts it.
double ceilingSeconds(const QString& corpus)
{
    std::vector<std::pair<QByteArray, bool>> pieces; // whole files, and chunks of larger ones
    QDirIterator files(corpus, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile f(files.next());
        f.open(QIODevice::ReadOnly);
        const QByteArray all = f.readAll();
        const auto chunk = static_cast<qsizetype>(EntryPipeline::kChunk);
        if (all.size() <= chunk)
            pieces.emplace_back(all, false);
        else
            for (qsizetype at = 0; at < all.size(); at += chunk)
                pieces.emplace_back(all.mid(at, chunk), true);
    }
    std::atomic<size_t> next{0};
    const auto work = [&] {
        Bytes out;
        for (size_t i; (i = next++) < pieces.size();) {
            const auto& [piece, isChunk] = pieces[i];
            const auto* data = reinterpret_cast<const unsigned char*>(piece.constData());
            const auto size = static_cast<size_t>(piece.size());
            libdeflate_crc32(0, data, size);
            if (isChunk)
                Compressors::encodeChunk(data, size, out);
            else
                Compressors::deflateWhole(data, size, out);
        }
    };
    QElapsedTimer timer;
    timer.start();
    std::vector<std::thread> threads;
    for (int i = 0; i < WorkerPool::defaultSize(); ++i)
        threads.emplace_back(work);
    for (std::thread& t : threads)
        t.join();
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

struct BatchStart
{
    QString root;
    QString corpus;
    QProcessEnvironment environment;
    QStringList arguments;
};

// A batch start of the program that packs the corpus as the product's log folder.
BatchStart batchStart(const QString& root, const QString& corpus, const QString& archive)
{
    const QString programData = root + QStringLiteral("/programdata");
    QDir().mkpath(programData + QStringLiteral("/Norvale/TS6"));
    QFile::remove(programData + QStringLiteral("/Norvale/TS6/logs"));
    QFile::link(corpus, programData + QStringLiteral("/Norvale/TS6/logs"));
    QDir().mkpath(root + QStringLiteral("/app"));
    QFile templ(root + QStringLiteral("/app/A.TST6"));
    templ.open(QIODevice::WriteOnly);
    templ.write("[Template]\nTitle = 'Bench'\n");
    templ.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TS6_PROGRAMDATA"), programData);
    env.insert(QStringLiteral("TS6_LOG_DIR"), root + QStringLiteral("/trace"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "TS6_DRIVES"})
        env.remove(QString::fromLatin1(name));
    return {root, corpus, env, {root + QStringLiteral("/app/"), archive}};
}

Measured runBatch(const BatchStart& b)
{
    for (const QString& name : b.environment.keys())
        qputenv(name.toUtf8().constData(), b.environment.value(name).toUtf8());
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "TS6_DRIVES"})
        qunsetenv(name);
    return measureCommand(QStringLiteral(TS6_PROGRAM), b.arguments);
}

// Milliseconds from SIGTERM, sent while the corpus is being packed, to the end of the program.
qint64 stopAfterSignal(const BatchStart& b)
{
    QProcess p;
    p.setProcessEnvironment(b.environment);
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(TS6_PROGRAM), b.arguments);
    QByteArray err;
    while (!err.contains("Adding logs") && p.waitForReadyRead(60000))
        err += p.readAllStandardError();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // well into the large add
    if (p.processId() <= 0)
        return -1;
    QElapsedTimer timer;
    timer.start();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    p.waitForFinished(60000);
    return timer.elapsed();
}

Measured best(const Measured& a, const Measured& b)
{
    return (a.ok && (!b.ok || a.seconds <= b.seconds)) ? a : b;
}

void compare(const QString& title, const QString& root, const QString& corpus, qint64 input,
             const QString& self, bool everyTool, bool redact = false)
{
    std::printf("\n%s: %.1f MB\n%-30s %14s %7s %13s %12s %9s\n", qPrintable(title), megabytes(input), "tool",
                "speed", "vs -6", "archive", "peak memory", "CPU");
    const QString out = root + QStringLiteral("/out.zip");
    const BatchStart batch = batchStart(root, corpus, out);
    const QStringList zip6 = {QStringLiteral("-r"), QStringLiteral("-6"), QStringLiteral("-q"), out,
                              QStringLiteral(".")};
    BatchStart masking = batch;
    masking.arguments.prepend(QStringLiteral("--redact"));
    BatchStart naming = batch;
    naming.arguments.prepend(QStringLiteral("--redact-names"));
    Measured zip{}, program{}, masked{}, named{};
    qint64 zipSize = 0, programSize = 0, maskedSize = 0, namedSize = 0;
    for (int round = 0; round < kRounds; ++round) {
        QFile::remove(out);
        zip = round == 0 ? measureCommand(QStringLiteral("zip"), zip6, corpus)
                         : best(zip, measureCommand(QStringLiteral("zip"), zip6, corpus));
        zipSize = QFileInfo(out).size();
        QFile::remove(out);
        program = round == 0 ? runBatch(batch) : best(program, runBatch(batch));
        programSize = QFileInfo(out).size();
        if (!redact)
            continue;
        QFile::remove(out);
        masked = round == 0 ? runBatch(masking) : best(masked, runBatch(masking));
        maskedSize = QFileInfo(out).size();
        QFile::remove(out);
        named = round == 0 ? runBatch(naming) : best(named, runBatch(naming));
        namedSize = QFileInfo(out).size();
    }
    const double baseline = megabytes(input) / zip.seconds;
    const double ceiling = megabytes(input) / ceilingSeconds(corpus);
    const double speed = megabytes(input) / program.seconds;
    line("ts6satchel batch start", speed, baseline, programSize, program);
    if (redact) {
        line("ts6satchel batch start --redact", megabytes(input) / masked.seconds, baseline, maskedSize,
             masked);
        std::printf("%-30s %9.2fx the time, %.2fx the CPU of the plain batch start\n", "  --redact takes",
                    masked.seconds / program.seconds, masked.cpuSeconds / program.cpuSeconds);
        line("ts6satchel --redact-names", megabytes(input) / named.seconds, baseline, namedSize, named);
        std::printf("%-30s %9.2fx the time, %.2fx the CPU of the plain batch start\n",
                    "  --redact-names takes", named.seconds / program.seconds,
                    named.cpuSeconds / program.cpuSeconds);
    }
    std::printf("%-30s %9.1f MB/s %6.2fx   (the batch start reaches %.0f%% of it)\n",
                "ceiling: encoders, no I/O", ceiling, ceiling / baseline, 100.0 * speed / ceiling);
    line("zip -r -6", baseline, baseline, zipSize, zip);
    if (!everyTool)
        return;
    row("ZipWriter (1 worker)",
        measureCommand(self, {QStringLiteral("pack"), corpus, out, QStringLiteral("1")}), input, out,
        baseline);
    row("ZipWriter (one per core)",
        measureCommand(self, {QStringLiteral("pack"), corpus, out, QStringLiteral("0")}), input, out,
        baseline);
    row("zip -r -1",
        measureCommand(
            QStringLiteral("zip"),
            {QStringLiteral("-r"), QStringLiteral("-1"), QStringLiteral("-q"), out, QStringLiteral(".")},
            corpus),
        input, out, baseline);
    row("7zz a -tzip -mx=1 -mmt=2",
        measureCommand(QStringLiteral("7zz"),
                       {QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-mx=1"),
                        QStringLiteral("-mmt=2"), QStringLiteral("-bd"), QStringLiteral("-bso0"), out,
                        QStringLiteral(".")},
                       corpus),
        input, out, baseline);
    row("python3 zipfile (deflate)",
        measureCommand(QStringLiteral("python3"),
                       {QStringLiteral("-c"),
                        QStringLiteral("import os,sys,zipfile\n"
                                       "with zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED) as z:\n"
                                       "  for d,_,fs in os.walk('.'):\n"
                                       "    for f in fs: z.write(os.path.join(d,f))\n"),
                        out},
                       corpus),
        input, out, baseline);
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each row as soon as it is measured
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("pack"))
        return pack(args.at(2), args.at(3), args.at(4).toInt());
    if (args.size() == 3 && args.at(1) == QLatin1String("corpus")) // to profile by hand
        return writeCorpus(args.at(2), 320) > 0 ? 0 : 1;

    const int megabytes = args.size() > 1 ? args.at(1).toInt() : 320;
    QTemporaryDir root(QStringLiteral("/var/tmp/ts6bench-XXXXXX"));
    const QString self = app.applicationFilePath();
    const QString mix = root.path() + QStringLiteral("/mix");
    compare(QStringLiteral("support-package mix"), root.path(), mix, writeCorpus(mix, megabytes), self, true,
            true);
    std::printf(
        "%-30s %9lld ms\n", "batch start ends after SIGTERM",
        static_cast<long long>(stopAfterSignal(batchStart(root.path(), mix, root.path() + "/out.zip"))));
    QDir(mix).removeRecursively();
    const QString tiny = root.path() + QStringLiteral("/tiny");
    compare(QStringLiteral("20,000 files of 0.25 to 4 KB"), root.path(), tiny, writeTinyFiles(tiny, 20000),
            self, true);
    QDir(tiny).removeRecursively();
    const QString many = root.path() + QStringLiteral("/many");
    compare(QStringLiteral("100,000 files of 0.25 to 4 KB"), root.path(), many, writeTinyFiles(many, 100000),
            self, false);
    return 0;
}
