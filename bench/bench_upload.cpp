// Sends a 500 MB file of incompressible bytes to the reference tus server, alternating with a plain
// curl PUT of the same file to the same server process, and prints the rates and their ratio; then
// cuts one upload after about 300 MB with the breaking proxy and prints the bytes sent twice, and the
// peak resident size of the program's runs. Needs curl, and the tus server (bash
// scripts/install-tus-server.sh BUILD/tus). The file and the server's store share the temporary folder.
#include "ChildRun.h"
#include "support/TusServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

constexpr qint64 kFileBytes = 500'000'000;
constexpr qint64 kCutAfter = 300'000'000;
constexpr qint64 kChunkBytes = 8 << 20; // the program's default
constexpr qint64 kMargin = 200'000'000;
constexpr int kRounds = 3;

// One finished child: how it ended, its wall time, its peak resident size, what it printed.
// Runs command with its output into files in scratch.
ChildRun runChild(const QStringList& command, const QString& scratch)
{
    return runChild(command, scratch + QStringLiteral("/child.out"), scratch + QStringLiteral("/child.err"));
}

// Writes bytes from a seeded generator: nothing in them compresses.
bool writeRandomFile(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator random(20261206);
    std::vector<quint32> block((1 << 20) / sizeof(quint32));
    for (qint64 left = bytes; left > 0;) {
        random.fillRange(block.data(), block.size());
        const qint64 part = std::min<qint64>(left, qint64(block.size() * sizeof(quint32)));
        if (file.write(reinterpret_cast<const char*>(block.data()), part) != part)
            return false;
        left -= part;
    }
    return file.flush();
}

// Empties the server's store, and lets the disk catch up so that no run pays for the one before.
void clearStore(const TusServer& server)
{
    QDir store(server.storeDir());
    for (const QString& name : store.entryList(QDir::Files))
        store.remove(name);
    ::sync();
}

double megabytesPerSecond(qint64 bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / seconds / 1e6 : 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void reportFailure(const char* what, const ChildRun& run)
{
    std::fprintf(stderr, "%s failed (status %d): %s%s\n", what, run.status, run.err.constData(),
                 run.out.left(2000).constData());
}

// The first file of the upload's JSON result.
QJsonObject uploadResult(const ChildRun& run)
{
    return QJsonDocument::fromJson(run.out)
        .object()
        .value(QStringLiteral("files"))
        .toArray()
        .first()
        .toObject();
}

// Sum of the PATCH bodies the proxy forwarded, and whether the last request was a PATCH it answered
// with success (the upload's end).
std::pair<qint64, bool> patchBytes(const QStringList& lines)
{
    qint64 total = 0;
    for (const QString& line : lines) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() == 4 && parts[0] == QLatin1String("PATCH"))
            total += parts[3].toLongLong();
    }
    const QStringList last = lines.isEmpty() ? QStringList() : lines.last().split(QLatin1Char(' '));
    const bool ended =
        last.size() == 4 && last[0] == QLatin1String("PATCH") && last[2].startsWith(QLatin1Char('2'));
    return {total, ended};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString program = QStringLiteral(TS6_PROGRAM);

    // The file, the server's store and the scratch files all go under the temporary folder.
    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "no temporary folder: %s\n", qPrintable(work.errorString()));
        return 1;
    }
    const QStorageInfo disk(work.path());
    const qint64 needed = 2 * kFileBytes + kMargin; // the file, one stored copy at a time, room to spare
    if (disk.bytesAvailable() < needed) {
        std::fprintf(stderr, "not enough free space on %s: %.0f MB free, %.0f MB needed\n",
                     qPrintable(disk.rootPath()), double(disk.bytesAvailable()) / 1e6, double(needed) / 1e6);
        return 1;
    }
    const QString file = work.path() + QStringLiteral("/package.zip");
    if (!writeRandomFile(file, kFileBytes)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }
    TusServer server;
    if (!server.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.error()));
        return 1;
    }
    std::printf("%.0f MB of random bytes, %s; chunks of %lld MiB\n", double(kFileBytes) / 1e6,
                qPrintable(work.path()), kChunkBytes >> 20);

    // The checksum file a build with --checksum leaves beside its package: with it the upload starts
    // at once and reads the file through for its SHA-256 beside the transfer.
    QFile whole(file);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!whole.open(QIODevice::ReadOnly) || !hash.addData(&whole)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(file));
        return 1;
    }
    const QByteArray checksumLine = hash.result().toHex() + "  package.zip\n";

    std::vector<double> curlRates;
    std::vector<double> ourRates;
    std::vector<double> checkedRates; // with the checksum file beside the package
    std::vector<double>
        transferRates; // ours, the SHA-256 read left out, as curl's figure leaves out its start
    long peakKb = 0;
    // One run of ours: its rate, or a negative one when it failed.
    const auto runOurs = [&](int round, bool withChecksum) {
        clearStore(server);
        QFile sums(file + QStringLiteral(".sha256"));
        if (withChecksum &&
            (!sums.open(QIODevice::WriteOnly) || sums.write(checksumLine) != checksumLine.size()))
            return -1.0;
        sums.close();
        const ChildRun ours = runChild({program, QStringLiteral("upload"), file, QStringLiteral("--url"),
                                        server.url(), QStringLiteral("--json")},
                                       work.path());
        QFile::remove(sums.fileName());
        if (ours.status != 0) {
            reportFailure("ts6satchel upload", ours);
            return -1.0;
        }
        const double rate = megabytesPerSecond(kFileBytes, ours.seconds);
        peakKb = std::max(peakKb, ours.peakKb);
        const QJsonObject result = uploadResult(ours);
        const double hashSeconds = result.value(QStringLiteral("hash_seconds")).toDouble();
        const double transferSeconds = result.value(QStringLiteral("seconds")).toDouble() - hashSeconds;
        if (!withChecksum)
            transferRates.push_back(megabytesPerSecond(kFileBytes, transferSeconds));
        std::printf(
            "round %d  ts6satchel%s %6.2f s wall  %7.1f MB/s (whole command); hash first %.3f s, then "
            "%.3f s; peak RSS %ld KiB\n",
            round, withChecksum ? " with PACKAGE.sha256" : "                    ", ours.seconds, rate,
            hashSeconds, transferSeconds, ours.peakKb);
        std::fflush(stdout);
        return rate;
    };
    for (int round = 1; round <= kRounds; ++round) {
        clearStore(server);
        const ChildRun put =
            runChild({QStringLiteral("curl"), QStringLiteral("-sS"), QStringLiteral("-o"),
                      QStringLiteral("/dev/null"), QStringLiteral("-w"), QStringLiteral("%{speed_upload}"),
                      QStringLiteral("-T"), file, server.putUrl(QStringLiteral("round%1").arg(round))},
                     work.path());
        if (put.status != 0) {
            reportFailure("curl", put);
            return 1;
        }
        const double curlRate = put.out.trimmed().toDouble() / 1e6;
        curlRates.push_back(curlRate);
        std::printf("round %d  curl PUT                        %6.2f s wall  %7.1f MB/s (speed_upload)\n",
                    round, put.seconds, curlRate);
        std::fflush(stdout);
        ourRates.push_back(runOurs(round, false));
        checkedRates.push_back(runOurs(round, true));
        if (ourRates.back() < 0 || checkedRates.back() < 0)
            return 1;
    }
    const double curlMedian = median(curlRates);
    const auto verdict = [&](const char* what, double rate) {
        std::printf("median   %-44s %7.1f MB/s = %5.1f%% of curl's %.1f MB/s (target >= 90%%) -> %s\n", what,
                    rate, 100 * rate / curlMedian, curlMedian, rate >= 0.9 * curlMedian ? "met" : "MISSED");
    };
    verdict("ts6satchel, the package alone", median(ourRates));
    verdict("ts6satchel, PACKAGE.sha256 beside it", median(checkedRates));
    std::printf("median   ts6satchel's transfer after its SHA-256 read  %7.1f MB/s = %5.1f%% of curl's\n",
                median(transferRates), 100 * median(transferRates) / curlMedian);

    // One upload cut after 300 MB, in the middle of a PATCH of the default size: what goes twice.
    clearStore(server);
    if (!server.startProxy({QStringLiteral("--cut-after"), QString::number(kCutAfter)})) {
        std::fprintf(stderr, "%s\n", qPrintable(server.error()));
        return 1;
    }
    const ChildRun cut = runChild({program, QStringLiteral("upload"), file, QStringLiteral("--url"),
                                   server.proxyUrl(), QStringLiteral("--json")},
                                  work.path());
    if (cut.status != 0) {
        reportFailure("ts6satchel upload through the cutting proxy", cut);
        return 1;
    }
    peakKb = std::max(peakKb, cut.peakKb);
    QStringList lines = server.proxyLines();
    // The proxy logs a request as its answer goes out: its last lines may still be on their way.
    for (auto [forwarded, ended] = patchBytes(lines); !(ended && forwarded >= kFileBytes);) {
        const qsizetype before = lines.size();
        lines = server.proxyLines(int(before) + 1);
        if (lines.size() == before)
            break;
        std::tie(forwarded, ended) = patchBytes(lines);
    }
    if (!std::any_of(lines.cbegin(), lines.cend(), [](const QString& line) {
            return line.section(QLatin1Char(' '), 2, 2) == QLatin1String("cut");
        })) {
        std::fprintf(stderr, "the proxy cut nothing: %s\n", qPrintable(lines.join(QStringLiteral("; "))));
        return 1;
    }
    const qint64 forwarded = patchBytes(lines).first;
    const qint64 clientSent = qint64(uploadResult(cut).value(QStringLiteral("sent_bytes")).toDouble());
    const QStringList around = lines.filter(QRegularExpression(QStringLiteral("^(HEAD|POST) | cut ")));
    std::printf("cut after %.0f MB: %lld requests, among them %s; %6.2f s wall\n", double(kCutAfter) / 1e6,
                qlonglong(lines.size()), qPrintable(around.join(QStringLiteral(", "))), cut.seconds);
    std::printf("  PATCH bytes forwarded %lld - file %lld = %lld resent (target < %lld, one default chunk) "
                "-> %s\n",
                qlonglong(forwarded), qlonglong(kFileBytes), qlonglong(forwarded - kFileBytes),
                qlonglong(kChunkBytes), forwarded - kFileBytes < kChunkBytes ? "met" : "MISSED");
    std::printf("  the client's own count: %lld bytes put on the wire, %lld more than the file (what the cut "
                "caught on its way)\n",
                qlonglong(clientSent), qlonglong(clientSent - kFileBytes));
    std::printf("peak RSS of the ts6satchel upload runs: %ld KiB (%.1f MiB)\n", peakKb,
                double(peakKb) / 1024);
    clearStore(server);
    return 0;
}
