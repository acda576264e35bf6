// Measures the deflate compressors the zip writer can choose from, on the kinds of data a support
// package holds (logs, data records), one core each: MB/s and output size against zlib level 6.
#include "Corpus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
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

QByteArray readAll(const QString& folder)
{
    QByteArray all;
    for (const QString& f : QDir(folder).entryList(QDir::Files)) {
        QFile file(folder + QLatin1Char('/') + f);
        file.open(QIODevice::ReadOnly);
        all += file.readAll();
    }
    return all;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    WriteCorpus(dir.path(), 120);
    const QByteArray logs = readAll(dir.path() + QStringLiteral("/logs/archive")).left(48 << 20);
    const QByteArray data = readAll(dir.path() + QStringLiteral("/data")).left(24 << 20);
    const std::vector<std::pair<const char*, Compressor>> compressors = {
        {"zlib 6", [](const QByteArray& b) { return zlibLevel(b, 6); }},
        {"zlib 1", [](const QByteArray& b) { return zlibLevel(b, 1); }},
        {"libdeflate 5", [](const QByteArray& b) { return libdeflateLevel(b, 5); }},
        {"libdeflate 6", [](const QByteArray& b) { return libdeflateLevel(b, 6); }},
        {"isa-l 1", [](const QByteArray& b) { return isalLevel(b, 1); }},
        {"isa-l 2", [](const QByteArray& b) { return isalLevel(b, 2); }},
        {"isa-l 3", [](const QByteArray& b) { return isalLevel(b, 3); }},
    };
    std::printf("%-14s %12s %12s %12s %12s\n", "compressor", "logs MB/s", "logs size", "data MB/s",
                "data size");
    for (const auto& [name, compress] : compressors) {
        double speed[2];
        size_t size[2];
        int k = 0;
        for (const QByteArray* input : {&logs, &data}) {
            QElapsedTimer t;
            t.start();
            size[k] = compress(*input);
            speed[k] = input->size() / 1e6 / (t.nsecsElapsed() / 1e9);
            ++k;
        }
        std::printf("%-14s %12.1f %11.2f%% %12.1f %11.2f%%\n", name, speed[0], 100.0 * size[0] / logs.size(),
                    speed[1], 100.0 * size[1] / data.size());
    }
    return 0;
}
