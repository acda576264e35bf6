// A file of several gigabytes (sparse, so the disk is spared) goes into the package with zip64,
// and the writer's memory does not grow with its size.
#include "components/zip/MinizipWriter.h"
#include "support/ArchiveCheck.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxGrowthMegabytes = 600; // the sanitizer keeps freed memory aside for a while
#else
constexpr long kMaxGrowthMegabytes = 200;
#endif

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

class TestZipBig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void severalGigabytesWithZip64AndBoundedMemory();
};

void TestZipBig::severalGigabytesWithZip64AndBoundedMemory()
{
    TestEnvironment env;
    const QString big = env.write(QStringLiteral("c/Logs/huge.log"), "start of the log\n");
    const qint64 size = 4600LL * 1024 * 1024; // past 4 GiB: needs zip64
    QCOMPARE(::truncate(QFile::encodeName(big).constData(), size), 0);
    env.write(QStringLiteral("c/Logs/small.log"), "after the big one\n");
    const long before = peakKilobytes();
    MinizipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\P.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\*.LOG"), false, true, QString()));
    QVERIFY(zip.Finish());
    const long grown = (peakKilobytes() - before) / 1024;
    QVERIFY2(grown < kMaxGrowthMegabytes, qPrintable(QStringLiteral("memory grew by %1 MB").arg(grown)));

    const QString archive = env.driveC() + QStringLiteral("/P.ZIP");
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\n"
                                 "for i in z.infolist(): print(i.filename, i.file_size, i.compress_type)\n"
                                 "print(z.read('C/Logs/small.log').decode(), end='')\n"
                                 "with z.open('C/Logs/huge.log') as f: print(f.read(16).decode())"),
                  archive});
    QVERIFY(python.waitForFinished(600000));
    QCOMPARE(
        QString::fromUtf8(python.readAllStandardOutput()),
        QStringLiteral("C/Logs/huge.log %1 8\nC/Logs/small.log 18 0\nafter the big one\nstart of the log\n")
            .arg(size));
    const ArchiveReport report = CheckArchive(archive);
    QVERIFY2(report.valid(), qPrintable(report.details));
}

QTEST_GUILESS_MAIN(TestZipBig)
#include "tst_zipbig.moc"
