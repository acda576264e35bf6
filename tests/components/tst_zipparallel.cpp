// The encoders and the pool: chunks joined into one stream, and archives whose bytes do not depend
// on the number of workers.
#include "components/zip/Compressors.h"
#include "components/zip/DeflateStitch.h"
#include "components/zip/ZipWriter.h"
#include "support/ArchiveCheck.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>

#include <zlib.h>

#include <atomic>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray logText(int bytes, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray out;
    out.reserve(bytes + 100);
    while (out.size() < bytes)
        out += "2026-12-04 10:" + QByteArray::number(random() % 60) +
               " order=" + QByteArray::number(random() % 9000) +
               " screen=ORDERS step=" + QByteArray::number(random() % 7) + "\r\n";
    return out.left(bytes);
}

QByteArray noise(int bytes, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray out(bytes, Qt::Uninitialized);
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

QByteArray inflateRaw(const Bytes& stream, size_t expected)
{
    QByteArray out(static_cast<qsizetype>(expected) + 16, '\0');
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&z, Z_FINISH);
    out.resize(static_cast<qsizetype>(z.total_out));
    inflateEnd(&z);
    return result == Z_STREAM_END ? out : QByteArray("not a complete stream");
}

Bytes zlibStream(const QByteArray& data, int level, int strategy)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, strategy);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

class TestZipParallel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void streamEndsAreFoundInEveryBlockKind();
    void stitchedChunksInflateToTheWholeFile();
    void garbageIsRejectedNotCrashedOn();
    void sameBytesWhateverTheWorkers();
    void fileSwappedForAFolderWhileBeingPacked();
};

void TestZipParallel::streamEndsAreFoundInEveryBlockKind()
{
    const QByteArray text = logText(300000, 1);
    for (const auto& [level, strategy] : {std::pair{0, Z_DEFAULT_STRATEGY}, std::pair{6, Z_FIXED},
                                          std::pair{6, Z_DEFAULT_STRATEGY}, std::pair{9, Z_HUFFMAN_ONLY}}) {
        const Bytes stream = zlibStream(text, level, strategy);
        const auto end = DeflateStitch::FindStreamEnd(stream.data(), stream.size());
        QVERIFY(end);
        QCOMPARE((end->endBit + 7) / 8, stream.size());
        QVERIFY(end->finalBlockBit < end->endBit);
    }
    const Bytes empty = zlibStream(QByteArray(), 6, Z_DEFAULT_STRATEGY);
    QVERIFY(DeflateStitch::FindStreamEnd(empty.data(), empty.size()));
}

// Chunks encoded on their own, compressed or in stored blocks, then the final block: one stream.
void TestZipParallel::stitchedChunksInflateToTheWholeFile()
{
    const QByteArray parts[] = {logText(1 << 20, 2), noise(70000, 3),       QByteArray(),
                                logText(12345, 4),   QByteArray(5000, 'a'), noise(300, 5)};
    Bytes joined;
    QByteArray whole;
    for (const QByteArray& part : parts) {
        Bytes stream;
        Compressors::EncodeChunk(reinterpret_cast<const unsigned char*>(part.constData()),
                                 static_cast<size_t>(part.size()), stream);
        QVERIFY(stream.size() <= static_cast<size_t>(part.size()) + 5 * (part.size() / 65535 + 1));
        joined.insert(joined.end(), stream.begin(), stream.end());
        whole += part;
    }
    joined.insert(joined.end(), std::begin(Compressors::kFinalBlock), std::end(Compressors::kFinalBlock));
    QCOMPARE(inflateRaw(joined, static_cast<size_t>(whole.size())), whole);
}

void TestZipParallel::garbageIsRejectedNotCrashedOn()
{
    std::mt19937 random(5);
    int accepted = 0;
    for (int i = 0; i < 3000; ++i) {
        Bytes junk(static_cast<size_t>(random() % 600));
        for (auto& b : junk)
            b = static_cast<unsigned char>(random());
        if (const auto end = DeflateStitch::FindStreamEnd(junk.data(), junk.size())) {
            QVERIFY(end->endBit <= junk.size() * 8);
            ++accepted;
        }
    }
    QVERIFY(accepted < 3000);
}

void TestZipParallel::sameBytesWhateverTheWorkers()
{
    TestEnvironment env;
    for (int i = 0; i < 150; ++i)
        env.write(QStringLiteral("c/Logs/small/f%1.config").arg(i),
                  logText(200 + i * 37, static_cast<unsigned>(i)));
    const QByteArray big = logText(5 << 20, 8); // in chunks
    env.write(QStringLiteral("c/Logs/big.log"), big);
    env.write(QStringLiteral("c/Logs/big.bin"), noise(3 << 20, 9));
    QByteArray archives[3];
    const int workers[] = {1, 2, 5};
    for (int k = 0; k < 3; ++k) {
        ZipWriter zip(workers[k]);
        QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\P%1.ZIP").arg(k)));
        QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\BIG.LOG"), false, true, QString())); // read by this thread
        QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\*.*"), true, true, QString()));      // read by the workers
        QVERIFY(zip.Finish());
        QFile f(env.driveC() + QStringLiteral("/P%1.ZIP").arg(k));
        QVERIFY(f.open(QIODevice::ReadOnly));
        archives[k] = f.readAll();
    }
    QVERIFY(archives[0] == archives[1]);
    QVERIFY(archives[0] == archives[2]);
    const QString path = env.driveC() + QStringLiteral("/P0.ZIP");
    const ArchiveReport report = CheckArchive(path);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.names.size(), 152);
    QCOMPARE(ReadEntry(path, QStringLiteral("C/Logs/big.log")), big);
}

// A file that becomes a folder (and back) while packages are made of it: packed as read, or
// listed as skipped, never a crash or a broken archive.
void TestZipParallel::fileSwappedForAFolderWhileBeingPacked()
{
    TestEnvironment env;
    const QString file = env.write(QStringLiteral("c/Logs/flip.log"), "a file\n");
    env.write(QStringLiteral("c/Logs/steady.log"), "steady\n");
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        const QByteArray path = QFile::encodeName(file);
        for (int i = 0; !stop; ++i) {
            if (i % 2 == 0) {
                ::unlink(path.constData());
                ::mkdir(path.constData(), 0755);
            } else {
                ::rmdir(path.constData());
                if (FILE* f = std::fopen(path.constData(), "w")) {
                    std::fputs("a file\n", f);
                    std::fclose(f);
                }
            }
        }
    });
    for (int round = 0; round < 40; ++round) {
        ZipWriter zip(2);
        QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\R%1.ZIP").arg(round)));
        QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\*.LOG"), false, true, QString()));
        QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\FLIP.LOG"), false, true, QString()));
        QVERIFY(zip.Finish());
    }
    stop = true;
    flipper.join();
    for (int round = 0; round < 40; round += 13) {
        const ArchiveReport report = CheckArchive(env.driveC() + QStringLiteral("/R%1.ZIP").arg(round));
        QVERIFY2(report.valid(), qPrintable(report.details));
        QVERIFY(report.names.contains(QStringLiteral("C/Logs/steady.log")));
        for (const ArchiveEntry& e : report.entries) // as it was read, or just made
            QVERIFY(e.name != QLatin1String("C/Logs/flip.log") || e.size == 0 || e.size == 7);
    }
}

QTEST_GUILESS_MAIN(TestZipParallel)
#include "tst_zipparallel.moc"
