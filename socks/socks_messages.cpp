#include "socks/socks_messages.h"

#include <algorithm>

namespace brindlex {

namespace {

constexpr std::uint8_t kVersion = 5;
constexpr std::uint8_t kMethodLogin = 2;
// RFC 1929 names its own version 1; clients that send the SOCKS version
// there instead exist and are served alike.
constexpr std::uint8_t kLoginVersion = 1;
constexpr std::uint8_t kAddressIpv4 = 1;
constexpr std::uint8_t kAddressName = 3;

std::uint8_t Byte(std::string_view input, size_t at) { return static_cast<std::uint8_t>(input[at]); }

int Port(std::string_view input, size_t at) { return Byte(input, at) << 8 | Byte(input, at + 1); }

// The destination that starts with its address type at `at` (after a
// four-byte head); sets `end` to the byte after the port.
SocksParse ParseTarget(std::string_view input, size_t at, SocksTarget& target, size_t& end) {
  if (input.size() <= at) return SocksParse::kIncomplete;
  std::uint8_t type = Byte(input, at);
  if (type == kAddressIpv4) {
    end = at + 1 + 4 + 2;
    if (input.size() < end) return SocksParse::kIncomplete;
    target.host = std::to_string(Byte(input, at + 1)) + "." + std::to_string(Byte(input, at + 2)) + "." +
                  std::to_string(Byte(input, at + 3)) + "." + std::to_string(Byte(input, at + 4));
  } else if (type == kAddressName) {
    if (input.size() <= at + 1) return SocksParse::kIncomplete;
    size_t nameLength = Byte(input, at + 1);
    end = at + 2 + nameLength + 2;
    if (input.size() < end) return SocksParse::kIncomplete;
    target.host.assign(input.substr(at + 2, nameLength));
  } else {
    return SocksParse::kMalformed;
  }
  target.port = Port(input, end - 2);
  return SocksParse::kComplete;
}

std::string AddressReply(std::uint8_t first, Ipv4 address, int port) {
  const char bytes[kSocksAddressReplySize] = {static_cast<char>(first),
                                              0,
                                              0,
                                              static_cast<char>(kAddressIpv4),
                                              static_cast<char>(address >> 24),
                                              static_cast<char>(address >> 16),
                                              static_cast<char>(address >> 8),
                                              static_cast<char>(address),
                                              static_cast<char>(port >> 8),
                                              static_cast<char>(port)};
  return std::string(bytes, sizeof(bytes));
}

}  // namespace

SocksParse ParseSocksGreeting(std::string_view input, SocksGreeting& greeting) {
  if (input.empty()) return SocksParse::kIncomplete;
  if (Byte(input, 0) != kVersion) return SocksParse::kMalformed;
  if (input.size() < 2) return SocksParse::kIncomplete;
  size_t length = 2 + Byte(input, 1);
  if (input.size() < length) return SocksParse::kIncomplete;
  std::string_view methods = input.substr(2, length - 2);
  greeting.offersLogin = methods.find(static_cast<char>(kMethodLogin)) != std::string_view::npos;
  greeting.length = length;
  return SocksParse::kComplete;
}

SocksParse ParseSocksLogin(std::string_view input, SocksLogin& login) {
  if (input.empty()) return SocksParse::kIncomplete;
  if (Byte(input, 0) != kLoginVersion && Byte(input, 0) != kVersion) return SocksParse::kMalformed;
  if (input.size() < 2) return SocksParse::kIncomplete;
  size_t userLength = Byte(input, 1);
  size_t passwordAt = 2 + userLength + 1;
  if (input.size() < passwordAt) return SocksParse::kIncomplete;
  size_t passwordLength = Byte(input, passwordAt - 1);
  size_t length = passwordAt + passwordLength;
  if (input.size() < length) return SocksParse::kIncomplete;
  login.user = input.substr(2, std::min(userLength, kSocksLoginMax));
  login.password = input.substr(passwordAt, std::min(passwordLength, kSocksLoginMax));
  login.length = length;
  return SocksParse::kComplete;
}

SocksParse ParseSocksRequest(std::string_view input, SocksRequest& request) {
  if (input.empty()) return SocksParse::kIncomplete;
  if (Byte(input, 0) != kVersion) return SocksParse::kMalformed;
  if (input.size() < 2) return SocksParse::kIncomplete;
  std::uint8_t command = Byte(input, 1);
  if (command != kSocksConnect && command != kSocksBind && command != kSocksUdpAssociate) return SocksParse::kMalformed;
  request.command = static_cast<SocksCommand>(command);
  // The reserved byte is not judged: clients are not required to zero it.
  return ParseTarget(input, 3, request.target, request.length);
}

SocksParse ParseSocksUdpHeader(std::string_view datagram, SocksUdpHeader& header) {
  if (datagram.size() < 6 || Byte(datagram, 0) != 0 || Byte(datagram, 1) != 0 || Byte(datagram, 2) != 0)
    return SocksParse::kMalformed;
  SocksParse result = ParseTarget(datagram, 3, header.target, header.length);
  return result == SocksParse::kComplete ? result : SocksParse::kMalformed;
}

std::string SocksReply(Ipv4 address, int port) { return AddressReply(kVersion, address, port); }

std::string SocksUdpHeaderFor(Ipv4 address, int port) { return AddressReply(0, address, port); }

}  // namespace brindlex
