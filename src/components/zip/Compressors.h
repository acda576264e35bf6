#pragma once

#include "masking/Bytes.h"

#include <cstddef>

// The deflate encoders of the package writer, on libdeflate (faster than zlib at the same level,
// and smaller). A whole file is one complete stream, or its bytes as they are when deflate would
// not make them smaller. A large file is cut into chunks that encode separately, on any core,
// and whose encodings simply follow one another: each ends on a byte boundary without the final
// mark, and the entry ends with kFinalBlock.
namespace Compressors {

// Chosen by measurement (bench_compressors, bench_zip): level 5 packs the benchmark corpus 2% smaller
// than zip -6 at 4.7 times its speed; level 6 costs a fifth more time for 1% less, level 4 is a
// third faster on logs but 7% larger than zip -6.
inline constexpr int kLevel = 5;

// The complete deflate stream of a whole file into out, when it is smaller than the file; false
// (out undefined) when the file is better stored as it is.
bool deflateWhole(const unsigned char* data, size_t size, Bytes& out);

// One chunk of a larger entry, as deflate blocks that a further chunk may follow; data that does
// not compress goes into stored blocks, so a chunk never grows by more than 5 bytes in 64 KiB.
void encodeChunk(const unsigned char* data, size_t size, Bytes& out);

// The empty final block (fixed codes, end of block) that closes a stream made of chunks.
inline constexpr unsigned char kFinalBlock[2] = {0x03, 0x00};

} // namespace Compressors
