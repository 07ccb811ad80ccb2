// The messages of a SOCKS version 5 client (RFC 1928, RFC 1929): the method
// greeting, the user name and password, the request and the header of a
// relayed datagram; and the one reply the gateway sends for a request.
//
// Pure functions over bytes. A parser looks only at the `input` it is given
// and never past its end; a message is judged only once it is whole, so one
// that arrives in many pieces is simply asked about again with more bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/value_codec.h"

namespace brindlex {

enum class SocksParse : std::uint8_t {
  kIncomplete,  // a prefix of a message that may still become valid
  kMalformed,   // never valid, whatever follows
  kComplete,
};

struct SocksGreeting {
  bool offersLogin = false;  // method 2, user name and password, is among those offered
  size_t length = 0;
};
SocksParse ParseSocksGreeting(std::string_view input, SocksGreeting& greeting);

// Longer names and passwords are cut to this many bytes.
inline constexpr size_t kSocksLoginMax = 1023;

struct SocksLogin {
  std::string_view user;
  std::string_view password;
  size_t length = 0;
};
SocksParse ParseSocksLogin(std::string_view input, SocksLogin& login);

enum SocksCommand : std::uint8_t { kSocksConnect = 1, kSocksBind = 2, kSocksUdpAssociate = 3 };

// A destination: a dotted IPv4 address or a domain name as the client gave
// it (address types 1 and 3; type 4, IPv6, is not served).
struct SocksTarget {
  std::string host;
  int port = 0;
};

struct SocksRequest {
  SocksCommand command = kSocksConnect;
  SocksTarget target;
  size_t length = 0;
};
SocksParse ParseSocksRequest(std::string_view input, SocksRequest& request);

// The header of a datagram a client relays: two zero bytes, a fragment
// number that must be 0 (fragments are not reassembled), the destination.
// A datagram is whole as received, so there is no kIncomplete: a short one is
// malformed. `length` is where the payload starts.
struct SocksUdpHeader {
  SocksTarget target;
  size_t length = 0;
};
SocksParse ParseSocksUdpHeader(std::string_view datagram, SocksUdpHeader& header);

// The 10 bytes that answer a request or head a datagram relayed back:
// 05 00 00 01 (or 00 00 00 01 for a datagram), the IPv4 address and the port.
inline constexpr size_t kSocksAddressReplySize = 10;
std::string SocksReply(Ipv4 address, int port);
std::string SocksUdpHeaderFor(Ipv4 address, int port);

}  // namespace brindlex
