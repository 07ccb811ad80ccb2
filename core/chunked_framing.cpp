#include "core/chunked_framing.h"

#include <algorithm>

#include "core/chars.h"

namespace brindlex {

namespace {

using Stage = ChunkedFraming::Stage;

// A chunk of more than this is no chunk a cache object could hold anyway.
constexpr std::int64_t kLargestChunk = INT64_C(1) << 56;

// The line of a chunk size has ended.
void SizeLineEnded(ChunkedFraming& f) {
  if (!f.sizeDigits)
    f.stage = Stage::Broken;
  else
    f.stage = f.remaining == 0 ? Stage::TrailerStart : Stage::Data;
}

void FollowOne(ChunkedFraming& f, char c) {
  switch (f.stage) {
    case Stage::Size: {
      int digit = HexValue(c);
      if (digit >= 0) {
        f.remaining = f.remaining * 16 + digit;
        f.sizeDigits = true;
        if (f.remaining > kLargestChunk) f.stage = Stage::Broken;
      } else if (c == '\n') {
        SizeLineEnded(f);
      } else if (c == ';' || IsBlank(c)) {
        f.stage = f.sizeDigits ? Stage::Extension : Stage::Broken;
      } else if (c != '\r') {
        f.stage = Stage::Broken;
      }
      break;
    }
    case Stage::Extension:
      if (c == '\n') SizeLineEnded(f);
      break;
    case Stage::DataEnd:
      if (c == '\n') {
        f.stage = Stage::Size;
        f.sizeDigits = false;
        f.remaining = 0;
      } else if (c != '\r') {
        f.stage = Stage::Broken;
      }
      break;
    case Stage::TrailerStart:
      if (c == '\n')
        f.stage = Stage::Done;
      else if (c != '\r')
        f.stage = Stage::Trailer;
      break;
    case Stage::Trailer:
      if (c == '\n') f.stage = Stage::TrailerStart;
      break;
    case Stage::Data:
    case Stage::Done:
    case Stage::Broken:
      break;
  }
}

}  // namespace

void FollowChunkedFraming(ChunkedFraming& f, const char* bytes, std::size_t length) {
  std::size_t at = 0;
  while (at < length && f.stage != Stage::Done && f.stage != Stage::Broken) {
    if (f.stage == Stage::Data) {
      // Chunk data is skipped whole, not looked at byte by byte.
      std::size_t skip = static_cast<std::size_t>(std::min<std::int64_t>(f.remaining, length - at));
      at += skip;
      f.remaining -= static_cast<std::int64_t>(skip);
      if (f.remaining == 0) f.stage = Stage::DataEnd;
      continue;
    }
    FollowOne(f, bytes[at++]);
  }
}

}  // namespace brindlex
