#include "components/zip/Compressors.h"

#include "base/CHandle.h"
#include "components/zip/DeflateStitch.h"

#include <libdeflate.h>

#include <algorithm>
#include <new>

namespace {

// What is tried before a large piece is compressed: a sample that does not shrink by 2% at the
// fastest level (pictures, archives, encrypted data) is stored without spending a compressor on it.
constexpr size_t kProbe = 64 * 1024;
constexpr size_t kStoredBlock = 65535;

using CompressorPtr = unique_c_ptr<libdeflate_compressor, libdeflate_free_compressor>;

// Each thread keeps its own compressors: libdeflate's are not shared between threads.
libdeflate_compressor& compressor(int level)
{
    thread_local CompressorPtr main(libdeflate_alloc_compressor(Compressors::kLevel));
    thread_local CompressorPtr fast(libdeflate_alloc_compressor(1));
    libdeflate_compressor* c = level == 1 ? fast.get() : main.get();
    if (!c)
        throw std::bad_alloc();
    return *c;
}

bool worthCompressing(const unsigned char* data, size_t size)
{
    if (size <= kProbe)
        return true;
    thread_local Bytes sample(kProbe);
    const size_t limit = kProbe - kProbe / 50;
    return libdeflate_deflate_compress(&compressor(1), data, kProbe, sample.data(), limit) != 0;
}

void storedBlocks(const unsigned char* data, size_t size, Bytes& out)
{
    out.clear();
    out.reserve(size + (size / kStoredBlock + 1) * 5);
    for (size_t at = 0; at < size; at += kStoredBlock) {
        const auto n = static_cast<unsigned>(std::min(kStoredBlock, size - at));
        // Not final, type 0; the header's remaining bits pad to the byte boundary.
        out.insert(out.end(),
                   {0x00, static_cast<unsigned char>(n & 0xFF), static_cast<unsigned char>(n >> 8),
                    static_cast<unsigned char>(~n & 0xFF), static_cast<unsigned char>((~n >> 8) & 0xFF)});
        out.insert(out.end(), data + at, data + at + n);
    }
}

} // namespace

namespace Compressors {

bool deflateWhole(const unsigned char* data, size_t size, Bytes& out)
{
    if (size == 0 || !worthCompressing(data, size))
        return false;
    out.resize(size - 1); // room for anything smaller than the file, and no more
    const size_t produced =
        libdeflate_deflate_compress(&compressor(kLevel), data, size, out.data(), out.size());
    out.resize(produced);
    return produced != 0;
}

void encodeChunk(const unsigned char* data, size_t size, Bytes& out)
{
    out.clear();
    if (size == 0)
        return;
    if (worthCompressing(data, size)) {
        libdeflate_compressor& c = compressor(kLevel);
        out.resize(libdeflate_deflate_compress_bound(&c, size));
        out.resize(libdeflate_deflate_compress(&c, data, size, out.data(), out.size()));
        if (DeflateStitch::makeContinuable(out) && out.size() < size)
            return;
    }
    storedBlocks(data, size, out);
}

} // namespace Compressors
