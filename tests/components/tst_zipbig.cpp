// Past the 32-bit limits of zip, proved by the records themselves rather than by reading gigabytes
// back: a file over 4 GiB (sparse, so the disk is spared) and more than 65,535 entries after it. The
// writer's memory does not grow with the size of a file.
#include "components/zip/ZipWriter.h"
#include "support/ArchiveCheck.h"
#include "support/TestEnvironment.h"

#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <tuple>
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

// The little-endian number of `bytes` bytes at `at` in b (0 past its end).
quint64 numberAt(const QByteArray& b, qsizetype at, int bytes)
{
    const QByteArray n = b.mid(at, bytes);
    quint64 v = 0;
    for (qsizetype i = n.size() - 1; i >= 0; --i)
        v = (v << 8) | static_cast<quint8>(n.at(i));
    return v;
}

} // namespace

class TestZipBig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pastThe32BitLimits();
};

void TestZipBig::pastThe32BitLimits()
{
    TestEnvironment env;
    const QByteArray logs = QFile::encodeName(env.makeFolder(QStringLiteral("c/Logs")));
    const qint64 size = (4LL << 30) + 4097; // its low 32 bits alone would say 4097
    const QByteArray big = QFile::encodeName(env.write(QStringLiteral("c/Logs/0big.log"), "start\n"));
    QCOMPARE(::truncate(big.constData(), size), 0);
    const int entries = 65537;
    for (int i = 0; i < entries - 2; ++i)
        ::close(::open(logs + '/' + QByteArray::number(100000 + i), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    env.write(QStringLiteral("c/Logs/zz.last"), "the last one\n");
    const long before = peakMegabytes();
    ZipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\P.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\*.*"), false, true, QString()));
    QVERIFY2(zip.Finish(), qPrintable(zip.LastError()));
    QVERIFY2(peakMegabytes() - before < kMaxGrowthMegabytes,
             qPrintable(QString::number(peakMegabytes() - before)));

    const QString archive = env.driveC() + QStringLiteral("/P.ZIP");
    QFile f(archive);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const auto bytesOf = [&f](qint64 at, qint64 size) { return f.seek(at) ? f.read(size) : QByteArray(); };
    // The end record says "see zip64" for the count; its locator leads to the zip64 record, which
    // holds it, and where the directory starts and ends.
    const QByteArray end = bytesOf(f.size() - 22 - 20, 42);
    QCOMPARE(numberAt(end, 20, 4), 0x06054b50u);
    QCOMPARE(numberAt(end, 20 + 10, 2), 0xFFFFu);
    QCOMPARE(numberAt(end, 0, 4), 0x07064b50u);
    const auto record = static_cast<qint64>(numberAt(end, 8, 8));
    const QByteArray zip64 = bytesOf(record, 56);
    QCOMPARE(numberAt(zip64, 0, 4), 0x06064b50u);
    QCOMPARE(numberAt(zip64, 32, 8), static_cast<quint64>(entries));
    const auto directory = static_cast<qint64>(numberAt(zip64, 48, 8));
    QCOMPARE(numberAt(end, 20 + 16, 4), static_cast<quint64>(directory));
    QCOMPARE(directory + static_cast<qint64>(numberAt(zip64, 40, 8)), record);
    // The big entry's sizes: in the zip64 field of its central header and of its local header
    // (filled in after the data), the 32-bit fields saying "see zip64".
    for (const auto& [at, sizes, name] : {std::tuple{0LL, 18, 30}, std::tuple{directory, 20, 46}}) {
        const QByteArray h = bytesOf(at, 100);
        QCOMPARE(h.mid(name, 15), QByteArray("C/Logs/0big.log"));
        QCOMPARE(numberAt(h, sizes - 14, 2), 45u);
        QCOMPARE(numberAt(h, sizes, 8), 0xFFFFFFFFFFFFFFFFu);
        const auto extra = static_cast<qsizetype>(name + numberAt(h, sizes + 8, 2));
        QCOMPARE(numberAt(h, extra, 4), 0x00100001u);
        QCOMPARE(numberAt(h, extra + 4, 8), static_cast<quint64>(size));
        QVERIFY(numberAt(h, extra + 12, 8) < static_cast<quint64>(size) / 100); // zeros compress
    }
    // Python's zipfile reads the directory, then the last entry (and no big data).
    QCOMPARE(ReadEntry(archive, QStringLiteral("C/Logs/zz.last")), QByteArray("the last one\n"));
}

QTEST_GUILESS_MAIN(TestZipBig)
#include "tst_zipbig.moc"
