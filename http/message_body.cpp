#include "http/message_body.h"

#include <algorithm>

#include "core/chars.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

using Phase = MessageBody::Phase;

std::string_view TrimEnd(std::string_view value) {
  while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
  return value;
}

// Digits only, within kBodyLengthMax; -1 for anything else.
std::int64_t ParseLength(std::string_view value) {
  value = TrimEnd(value);
  if (value.empty()) return -1;
  std::int64_t length = 0;
  for (char c : value) {
    if (!IsDigit(c) || length > (kBodyLengthMax - (c - '0')) / 10) return -1;
    length = length * 10 + (c - '0');
  }
  return length;
}

// One byte of a chunked body outside chunk data: the next phase.
Phase ChunkSyntaxStep(MessageBody& body, char c) {
  // Bare LFs and CRs without their LF are where parsers disagree about line
  // ends; none is let through.
  auto lineByte = [&body, c](Phase same, Phase afterCr) {
    if (c == '\r') return afterCr;
    if (c == '\n' || c == '\0' || ++body.lineBytes > kChunkLineMax) return Phase::kBroken;
    return same;
  };
  switch (body.phase) {
    case Phase::kSize:
      if (int digit = HexValue(c); digit >= 0) {
        if (++body.lineBytes > kChunkSizeDigitsMax) return Phase::kBroken;
        body.left = body.left * 16 + digit;
        return Phase::kSize;
      }
      if (body.lineBytes == 0) return Phase::kBroken;
      if (c == '\r') return Phase::kSizeLf;
      if (c != ';' && !IsBlank(c)) return Phase::kBroken;
      body.lineBytes = 0;
      return Phase::kExtension;
    case Phase::kExtension:
      return lineByte(Phase::kExtension, Phase::kSizeLf);
    case Phase::kSizeLf:
      if (c != '\n') return Phase::kBroken;
      body.lineBytes = 0;
      return body.left == 0 ? Phase::kTrailerStart : Phase::kData;
    case Phase::kDataCr:
      return c == '\r' ? Phase::kDataLf : Phase::kBroken;
    case Phase::kDataLf:
      return c == '\n' ? Phase::kSize : Phase::kBroken;
    case Phase::kTrailerStart:
      if (c == '\r') return Phase::kEndLf;
      body.lineBytes = 0;
      return lineByte(Phase::kTrailer, Phase::kTrailerLf);
    case Phase::kTrailer:
      return lineByte(Phase::kTrailer, Phase::kTrailerLf);
    case Phase::kTrailerLf:
      return c == '\n' ? Phase::kTrailerStart : Phase::kBroken;
    case Phase::kEndLf:
      return c == '\n' ? Phase::kDone : Phase::kBroken;
    case Phase::kData:
    case Phase::kDone:
    case Phase::kBroken:
      break;
  }
  return body.phase;
}

size_t TakeChunked(MessageBody& body, const char* bytes, size_t length) {
  size_t at = 0;
  while (at < length && body.phase != Phase::kDone && body.phase != Phase::kBroken) {
    if (body.phase == Phase::kData) {
      size_t data = static_cast<size_t>(std::min<std::int64_t>(body.left, static_cast<std::int64_t>(length - at)));
      at += data;
      body.left -= static_cast<std::int64_t>(data);
      if (body.left == 0) body.phase = Phase::kDataCr;
      continue;
    }
    Phase next = ChunkSyntaxStep(body, bytes[at]);
    if (next == Phase::kBroken) {
      body.phase = next;
      break;
    }
    body.phase = next;
    ++at;
  }
  return at;
}

}  // namespace

bool DecideBodyFraming(const std::vector<std::string_view>& contentLengths,
                       const std::vector<std::string_view>& transferEncodings, bool connect, MessageBody& body) {
  body = MessageBody{};
  if (!contentLengths.empty() && !transferEncodings.empty()) return false;
  if (transferEncodings.size() > 1) return false;
  if (transferEncodings.size() == 1) {
    if (!EqualsNoCase(TrimEnd(transferEncodings[0]), "chunked")) return false;
    body.framing = MessageBody::Framing::kChunked;
  }
  for (std::string_view value : contentLengths) {
    std::int64_t length = ParseLength(value);
    if (length < 0 || (body.framing == MessageBody::Framing::kLength && length != body.left)) return false;
    body.framing = MessageBody::Framing::kLength;
    body.left = length;
  }
  if (connect) body = MessageBody{MessageBody::Framing::kTunnel};
  return true;
}

size_t TakeBody(MessageBody& body, const char* bytes, size_t length) {
  switch (body.framing) {
    case MessageBody::Framing::kNone:
      return 0;
    case MessageBody::Framing::kLength: {
      size_t taken = static_cast<size_t>(std::min<std::int64_t>(body.left, static_cast<std::int64_t>(length)));
      body.left -= static_cast<std::int64_t>(taken);
      return taken;
    }
    case MessageBody::Framing::kChunked:
      return TakeChunked(body, bytes, length);
    case MessageBody::Framing::kTunnel:
      break;
  }
  return length;
}

bool BodyEnded(const MessageBody& body) {
  switch (body.framing) {
    case MessageBody::Framing::kNone:
      return true;
    case MessageBody::Framing::kLength:
      return body.left == 0;
    case MessageBody::Framing::kChunked:
      return body.phase == Phase::kDone;
    case MessageBody::Framing::kTunnel:
      break;
  }
  return false;
}

bool BodyBroken(const MessageBody& body) { return body.phase == Phase::kBroken; }

}  // namespace brindlex
