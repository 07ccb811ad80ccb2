// Body framing as a client declares it and the chunked bodies it sends: the
// framing rules accept no head with both kinds of line or with lengths that
// disagree, and the tracker lets the same bytes through however the body is
// cut into pieces, never more than it was given, nothing once it ended or
// broke, and a chunked body only up to its final CR LF CR LF.
//
// Input: lines up to the first blank line, "L<value>" a Content-Length and
// "T<value>" a Transfer-Encoding (a first line "C" makes it a CONNECT); the
// rest is the body that follows the head.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/message_body.h"

using namespace brindlex;

namespace {

// A length value without its trailing blanks and leading zeros: equal
// lengths read the same.
std::string_view Normalised(std::string_view value) {
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  while (value.size() > 1 && value[0] == '0') value.remove_prefix(1);
  return value;
}

// Feeds `bytes` in pieces whose sizes come from the bytes themselves.
size_t FeedInPieces(MessageBody& body, std::string_view bytes) {
  size_t taken = 0;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t piece = 1 + static_cast<std::uint8_t>(bytes[at]) % 17;
    piece = std::min(piece, bytes.size() - at);
    size_t n = TakeBody(body, bytes.data() + at, piece);
    if (n > piece) __builtin_trap();
    taken += n;
    at += piece;
    if (n < piece) break;
  }
  return taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t blank = text.find("\n\n");
  std::string_view head = text.substr(0, blank);
  std::string_view rest = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 2);

  std::vector<std::string_view> lengths, encodings;
  bool connect = false;
  for (size_t at = 0; at <= head.size();) {
    size_t end = std::min(head.find('\n', at), head.size());
    std::string_view line = head.substr(at, end - at);
    if (at == 0 && line == "C") connect = true;
    if (!line.empty() && line[0] == 'L') lengths.push_back(line.substr(1));
    if (!line.empty() && line[0] == 'T') encodings.push_back(line.substr(1));
    at = end + 1;
  }

  MessageBody decided;
  bool accepted = DecideBodyFraming(lengths, encodings, connect, decided);
  if (accepted) {
    if (!lengths.empty() && !encodings.empty()) __builtin_trap();
    if (encodings.size() > 1) __builtin_trap();
    if (connect && decided.framing != MessageBody::Framing::kTunnel) __builtin_trap();
    if (decided.framing == MessageBody::Framing::kLength) {
      if (decided.left < 0 || decided.left > kBodyLengthMax) __builtin_trap();
      for (std::string_view value : lengths)
        if (Normalised(value) != Normalised(lengths[0])) __builtin_trap();
    }
  }

  // The chunked tracker over the rest, whole and in pieces.
  MessageBody whole;
  MessageBody pieces;
  if (!DecideBodyFraming({}, {"chunked"}, false, whole)) __builtin_trap();
  pieces = whole;
  size_t takenWhole = TakeBody(whole, rest.data(), rest.size());
  size_t takenPieces = FeedInPieces(pieces, rest);
  if (takenWhole > rest.size() || takenWhole != takenPieces) __builtin_trap();
  if (BodyEnded(whole) != BodyEnded(pieces) || BodyBroken(whole) != BodyBroken(pieces)) __builtin_trap();
  if (BodyEnded(whole) && BodyBroken(whole)) __builtin_trap();
  if (BodyEnded(whole) && (takenWhole < 5 || rest.substr(takenWhole - 4, 4) != "\r\n\r\n")) __builtin_trap();
  if ((BodyEnded(whole) || BodyBroken(whole)) && TakeBody(whole, rest.data(), rest.size()) != 0) __builtin_trap();
  if (!BodyEnded(whole) && !BodyBroken(whole) && takenWhole != rest.size()) __builtin_trap();

  // A declared length over the same bytes.
  if (accepted && decided.framing == MessageBody::Framing::kLength) {
    std::int64_t left = decided.left;
    size_t taken = TakeBody(decided, rest.data(), rest.size());
    if (static_cast<std::int64_t>(taken) != std::min<std::int64_t>(left, static_cast<std::int64_t>(rest.size())))
      __builtin_trap();
    if (BodyEnded(decided) != (static_cast<std::int64_t>(taken) == left)) __builtin_trap();
  }
  return 0;
}
