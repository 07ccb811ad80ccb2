// The header of a datagram a SOCKS5 client relays: one that is accepted is
// unfragmented, lies within the datagram, and is accepted the same when the
// payload is cut off; a header is never accepted from fewer bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "socks/socks_messages.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view datagram(reinterpret_cast<const char*>(data), size);
  SocksUdpHeader header;
  if (ParseSocksUdpHeader(datagram, header) != SocksParse::kComplete) return 0;
  if (header.length > size || data[0] != 0 || data[1] != 0 || data[2] != 0 || (data[3] != 1 && data[3] != 3))
    __builtin_trap();
  SocksUdpHeader alone;
  if (ParseSocksUdpHeader(datagram.substr(0, header.length), alone) != SocksParse::kComplete ||
      alone.target.host != header.target.host || alone.target.port != header.target.port)
    __builtin_trap();
  if (ParseSocksUdpHeader(datagram.substr(0, header.length - 1), alone) != SocksParse::kMalformed) __builtin_trap();
  return 0;
}
