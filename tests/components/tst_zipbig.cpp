// Past the 32-bit limits of zip, proved by the records themselves rather than by reading gigabytes
// back: a file over 4 GiB (sparse, so the disk is spared) and more than 65,535 entries after it. The
// writer's memory does not grow with the size of a file.
#include "components/zip/ZipWriter.h"
#include "support/TestEnvironment.h"
#include "support/TestTools.h"

#include <QProcess>
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
    QVERIFY(zip.setArchivePath(QStringLiteral("C:\\P.ZIP")));
    QVERIFY(zip.add(QStringLiteral("C:\\LOGS\\*.*"), false, true, QString()));
    QVERIFY2(zip.finish(), qPrintable(zip.lastError()));
    QVERIFY2(peakMegabytes() - before < kMaxGrowthMegabytes,
             qPrintable(QString::number(peakMegabytes() - before)));

    const QString archive = env.driveC() + QStringLiteral("/P.ZIP");
    QFile f(archive);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const auto bytesOf = [&f](qint64 at, qint64 size) { return f.seek(at) ? f.read(size) : QByteArray(); };
    // Python's zipfile finds the directory through the zip64 records and reads every entry's
    // header there, the big one's size from its zip64 field; then the last entry (and no big data).
    TS6_REQUIRE_PROGRAMS({"python3", "unzip", "7zz"});
    QProcess python;
    python.start("python3", {"-c",
                             "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\ni = z.infolist()\n"
                             "print(len(i), i[0].file_size, z.start_dir, z.read(i[-1]).decode(), sep='|')",
                             archive});
    QVERIFY(python.waitForFinished(300000));
    const QStringList read = QString::fromUtf8(python.readAllStandardOutput()).split(u'|');
    QCOMPARE(read, (QStringList{QString::number(entries), QString::number(size), read.value(2),
                                QStringLiteral("the last one\n\n")}));
    const qint64 directory = read.value(2).toLongLong();
    // unzip and 7-Zip list it without reading the data: both check the end records' counts and offsets.
    QCOMPARE(
        QProcess::execute("sh", {"-c", "unzip -lqq \"$0\" >/dev/null && 7zz l \"$0\" >/dev/null", archive}),
        0);
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
}

QTEST_GUILESS_MAIN(TestZipBig)
#include "tst_zipbig.moc"
