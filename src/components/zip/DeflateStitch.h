#pragma once

#include "masking/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Joins independently compressed deflate streams into one. A compressor that cannot stop short of
// ending its stream (libdeflate) compresses each chunk of a large file on its own; every stream but
// the last then has the "final" mark of its last block cleared and is closed with an empty stored
// block, so it ends on a byte boundary and the next chunk's stream simply follows.
namespace DeflateStitch {

struct StreamEnd
{
    size_t finalBlockBit = 0; // where the header of the last block starts
    size_t endBit = 0;        // just past the end code of the last block
};

// Walks the blocks of a raw deflate stream; nothing when the stream is not well formed.
std::optional<StreamEnd> findStreamEnd(const std::uint8_t* data, size_t size);

// Turns a complete stream into one that a further stream may follow; false when it cannot be read.
bool makeContinuable(Bytes& stream);

} // namespace DeflateStitch
