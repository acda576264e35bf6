// Prints the cost of FileExists on upper-cased names and of FindFiles in folders of 1,000,
// 10,000 and 50,000 files. A lookup's cost should stay flat as the folder grows.
#include "catalogue/PathHelpers.h"
#include "components/Registration.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void makeFiles(const QString& folder, int count)
{
    for (int i = 0; i < count; ++i) {
        QFile f(folder + QStringLiteral("/file%1.dat").arg(i, 6, 10, QLatin1Char('0')));
        f.open(QIODevice::WriteOnly);
    }
    QFile(folder + QStringLiteral("/orders.tst6")).open(QIODevice::WriteOnly);
}

double microsPer(int calls, const std::function<void(int)>& call)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        call(i);
    return static_cast<double>(timer.nsecsElapsed()) / 1000.0 / calls;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    RegisterCoreComponents();
    QTemporaryDir root;
    qputenv("TS6_DRIVES", ("C=" + root.path()).toUtf8());
    std::printf("%-8s %18s %18s %18s %22s\n", "files", "FileExists (us)", "exact case (us)", "missing (us)",
                "FindFiles *.TST? (us)");
    for (const int count : {1000, 10000, 50000}) {
        const QString name = QStringLiteral("F%1").arg(count);
        const QString folder = root.path() + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        makeFiles(folder, count);
        const QString winFolder = QStringLiteral("C:\\") + name + QLatin1Char('\\');
        FileExists(winFolder + QStringLiteral("FILE000000.DAT")); // first read of the listing
        const int calls = 20000;
        volatile bool sink = false;
        const double upper = microsPer(calls, [&](int i) {
            sink =
                FileExists(winFolder + QStringLiteral("FILE%1.DAT").arg(i % count, 6, 10, QLatin1Char('0')));
        });
        const double exact = microsPer(calls, [&](int i) {
            sink =
                FileExists(winFolder + QStringLiteral("file%1.dat").arg(i % count, 6, 10, QLatin1Char('0')));
        });
        const double missing = microsPer(
            calls, [&](int i) { sink = FileExists(winFolder + QStringLiteral("NONE%1.DAT").arg(i)); });
        const double find =
            microsPer(200, [&](int) { sink = FindFiles(winFolder, QStringLiteral("*.TST?")).size() == 2; });
        (void)sink;
        std::printf("%-8d %18.2f %18.2f %18.2f %22.1f\n", count, upper, exact, missing, find);
    }
    return 0;
}
