// Generates two corpora, a support-package mix (over 300 MB: small configuration files, data
// files, large logs, incompressible files) and 20,000 files of 0.25 to 4 KB, and packs each in the
// same run with the zip writer, the whole program (a batch start), Info-ZIP zip -6 and -1, 7-Zip
// and Python's zipfile, printing MB/s, archive size and peak memory for each.
#include "Corpus.h"

#include "components/zip/MinizipWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int pack(const QString& folder, const QString& archive, int workers)
{
    // The corpus is drive C, so entry names are as short as the other tools' ("C/logs/..." against
    // "logs/...").
    qputenv("TS6_DRIVES", ("C=" + folder).toUtf8());
    MinizipWriter writer(workers > 0 ? workers : WorkerPool::DefaultSize());
    const QString windowsArchive =
        QStringLiteral("Z:") + QString(archive).replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (!writer.SetArchivePath(windowsArchive) || !writer.Add(QStringLiteral("C:\\*.*"), true, true, {}) ||
        !writer.Finish()) {
        std::fprintf(stderr, "%s\n", qPrintable(writer.LastError()));
        return 1;
    }
    return 0;
}

void row(const char* tool, const Measured& m, qint64 input, const QString& archive, double baseline)
{
    const double mb = static_cast<double>(input) / 1e6;
    const double speed = m.seconds > 0 ? mb / m.seconds : 0.0;
    std::printf("%-28s %9.1f MB/s %6.2fx %10.1f MB %9.1f MB %s\n", tool, speed,
                baseline > 0 ? speed / baseline : 1.0, static_cast<double>(QFileInfo(archive).size()) / 1e6,
                m.peakMegabytes, m.ok ? "" : "FAILED");
    QFile::remove(archive);
}

// A batch start of the program that packs the corpus as the product's log folder.
Measured batchStart(const QString& root, const QString& corpus, const QString& archive)
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
    qputenv("TS6_PROGRAMDATA", programData.toUtf8());
    qputenv("TS6_LOG_DIR", (root + QStringLiteral("/trace")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("TS6_DRIVES");
    Measured m = MeasureCommand(QStringLiteral(TS6_PROGRAM), {root + QStringLiteral("/app/"), archive});
    QFile::remove(programData + QStringLiteral("/Norvale/TS6/logs"));
    return m;
}

void compare(const QString& title, const QString& root, const QString& corpus, qint64 input,
             const QString& self)
{
    std::printf("\n%s: %.1f MB\n%-28s %14s %7s %13s %12s\n", qPrintable(title),
                static_cast<double>(input) / 1e6, "tool", "speed", "vs -6", "archive", "peak memory");
    const QString out = root + QStringLiteral("/out.zip");
    const Measured zip6 = MeasureCommand(
        QStringLiteral("zip"),
        {QStringLiteral("-r"), QStringLiteral("-6"), QStringLiteral("-q"), out, QStringLiteral(".")}, corpus);
    const double baseline = static_cast<double>(input) / 1e6 / zip6.seconds;
    row("ZipWriter (1 worker)",
        MeasureCommand(self, {QStringLiteral("pack"), corpus, out, QStringLiteral("1")}), input, out,
        baseline);
    row("ZipWriter (one per core)",
        MeasureCommand(self, {QStringLiteral("pack"), corpus, out, QStringLiteral("0")}), input, out,
        baseline);
    row("ts6satchel batch start", batchStart(root, corpus, out), input, out, baseline);
    QFile::remove(out);
    row("zip -r -6",
        MeasureCommand(
            QStringLiteral("zip"),
            {QStringLiteral("-r"), QStringLiteral("-6"), QStringLiteral("-q"), out, QStringLiteral(".")},
            corpus),
        input, out, baseline);
    row("zip -r -1",
        MeasureCommand(
            QStringLiteral("zip"),
            {QStringLiteral("-r"), QStringLiteral("-1"), QStringLiteral("-q"), out, QStringLiteral(".")},
            corpus),
        input, out, baseline);
    row("7zz a -tzip -mx=1 -mmt=2",
        MeasureCommand(QStringLiteral("7zz"),
                       {QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-mx=1"),
                        QStringLiteral("-mmt=2"), QStringLiteral("-bd"), QStringLiteral("-bso0"), out,
                        QStringLiteral(".")},
                       corpus),
        input, out, baseline);
    row("python3 zipfile (deflate)",
        MeasureCommand(QStringLiteral("python3"),
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
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("pack"))
        return pack(args.at(2), args.at(3), args.at(4).toInt());

    const int megabytes = args.size() > 1 ? args.at(1).toInt() : 320;
    QTemporaryDir root(QStringLiteral("/var/tmp/ts6bench-XXXXXX"));
    const QString mix = root.path() + QStringLiteral("/mix");
    compare(QStringLiteral("support-package mix"), root.path(), mix, WriteCorpus(mix, megabytes),
            app.applicationFilePath());
    const QString tiny = root.path() + QStringLiteral("/tiny");
    compare(QStringLiteral("20,000 files of 0.25 to 4 KB"), root.path(), tiny, WriteTinyFiles(tiny, 20000),
            app.applicationFilePath());
    return 0;
}
