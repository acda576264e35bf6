// Past the 32-bit limits of zip, proved by the records themselves rather than by reading gigabytes
// back: a file over 4 GiB (sparse, so the disk is spared) and more than 65,535 entries. The writer's
// memory does not grow with the size of a file.
#include "components/zip/ZipWriter.h"
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

// The little-endian number of `bytes` bytes at `at` in the file (from its end when negative).
quint64 numberAt(const QString& path, qint64 at, int bytes)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    f.seek(at < 0 ? f.size() + at : at);
    const QByteArray b = f.read(bytes);
    quint64 v = 0;
    for (qsizetype i = b.size() - 1; i >= 0; --i)
        v = (v << 8) | static_cast<quint8>(b.at(i));
    return v;
}

// Python's count of entries, the first one's name and size, and the last one's content.
QString pythonSays(const QString& archive)
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

QString pack(const TestEnvironment& env, const QString& source)
{
    ZipWriter zip;
    const bool ok = zip.SetArchivePath(QStringLiteral("C:\\P.ZIP")) &&
                    zip.Add(source, false, true, QString()) && zip.Finish();
    return ok ? env.driveC() + QStringLiteral("/P.ZIP") : zip.LastError();
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
    const QString archive = pack(env, QStringLiteral("C:\\LOGS\\*.LOG"));
    QVERIFY2(peakMegabytes() - before < kMaxGrowthMegabytes,
             qPrintable(QString::number(peakMegabytes() - before)));
    QCOMPARE(pythonSays(archive), QStringLiteral("2 C/Logs/huge.log %1 after the big one\n").arg(size));
    // The local header: zip64 sizes in the extra field after the name, filled in after the data.
    QCOMPARE(numberAt(archive, 4, 2), 45u);
    QCOMPARE(numberAt(archive, 18, 8), 0xFFFFFFFFFFFFFFFFu);
    QCOMPARE(numberAt(archive, 30 + 15, 4), 0x00100001u);
    QCOMPARE(numberAt(archive, 30 + 15 + 4, 8), static_cast<quint64>(size));
    QVERIFY(numberAt(archive, 30 + 15 + 12, 8) < static_cast<quint64>(size) / 100); // zeros compress
}

void TestZipBig::moreEntriesThanSixteenBitsCount()
{
    TestEnvironment env;
    const QByteArray logs = QFile::encodeName(env.makeFolder(QStringLiteral("c/Logs")));
    const int files = 70000;
    for (int i = 0; i < files; ++i)
        ::close(::open(logs + '/' + QByteArray::number(100000 + i), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    env.write(QStringLiteral("c/Logs/zz.last"), "the last one\n");
    const QString archive = pack(env, QStringLiteral("C:\\LOGS\\*.*"));
    QCOMPARE(pythonSays(archive), QStringLiteral("%1 C/Logs/100000 0 the last one\n").arg(files + 1));
    // The end record says "see zip64"; its locator leads to the zip64 record with the true count.
    QCOMPARE(numberAt(archive, -22, 4), 0x06054b50u);
    QCOMPARE(numberAt(archive, -22 + 10, 2), 0xFFFFu);
    QCOMPARE(numberAt(archive, -22 - 20, 4), 0x07064b50u);
    const auto record = static_cast<qint64>(numberAt(archive, -22 - 20 + 8, 8));
    QCOMPARE(numberAt(archive, record, 4), 0x06064b50u);
    QCOMPARE(numberAt(archive, record + 32, 8), static_cast<quint64>(files + 1));
    QCOMPARE(numberAt(archive, record + 48, 8) + numberAt(archive, record + 40, 8),
             static_cast<quint64>(record));
}

QTEST_GUILESS_MAIN(TestZipBig)
#include "tst_zipbig.moc"
