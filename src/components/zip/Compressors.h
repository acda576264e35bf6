#pragma once

#include "components/zip/Bytes.h"

#include <cstddef>

// The deflate compressors of the package writer, on libdeflate (faster than zlib at the same
// level, and smaller). Whole files that fit a bounded buffer compress in one piece; larger files
// are cut into chunks that compress separately, on several cores, and are joined into one stream.
namespace Compressors {

inline constexpr int kLevel = 6;

// The raw deflate stream of a whole buffer, or nothing (stored is better) when it is not smaller.
bool DeflateWhole(const unsigned char* data, size_t size, Bytes& out);

// Whether a sample shrinks by at least 2% at the fastest level: what does not is stored.
bool Compresses(const unsigned char* data, size_t size);

// One chunk of a chunked stream: ends on a byte boundary that the next chunk's stream follows, or,
// for the last chunk, ends the stream.
Bytes DeflateChunk(const unsigned char* data, size_t size, bool last);

} // namespace Compressors
