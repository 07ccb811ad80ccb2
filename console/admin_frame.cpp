#include "console/admin_frame.h"

#include <cstdio>

#include "core/strings.h"

namespace brindlex {

namespace {

constexpr std::string_view kHelloMagic = "BRXA";
constexpr int kVersionRefusal = 1233;

void PutU16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xff));
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xff));
}

// Reads big-endian numbers from a payload, never past its end.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  bool U8(std::uint8_t& v) {
    if (bytes_.size() < 1) return false;
    v = static_cast<std::uint8_t>(bytes_[0]);
    bytes_.remove_prefix(1);
    return true;
  }
  bool U16(std::uint16_t& v) {
    if (bytes_.size() < 2) return false;
    v = static_cast<std::uint16_t>(Byte(0) << 8 | Byte(1));
    bytes_.remove_prefix(2);
    return true;
  }
  bool U32(std::uint32_t& v) {
    if (bytes_.size() < 4) return false;
    v = Byte(0) << 24 | Byte(1) << 16 | Byte(2) << 8 | Byte(3);
    bytes_.remove_prefix(4);
    return true;
  }
  bool Bytes(std::size_t n, std::string_view& out) {
    if (bytes_.size() < n) return false;
    out = bytes_.substr(0, n);
    bytes_.remove_prefix(n);
    return true;
  }
  std::string_view Rest() const { return bytes_; }

 private:
  std::uint32_t Byte(std::size_t i) const { return static_cast<std::uint8_t>(bytes_[i]); }
  std::string_view bytes_;
};

bool KnownKind(std::uint8_t kind) {
  return kind >= static_cast<std::uint8_t>(FrameKind::kHello) && kind <= static_cast<std::uint8_t>(FrameKind::kPong);
}

std::string IdFrame(FrameKind kind, std::uint32_t id, std::string_view rest) {
  std::string payload;
  payload.reserve(4 + rest.size());
  PutU32(payload, id);
  payload.append(rest);
  return EncodeFrame(kind, payload);
}

}  // namespace

std::string EncodeFrame(FrameKind kind, std::string_view payload) {
  std::string frame;
  frame.reserve(kFrameHeaderSize + payload.size());
  PutU32(frame, static_cast<std::uint32_t>(payload.size() + 1));
  frame.push_back(static_cast<char>(kind));
  frame.append(payload);
  return frame;
}

std::string HelloFrame(std::string_view password, std::uint16_t version) {
  std::string payload(kHelloMagic);
  PutU16(payload, version);
  PutU32(payload, static_cast<std::uint32_t>(password.size()));
  payload.append(password);
  return EncodeFrame(FrameKind::kHello, payload);
}

std::string WelcomeFrame(std::string_view hostName) {
  std::string payload;
  PutU16(payload, kAdminProtocolVersion);
  payload.append(hostName);
  return EncodeFrame(FrameKind::kWelcome, payload);
}

std::string RefusedFrame(std::string_view text) { return EncodeFrame(FrameKind::kRefused, text); }

std::string CallFrame(std::uint32_t id, std::uint16_t call, std::string_view arguments) {
  std::string payload;
  payload.reserve(6 + arguments.size());
  PutU32(payload, id);
  PutU16(payload, call);
  payload.append(arguments);
  return EncodeFrame(FrameKind::kCall, payload);
}

std::string ReplyFrame(std::uint32_t id, bool ok, std::string_view result) {
  std::string payload;
  payload.reserve(5 + result.size());
  PutU32(payload, id);
  payload.push_back(ok ? 1 : 0);
  payload.append(result);
  return EncodeFrame(FrameKind::kReply, payload);
}

std::string AbortFrame(std::uint32_t id) { return IdFrame(FrameKind::kAbort, id, {}); }

std::string ProgressFrame(std::uint32_t id, std::string_view payload) {
  return IdFrame(FrameKind::kProgress, id, payload);
}

std::string PushFrame(AdminPush kind, std::string_view payload) {
  std::string bytes;
  bytes.reserve(1 + payload.size());
  bytes.push_back(static_cast<char>(kind));
  bytes.append(payload);
  return EncodeFrame(FrameKind::kPush, bytes);
}

bool ParseHello(std::string_view payload, Hello& hello) {
  Cursor in(payload);
  std::string_view magic;
  if (!in.Bytes(kHelloMagic.size(), magic) || magic != kHelloMagic || !in.U16(hello.version)) return false;
  hello.password.clear();
  if (hello.version != kAdminProtocolVersion) return true;
  std::uint32_t length = 0;
  std::string_view password;
  if (!in.U32(length) || !in.Bytes(length, password) || !in.Rest().empty()) return false;
  hello.password.assign(password);
  return true;
}

bool ParseWelcome(std::string_view payload, std::uint16_t& version, std::string& hostName) {
  Cursor in(payload);
  if (!in.U16(version)) return false;
  hostName.assign(in.Rest());
  return true;
}

bool ParseCall(std::string_view payload, std::uint32_t& id, std::uint16_t& call, std::string_view& arguments) {
  Cursor in(payload);
  if (!in.U32(id) || !in.U16(call)) return false;
  arguments = in.Rest();
  return true;
}

bool ParseReply(std::string_view payload, std::uint32_t& id, bool& ok, std::string_view& result) {
  Cursor in(payload);
  std::uint8_t flag = 0;
  if (!in.U32(id) || !in.U8(flag) || flag > 1) return false;
  ok = flag == 1;
  result = in.Rest();
  return true;
}

bool ParseAbort(std::string_view payload, std::uint32_t& id) {
  Cursor in(payload);
  return in.U32(id) && in.Rest().empty();
}

bool ParseProgress(std::string_view payload, std::uint32_t& id, std::string_view& data) {
  Cursor in(payload);
  if (!in.U32(id)) return false;
  data = in.Rest();
  return true;
}

bool ParsePush(std::string_view payload, AdminPush& kind, std::string_view& data) {
  Cursor in(payload);
  std::uint8_t value = 0;
  if (!in.U8(value)) return false;
  if (value < static_cast<std::uint8_t>(AdminPush::kMonitorLine) ||
      value > static_cast<std::uint8_t>(AdminPush::kFarewell))
    return false;
  kind = static_cast<AdminPush>(value);
  data = in.Rest();
  return true;
}

std::string VersionRefusalText(std::uint16_t consoleVersion, std::uint16_t gatewayVersion) {
  char text[256];
  std::snprintf(text, sizeof(text), StrC(kVersionRefusal), std::to_string(consoleVersion).c_str(),
                std::to_string(gatewayVersion).c_str());
  return text;
}

void FrameReader::Feed(std::string_view bytes) {
  if (broken_) return;
  // Frames already taken are dropped before the buffer grows, so it holds
  // one unfinished frame and what came with the last read.
  if (offset_ > 0) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<Frame> FrameReader::Take() {
  if (broken_) return std::nullopt;
  std::string_view rest(buffer_);
  rest.remove_prefix(offset_);
  if (rest.size() < 4) return std::nullopt;
  Cursor in(rest);
  std::uint32_t length = 0;
  in.U32(length);
  if (length == 0 || length > limit_) {
    broken_ = true;
    return std::nullopt;
  }
  if (rest.size() < kFrameHeaderSize) return std::nullopt;
  std::uint8_t kind = static_cast<std::uint8_t>(rest[4]);
  if (!KnownKind(kind)) {
    broken_ = true;
    return std::nullopt;
  }
  if (rest.size() - 4 < length) return std::nullopt;
  Frame frame;
  frame.kind = static_cast<FrameKind>(kind);
  frame.payload.assign(rest.substr(kFrameHeaderSize, length - 1));
  offset_ += 4 + static_cast<std::size_t>(length);
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  }
  return frame;
}

}  // namespace brindlex
