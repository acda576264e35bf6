#include "components/zip/Compressors.h"

#include "components/zip/DeflateStitch.h"

#include <libdeflate.h>
#include <zlib.h>

#include <memory>
#include <new>

namespace {

struct CompressorDeleter
{
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

libdeflate_compressor& threadCompressor()
{
    thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(Compressors::kLevel));
    if (!compressor)
        throw std::bad_alloc();
    return *compressor;
}

struct ZStream
{
    z_stream s{};
    explicit ZStream(int level)
    {
        if (deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~ZStream() { deflateEnd(&s); }
    ZStream(const ZStream&) = delete;
    ZStream& operator=(const ZStream&) = delete;
};

} // namespace

namespace Compressors {

bool DeflateWhole(const unsigned char* data, size_t size, Bytes& out)
{
    out.clear();
    if (size == 0)
        return false;
    libdeflate_compressor& compressor = threadCompressor();
    out.resize(size);
    const size_t produced = libdeflate_deflate_compress(&compressor, data, size, out.data(), out.size());
    if (produced == 0 || produced >= size) { // no smaller than the input: store it
        out.clear();
        out.shrink_to_fit();
        return false;
    }
    out.resize(produced);
    out.shrink_to_fit();
    return true;
}

bool Compresses(const unsigned char* data, size_t size)
{
    if (size == 0)
        return true;
    ZStream z(1);
    Bytes out(deflateBound(&z.s, static_cast<uLong>(size)));
    z.s.next_in = const_cast<unsigned char*>(data);
    z.s.avail_in = static_cast<uInt>(size);
    z.s.next_out = out.data();
    z.s.avail_out = static_cast<uInt>(out.size());
    deflate(&z.s, Z_FINISH);
    return z.s.total_out < size - size / 50;
}

Bytes DeflateChunk(const unsigned char* data, size_t size, bool last)
{
    libdeflate_compressor& compressor = threadCompressor();
    Bytes out(libdeflate_deflate_compress_bound(&compressor, size));
    out.resize(libdeflate_deflate_compress(&compressor, data, size, out.data(), out.size()));
    if (last || DeflateStitch::MakeContinuable(out))
        return out;
    // Not expected: a stream of its own that cannot be read back. zlib ends a chunk on a byte
    // boundary by itself, with the same result for the same data.
    ZStream z(kLevel);
    out.assign(deflateBound(&z.s, static_cast<uLong>(size)) + 64, 0);
    z.s.next_in = const_cast<unsigned char*>(data);
    z.s.avail_in = static_cast<uInt>(size);
    z.s.next_out = out.data();
    z.s.avail_out = static_cast<uInt>(out.size());
    deflate(&z.s, Z_SYNC_FLUSH);
    out.resize(z.s.total_out);
    return out;
}

} // namespace Compressors
