// Follows the framing of a chunked response body piece by piece, only to know
// whether its last chunk (size 0, trailers, blank line) has arrived: an answer
// cut off before it must not be kept as a whole object. Nothing is decoded or
// copied; the state is a few bytes carried in the connection record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindlex {

struct ChunkedFraming {
  enum class Stage : std::uint8_t { Size, Extension, Data, DataEnd, TrailerStart, Trailer, Done, Broken };
  Stage stage = Stage::Size;
  bool sizeDigits = false;     // a hexadecimal digit of the current size was seen
  std::int64_t remaining = 0;  // the size being read, then the data bytes still to come
};

// Reads the next `length` bytes of the body. Bytes after the end are ignored;
// framing that breaks the grammar (no size, a chunk not followed by its line
// end, a size too large) leaves the body broken for good.
void FollowChunkedFraming(ChunkedFraming& framing, const char* bytes, std::size_t length);

// Whether the last chunk and the blank line after its trailers have arrived.
inline bool ChunkedBodyComplete(const ChunkedFraming& framing) { return framing.stage == ChunkedFraming::Stage::Done; }

}  // namespace brindlex
