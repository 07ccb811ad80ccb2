// The body of a message: where it ends, decided once from the head, and the
// tracker that lets exactly its bytes pass. For a request on its way to the
// next hop, what follows the body is the client's next request, never more of
// this one: a next hop that drew the line elsewhere would take those bytes as
// a request nobody checked. For an answer on its way into the cache, only a
// chunked body that reached its last chunk is a whole object.
//
// Pure functions over (bytes, length); no state of their own, safe from any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/message_body.h"

namespace brindlex {

// Longest declared length taken (about 1 EB): anything longer is no length.
inline constexpr std::int64_t kBodyLengthMax = (std::int64_t{1} << 60) - 1;
// Hex digits of a chunk size at most (kBodyLengthMax fits in 15).
inline constexpr std::uint32_t kChunkSizeDigitsMax = 15;
// A chunk extension or a trailer line longer than this ends the body as
// broken: the tracker must not be kept reading a line without end.
inline constexpr std::uint32_t kChunkLineMax = 4096;

// The framing a head declares, from the values of its Content-Length and of
// its Transfer-Encoding lines in their order (leading blanks already
// skipped). False when the head is to be refused as malformed: both kinds of
// line; a Content-Length that is not only digits, beyond kBodyLengthMax, or
// two that differ; a Transfer-Encoding other than one "chunked". A CONNECT
// (`connect`) that passes these rules is a tunnel whatever it declared.
bool DecideBodyFraming(const std::vector<std::string_view>& contentLengths,
                       const std::vector<std::string_view>& transferEncodings, bool connect, MessageBody& body);

// How many of the `length` bytes at `bytes` belong to the body, the tracker
// advanced past them; the rest follow the body. A chunked body whose syntax
// breaks stops at the byte that broke it (BodyBroken).
size_t TakeBody(MessageBody& body, const char* bytes, size_t length);

// The body is complete: no byte more belongs to it.
bool BodyEnded(const MessageBody& body);
// A chunked body stopped being chunked syntax.
bool BodyBroken(const MessageBody& body);

}  // namespace brindlex
