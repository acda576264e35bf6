// Prints the cost of FileExists on upper-cased names and of FindFiles in folders of 1,000,
// 10,000 and 50,000 files, then the same lookups in the 50,000-file folder while another thread
// creates a file in it every 5 ms, alone and within one load or build (a ListingScope). A
// lookup's cost should stay flat as the folder grows, and within a load stay close to the quiet
// figure while the folder changes.
#include "catalogue/PathHelpers.h"
#include "components/Registration.h"
#include "diag/Debug.h"
#include "outside/HostFunctions.h"
#include "outside/Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <time.h>

namespace {

void makeFiles(const QString& folder, int count)
{
    for (int i = 0; i < count; ++i) {
        QFile f(folder + QStringLiteral("/file%1.dat").arg(i, 6, 10, QLatin1Char('0')));
        f.open(QIODevice::WriteOnly);
    }
    QFile(folder + QStringLiteral("/orders.tst6")).open(QIODevice::WriteOnly);
}

double threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

struct Cost
{
    double wallUs;
    double cpuUs;
};

Cost costPer(int calls, const std::function<void(int)>& call)
{
    QElapsedTimer timer;
    const double cpu = threadCpuNs();
    timer.start();
    for (int i = 0; i < calls; ++i)
        call(i);
    return {static_cast<double>(timer.nsecsElapsed()) / 1000.0 / calls,
            (threadCpuNs() - cpu) / 1000.0 / calls};
}

// Creates a file in the folder every 5 ms until stopped.
class Writer
{
public:
    explicit Writer(const QString& folder)
        : m_thread([this, folder] {
              for (int i = 0; !m_stop; ++i) {
                  QFile(folder + QStringLiteral("/new%1.tmp").arg(i)).open(QIODevice::WriteOnly);
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          })
    {}
    ~Writer()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    registerCoreComponents();
    const ComponentMakers components = Registry::makers();
    Debug::useLogSinks(components.logSink);
    QTemporaryDir root;
    qputenv("TS6_DRIVES", ("C=" + root.path()).toUtf8());
    std::printf("%-8s %18s %18s %18s %22s   (wall us per call)\n", "files", "FileExists (us)",
                "exact case (us)", "missing (us)", "FindFiles *.TST? (us)");
    QString largest;
    int largestCount = 0;
    for (const int count : {1000, 10000, 50000}) {
        const QString name = QStringLiteral("F%1").arg(count);
        const QString folder = root.path() + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        makeFiles(folder, count);
        const QString winFolder = QStringLiteral("C:\\") + name + QLatin1Char('\\');
        FileExists(winFolder + QStringLiteral("FILE000000.DAT")); // first read of the listing
        const int calls = 20000;
        volatile bool sink = false;
        const Cost upper = costPer(calls, [&](int i) {
            sink =
                FileExists(winFolder + QStringLiteral("FILE%1.DAT").arg(i % count, 6, 10, QLatin1Char('0')));
        });
        const Cost exact = costPer(calls, [&](int i) {
            sink =
                FileExists(winFolder + QStringLiteral("file%1.dat").arg(i % count, 6, 10, QLatin1Char('0')));
        });
        const Cost missing = costPer(
            calls, [&](int i) { sink = FileExists(winFolder + QStringLiteral("NONE%1.DAT").arg(i)); });
        const Cost find =
            costPer(200, [&](int) { sink = FindFiles(winFolder, QStringLiteral("*.TST?")).size() == 2; });
        (void)sink;
        std::printf("%-8d %18.2f %18.2f %18.2f %22.1f\n", count, upper.wallUs, exact.wallUs, missing.wallUs,
                    find.wallUs);
        largest = winFolder;
        largestCount = count;
    }

    // Case-blind lookups in the largest folder, quiet and while a writer changes it.
    const auto lookups = [&](int calls) {
        volatile bool sink = false;
        const Cost cost = costPer(calls, [&](int i) {
            sink = FileExists(
                largest + QStringLiteral("FILE%1.DAT").arg(i * 7919 % largestCount, 6, 10, QLatin1Char('0')));
        });
        (void)sink;
        return cost;
    };
    std::printf("\ncase-blind FileExists in the %d-file folder   %12s %12s\n", largestCount, "CPU us/call",
                "wall us/call");
    const Cost quiet = lookups(20000);
    std::printf("  quiet                                        %12.2f %12.2f\n", quiet.cpuUs, quiet.wallUs);
    {
        const Writer writer(root.path() + QStringLiteral("/F50000"));
        const Cost changing = lookups(200);
        std::printf("  a file created every 5 ms                    %12.2f %12.2f   (%.1fx quiet CPU)\n",
                    changing.cpuUs, changing.wallUs, changing.cpuUs / quiet.cpuUs);
        // As a catalogue load or a build looks things up: each folder listed once for all of it.
        const Host::ListingScope load;
        const Cost inLoad = lookups(20000);
        std::printf("  the same, within one load or build           %12.2f %12.2f   (%.1fx quiet CPU)\n",
                    inLoad.cpuUs, inLoad.wallUs, inLoad.cpuUs / quiet.cpuUs);
    }
    return 0;
}
