// Past the 32-bit limits of zip, proved by the records themselves rather than by reading gigabytes
// back: a file over 4 GiB (sparse, so the disk is spared) and over 65,535 entries. The writer's
// memory does not grow with the size of a file.
#include "components/zip/ZipWriter.h"
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
constexpr long kMaxGrowthMegabytes = 150;
#endif

long peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

QByteArray readAt(const QString& path, qint64 offset, qint64 size)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    f.seek(offset < 0 ? f.size() + offset : offset);
    return f.read(size);
}

quint64 le(const QByteArray& b, qsizetype at, int bytes)
{
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<quint8>(b.at(at + i));
    return v;
}

// Python's listing of "name size" lines and the last entry's content, read by name alone.
QString pythonListing(const QString& archive)
{
    QProcess python;
    python.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\ni=z.infolist()\n"
                        "print(len(i), i[0].filename, i[0].file_size, z.read(i[-1]).decode(), end='')"),
         archive});
    python.waitForFinished(300000);
    return QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError());
}

} // namespace

class TestZipBig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fileOverFourGigabytes();
    void moreEntriesThanSixteenBitsCount();
};

void TestZipBig::fileOverFourGigabytes()
{
    TestEnvironment env;
    const QString big = env.write(QStringLiteral("c/Logs/huge.log"), "start of the log\n");
    const qint64 size = 4600LL * 1024 * 1024;
    QCOMPARE(::truncate(QFile::encodeName(big).constData(), size), 0);
    env.write(QStringLiteral("c/Logs/small.log"), "after the big one\n");
    const long before = peakMegabytes();
    ZipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\P.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\*.LOG"), false, true, QString()));
    QVERIFY(zip.Finish());
    QVERIFY2(peakMegabytes() - before < kMaxGrowthMegabytes,
             qPrintable(QStringLiteral("memory grew by %1 MB").arg(peakMegabytes() - before)));

    const QString archive = env.driveC() + QStringLiteral("/P.ZIP");
    QCOMPARE(pythonListing(archive), QStringLiteral("2 C/Logs/huge.log %1 after the big one\n").arg(size));
    // The local header: zip64 sizes in its extra field, filled in once the data was written.
    const QByteArray local = readAt(archive, 0, 30 + 15 + 20);
    QCOMPARE(le(local, 0, 4), 0x04034b50u);
    QCOMPARE(le(local, 4, 2), 45u);
    QCOMPARE(le(local, 18, 4), 0xFFFFFFFFu);
    QCOMPARE(le(local, 30 + 15, 2), 1u);
    QCOMPARE(le(local, 30 + 15 + 4, 8), static_cast<quint64>(size));
    QVERIFY(le(local, 30 + 15 + 12, 8) < static_cast<quint64>(size) / 100); // zeros compress
}

void TestZipBig::moreEntriesThanSixteenBitsCount()
{
    TestEnvironment env;
    const QByteArray logs = QFile::encodeName(env.makeFolder(QStringLiteral("c/Logs")));
    const int files = 70000;
    for (int i = 0; i < files; ++i)
        ::close(::open((logs + "/" + QByteArray::number(100000 + i)).constData(), O_CREAT | O_WRONLY, 0644));
    env.write(QStringLiteral("c/Logs/zz.last"), "the last one\n");
    ZipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\P.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\*.*"), false, false, QString()));
    QVERIFY(zip.Finish());

    const QString archive = env.driveC() + QStringLiteral("/P.ZIP");
    QCOMPARE(pythonListing(archive), QStringLiteral("%1 100000 0 the last one\n").arg(files + 1));
    // The end record says "see zip64"; its locator leads to the zip64 record with the true count.
    const QByteArray tail = readAt(archive, -(22 + 20 + 56), 22 + 20 + 56);
    QCOMPARE(le(tail, 56 + 20, 4), 0x06054b50u);
    QCOMPARE(le(tail, 56 + 20 + 10, 2), 0xFFFFu);
    QCOMPARE(le(tail, 56, 4), 0x07064b50u);
    const QByteArray record = readAt(archive, static_cast<qint64>(le(tail, 56 + 8, 8)), 56);
    QCOMPARE(le(record, 0, 4), 0x06064b50u);
    QCOMPARE(le(record, 32, 8), static_cast<quint64>(files + 1));
    QCOMPARE(le(record, 48, 8) + le(record, 40, 8), QFileInfo(archive).size() - 22 - 20 - 56);
}

QTEST_GUILESS_MAIN(TestZipBig)
#include "tst_zipbig.moc"
