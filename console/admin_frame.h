// The administration channel's frames and the opening handshake, without the
// socket. A frame is a u32 big-endian length of what follows, a u8 kind and
// the payload; every number inside a payload is big-endian too.
//
//   kHello     console: "BRXA", u16 version, u32-length password (empty on
//              the local socket)
//   kWelcome   gateway: u16 version, the gateway's host name (the rest)
//   kRefused   gateway: a text for the console to show; the link then closes
//   kCall      console: u32 id, u16 call, arguments
//   kReply     gateway: u32 id, u8 ok, the result
//   kAbort     console: u32 id
//   kProgress  gateway: u32 id, payload
//   kPush      gateway: u8 AdminPush, payload
//   kPing, kPong   either side, empty
//
// Pure functions and a reader object without threads of its own: one reader
// belongs to one connection's reading thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/admin_link.h"

namespace brindlex {

inline constexpr std::uint16_t kAdminProtocolVersion = 1;

enum class FrameKind : std::uint8_t {
  kHello = 1,
  kWelcome = 2,
  kRefused = 3,
  kCall = 4,
  kReply = 5,
  kAbort = 6,
  kProgress = 7,
  kPush = 8,
  kPing = 9,
  kPong = 10,
};

// The largest length field (kind byte and payload) a reader accepts: before
// a console has logged in a hello is all it may send; afterwards a console's
// call carries at most a settings file's worth of arguments, and a gateway's
// reply may carry a month of statistics.
inline constexpr std::size_t kFrameLimitBeforeLogin = 4 * 1024;
inline constexpr std::size_t kFrameLimitFromConsole = 32 * 1024 * 1024;
inline constexpr std::size_t kFrameLimitFromGateway = 80 * 1024 * 1024;
inline constexpr std::size_t kFrameHeaderSize = 5;

struct Frame {
  FrameKind kind = FrameKind::kPing;
  std::string payload;
};

// The bytes of one frame.
std::string EncodeFrame(FrameKind kind, std::string_view payload);
std::string HelloFrame(std::string_view password, std::uint16_t version = kAdminProtocolVersion);
std::string WelcomeFrame(std::string_view hostName);
std::string RefusedFrame(std::string_view text);
std::string CallFrame(std::uint32_t id, std::uint16_t call, std::string_view arguments);
std::string ReplyFrame(std::uint32_t id, bool ok, std::string_view result);
std::string AbortFrame(std::uint32_t id);
std::string ProgressFrame(std::uint32_t id, std::string_view payload);
std::string PushFrame(AdminPush kind, std::string_view payload);

// Payload parsers: each reads only the payload it is given and returns false
// when it is too short, too long or carries a value that cannot be.
struct Hello {
  std::uint16_t version = 0;
  std::string password;  // only read when the version is ours
};
// The magic and the version must be there; the rest only when the version is
// ours (another version may lay its hello out otherwise).
bool ParseHello(std::string_view payload, Hello& hello);
bool ParseWelcome(std::string_view payload, std::uint16_t& version, std::string& hostName);
bool ParseCall(std::string_view payload, std::uint32_t& id, std::uint16_t& call, std::string_view& arguments);
bool ParseReply(std::string_view payload, std::uint32_t& id, bool& ok, std::string_view& result);
bool ParseAbort(std::string_view payload, std::uint32_t& id);
bool ParseProgress(std::string_view payload, std::uint32_t& id, std::string_view& data);
bool ParsePush(std::string_view payload, AdminPush& kind, std::string_view& data);

// The refusal a console of another protocol version gets, naming both.
std::string VersionRefusalText(std::uint16_t consoleVersion, std::uint16_t gatewayVersion);

// Cuts a byte stream into frames. Holds at most one unfinished frame beyond
// what the caller fed since its last Take, so a caller that takes every frame
// after each Feed keeps it within its limit plus one read. A length of zero,
// one above the limit or an unknown kind breaks the stream for good: the
// peer is not speaking this protocol.
class FrameReader {
 public:
  explicit FrameReader(std::size_t limit) : limit_(limit) {}
  void SetLimit(std::size_t limit) { limit_ = limit; }
  void Feed(std::string_view bytes);
  // The next whole frame, or nothing when none is complete (or the stream is
  // broken).
  std::optional<Frame> Take();
  bool Broken() const { return broken_; }
  // Some bytes of a frame not yet whole are held.
  bool MidFrame() const { return buffer_.size() > offset_; }
  std::size_t Buffered() const { return buffer_.size() - offset_; }

 private:
  std::size_t limit_;
  std::string buffer_;
  std::size_t offset_ = 0;  // where the next frame begins in buffer_
  bool broken_ = false;
};

}  // namespace brindlex
