// Collects from 4 loopback hosts with 50 MB of logs each, and prints the wall time beside the
// slowest single host's build on its own. Needs openssh-server (bash scripts/install-deps.sh bench).
#include "support/SshFleet.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kHosts = 4;
constexpr int kMegabytes = 50;

double secondsOf(QProcess& process, const QString& program, const QStringList& arguments)
{
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s\n", process.readAllStandardError().constData());
    return clock.elapsed() / 1000.0;
}

// Fills the log folder of host n's installation with megabytes of logs.
void writeLogs(const SshFleet& fleet, int n, int megabytes)
{
    const QString logs = fleet.hostRoot(n) + QStringLiteral("/drive-c/ProgramData/Norvale/TS6/logs");
    QDir().mkpath(logs);
    // Lines as a busy server writes them: times, ids and durations that change from line to line.
    QRandomGenerator random(static_cast<quint32>(n + 1));
    for (int f = 0; f < megabytes; ++f) {
        QByteArray block;
        block.reserve((1 << 20) + 200);
        for (int line = 0; block.size() < (1 << 20); ++line)
            block += QStringLiteral(
                         "2026-12-%1 %2:%3:%4.%5 INFO [worker-%6] order %7 for customer %8 posted in %9 ms, "
                         "session %10\n")
                         .arg(1 + f % 28, 2, 10, QLatin1Char('0'))
                         .arg(line / 3600 % 24, 2, 10, QLatin1Char('0'))
                         .arg(line / 60 % 60, 2, 10, QLatin1Char('0'))
                         .arg(line % 60, 2, 10, QLatin1Char('0'))
                         .arg(random.bounded(1000), 3, 10, QLatin1Char('0'))
                         .arg(random.bounded(16))
                         .arg(random.bounded(1000000))
                         .arg(random.bounded(5000))
                         .arg(random.bounded(900))
                         .arg(random.generate64(), 16, 16, QLatin1Char('0'))
                         .toLatin1();
        QFile file(logs + QStringLiteral("/app-%1.log").arg(f));
        if (file.open(QIODevice::WriteOnly))
            file.write(block);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString program = QStringLiteral(TS6_PROGRAM);
    SshFleet fleet(program);
    QStringList hosts;
    for (int n = 0; n < kHosts; ++n) {
        const QString name = fleet.add(SshFleet::Kind::Healthy);
        if (name.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(fleet.error()));
            return 1;
        }
        writeLogs(fleet, n, kMegabytes);
        hosts << name;
    }
    // Each host's build alone, on this machine, in the environment its sessions get.
    double slowest = 0;
    for (int n = 0; n < kHosts; ++n) {
        QProcess build;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : fleet.hostEnvironment(n))
            env.insert(name, value);
        build.setProcessEnvironment(env);
        const double seconds =
            secondsOf(build, program, {fleet.target(), fleet.hostRoot(n) + QStringLiteral("/alone.zip")});
        std::printf("host %d alone: %6.2f s\n", n + 1, seconds);
        slowest = std::max(slowest, seconds);
    }
    // One host collected alone: what the collecting adds to its build.
    QProcess one;
    const double single =
        secondsOf(one, program,
                  {QStringLiteral("collect"), QStringLiteral("--ssh-config"), fleet.sshConfig(),
                   QStringLiteral("--out"), fleet.root() + QStringLiteral("/one"), hosts.first(),
                   QStringLiteral("--"), fleet.target()});
    std::printf("collect from host 1 alone: %6.2f s wall\n", single);
    QProcess collect;
    const double wall =
        secondsOf(collect, program,
                  QStringList{QStringLiteral("collect"), QStringLiteral("--ssh-config"), fleet.sshConfig(),
                              QStringLiteral("--out"), fleet.root() + QStringLiteral("/case")} +
                      hosts + QStringList{QStringLiteral("--"), fleet.target()});
    std::printf("collect from %d hosts, %d MB of logs each: %6.2f s wall (status %d)\n", kHosts, kMegabytes,
                wall, collect.exitCode());
    // The builds in the run share this machine's cores, as hosts of their own would not: each host's
    // build is timed as its summary says, on the host, during the run.
    double slowestInRun = 0;
    for (const QString& host : hosts) {
        QFile log(fleet.root() + QStringLiteral("/case/hosts/") +
                  QString(host).replace(QLatin1Char(':'), QLatin1Char('_')) + QStringLiteral("/collect.log"));
        log.open(QIODevice::ReadOnly);
        const QRegularExpression seconds(QStringLiteral("\"seconds\":([0-9.]+)"));
        slowestInRun =
            std::max(slowestInRun, seconds.match(QString::fromUtf8(log.readAll())).captured(1).toDouble());
    }
    std::printf("slowest build alone:                        %6.2f s\n", slowest);
    std::printf("slowest build in the run (4 at once here):  %6.2f s\n", slowestInRun);
    std::printf("limit 1.2 x slowest in the run + 2 s:       %6.2f s   -> %s (%.2fx)\n",
                1.2 * slowestInRun + 2, wall <= 1.2 * slowestInRun + 2 ? "within" : "OVER",
                wall / slowestInRun);
    if (qEnvironmentVariableIsSet("TS6_BENCH_KEEP")) {
        std::printf("kept %s\n", qPrintable(fleet.root()));
        std::getchar();
    }
    return 0;
}
