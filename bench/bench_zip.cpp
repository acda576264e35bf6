// Generates a support-package corpus (over 300 MB: small configuration files, data files, large
// logs, incompressible files) and packs it with the zip writer and with Info-ZIP "zip -r -6",
// printing MB/s, archive size and peak memory of each, measured in the same run.
#include "Corpus.h"

#include "components/Registration.h"
#include "components/zip/MinizipWriter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int pack(const QString& folder, const QString& archive)
{
    // The corpus is drive C, so entry names are as short as Info-ZIP's ("C/logs/..." against "logs/...").
    qputenv("TS6_DRIVES", ("C=" + folder).toUtf8());
    MinizipWriter writer;
    const QString windowsFolder = QStringLiteral("C:");
    const QString windowsArchive = QStringLiteral("Z:") + QString(archive).replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (!writer.SetArchivePath(windowsArchive) || !writer.Add(windowsFolder + QStringLiteral("\\*.*"), true, true, {}) ||
        !writer.Finish()) {
        std::fprintf(stderr, "%s\n", qPrintable(writer.LastError()));
        return 1;
    }
    return 0;
}

void row(const char* tool, const Measured& m, qint64 input, const QString& archive)
{
    const double mb = static_cast<double>(input) / 1e6;
    std::printf("%-22s %8.1f MB/s %10.1f MB %10.1f MB %s\n", tool, m.seconds > 0 ? mb / m.seconds : 0.0,
                static_cast<double>(QFileInfo(archive).size()) / 1e6, m.peakMegabytes, m.ok ? "" : "FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("pack"))
        return pack(args.at(2), args.at(3));

    const int megabytes = args.size() > 1 ? args.at(1).toInt() : 320;
    QTemporaryDir root(QStringLiteral("/var/tmp/ts6bench-XXXXXX"));
    const QString corpus = root.path() + QStringLiteral("/corpus");
    const qint64 input = WriteCorpus(corpus, megabytes);
    std::printf("corpus: %.1f MB\n%-22s %13s %13s %13s\n", static_cast<double>(input) / 1e6, "tool", "speed",
                "archive", "peak memory");
    const QString ours = root.path() + QStringLiteral("/ours.zip");
    row("ZipWriter", MeasureCommand(app.applicationFilePath(), {QStringLiteral("pack"), corpus, ours}), input, ours);
    const QString infoZip = root.path() + QStringLiteral("/infozip.zip");
    row("zip -r -6", MeasureCommand(QStringLiteral("zip"), {QStringLiteral("-r"), QStringLiteral("-6"), QStringLiteral("-q"), infoZip, QStringLiteral(".")}, corpus),
        input, infoZip);
    return 0;
}
