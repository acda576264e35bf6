// Measures the deflate compressors the zip writer can choose from, on the kinds of data a support
// package holds (logs, data records, small configuration files), one core each: MB/s of the
// thread's own CPU time (so a busy machine does not skew the figures) and output size.
#include "Corpus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

using Compressor = std::function<size_t(const QByteArray&)>;

size_t zlibLevel(const QByteArray& in, int level)
{
    z_stream s{};
    deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(deflateBound(&s, static_cast<uLong>(in.size())));
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    const size_t n = s.total_out;
    deflateEnd(&s);
    return n;
}

size_t libdeflateLevel(const QByteArray& in, int level)
{
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    std::vector<unsigned char> out(libdeflate_deflate_compress_bound(c, static_cast<size_t>(in.size())));
    const size_t n = libdeflate_deflate_compress(c, in.constData(), static_cast<size_t>(in.size()),
                                                 out.data(), out.size());
    libdeflate_free_compressor(c);
    return n;
}

size_t isalLevel(const QByteArray& in, int level)
{
    isal_zstream s;
    isal_deflate_stateless_init(&s);
    std::vector<unsigned char> buffer(level == 1   ? ISAL_DEF_LVL1_DEFAULT
                                      : level == 2 ? ISAL_DEF_LVL2_DEFAULT
                                                   : ISAL_DEF_LVL3_DEFAULT);
    s.level = static_cast<uint32_t>(level);
    s.level_buf = buffer.data();
    s.level_buf_size = static_cast<uint32_t>(buffer.size());
    std::vector<unsigned char> out(static_cast<size_t>(in.size()) + in.size() / 8 + 4096);
    s.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(in.constData()));
    s.avail_in = static_cast<uint32_t>(in.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uint32_t>(out.size());
    s.end_of_stream = 1;
    s.flush = NO_FLUSH;
    isal_deflate_stateless(&s);
    return s.total_out;
}

// The files of a folder, larger ones cut into chunks of 1 MiB as the zip writer cuts them.
std::vector<QByteArray> pieces(const QString& folder, qsizetype limit)
{
    std::vector<QByteArray> out;
    qsizetype total = 0;
    for (const QString& f : QDir(folder).entryList(QDir::Files)) {
        QFile file(folder + QLatin1Char('/') + f);
        file.open(QIODevice::ReadOnly);
        const QByteArray all = file.readAll();
        for (qsizetype at = 0; at < all.size() && total < limit; at += 1 << 20) {
            out.push_back(all.mid(at, 1 << 20));
            total += out.back().size();
        }
    }
    return out;
}

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    writeCorpus(dir.path(), 120);
    const std::vector<QByteArray> inputs[] = {pieces(dir.path() + QStringLiteral("/logs/archive"), 48 << 20),
                                              pieces(dir.path() + QStringLiteral("/data"), 24 << 20),
                                              pieces(dir.path() + QStringLiteral("/config"), 16 << 20)};
    const std::vector<std::pair<const char*, Compressor>> compressors = {
        {"zlib 6", [](const QByteArray& b) { return zlibLevel(b, 6); }},
        {"zlib 1", [](const QByteArray& b) { return zlibLevel(b, 1); }},
        {"libdeflate 4", [](const QByteArray& b) { return libdeflateLevel(b, 4); }},
        {"libdeflate 5", [](const QByteArray& b) { return libdeflateLevel(b, 5); }},
        {"libdeflate 6", [](const QByteArray& b) { return libdeflateLevel(b, 6); }},
        {"libdeflate 7", [](const QByteArray& b) { return libdeflateLevel(b, 7); }},
        {"isa-l 1", [](const QByteArray& b) { return isalLevel(b, 1); }},
        {"isa-l 2", [](const QByteArray& b) { return isalLevel(b, 2); }},
        {"isa-l 3", [](const QByteArray& b) { return isalLevel(b, 3); }},
    };
    std::printf("%-14s %20s %20s %20s\n", "compressor", "logs MB/s   size", "data MB/s   size",
                "configs MB/s   size");
    for (const auto& [name, compress] : compressors) {
        std::printf("%-14s", name);
        for (const std::vector<QByteArray>& input : inputs) {
            size_t in = 0;
            size_t out = 0;
            const double start = threadSeconds();
            for (const QByteArray& piece : input) {
                in += static_cast<size_t>(piece.size());
                out += compress(piece);
            }
            std::printf(" %12.1f %6.2f%%", static_cast<double>(in) / 1e6 / (threadSeconds() - start),
                        100.0 * static_cast<double>(out) / static_cast<double>(in));
        }
        std::printf("\n");
    }
    return 0;
}
