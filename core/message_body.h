// Where a message body ends: what its head declared, and how far the relay
// has come through it. For a request it bounds what may go upstream; for an
// answer being cached, it tells a whole chunked body from one cut short.
// http/message_body.h holds the rules; kept here because the connection
// record carries it.
#pragma once

#include <cstdint>

namespace brindlex {

struct MessageBody {
  enum class Framing : std::uint8_t {
    kNone,     // no body: whatever follows the head is another request
    kLength,   // Content-Length bytes
    kChunked,  // chunks up to the zero-size one and its trailer
    kTunnel,   // CONNECT through a parent proxy: every byte belongs to it
  };
  // Where a chunked body stands.
  enum class Phase : std::uint8_t {
    kSize,          // hex digits of a chunk size
    kExtension,     // the rest of the size line
    kSizeLf,        // the LF after the size line's CR
    kData,          // chunk data (`left` bytes to come)
    kDataCr,        // the CR LF after the data
    kDataLf,        //
    kTrailerStart,  // a trailer line or the final blank line
    kTrailer,       // a trailer line
    kTrailerLf,     // the LF after a trailer line's CR
    kEndLf,         // the LF of the final blank line
    kDone,
    kBroken,  // not chunked syntax: nothing more may pass
  };
  Framing framing = Framing::kNone;
  Phase phase = Phase::kSize;
  // kLength: bytes still to come; kChunked: the size being read, then the
  // data of the chunk still to come.
  std::int64_t left = 0;
  // Bytes of the current size, extension or trailer line, for their bounds.
  std::uint32_t lineBytes = 0;
};

}  // namespace brindlex
