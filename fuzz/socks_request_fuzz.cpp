// The request of a SOCKS5 client: a complete request has a served command and
// address type, is judged the same without what follows it, and every shorter
// prefix waits; a name target is the bytes given, an address one a dotted
// quad.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "socks/socks_messages.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  SocksRequest request;
  SocksParse result = ParseSocksRequest(input, request);
  if (result != SocksParse::kComplete) return 0;
  if (request.length > size || request.length < 7 || data[1] < 1 || data[1] > 3) __builtin_trap();
  if (data[3] == 1) {
    std::string dotted = std::to_string(data[4]) + "." + std::to_string(data[5]) + "." + std::to_string(data[6]) + "." +
                         std::to_string(data[7]);
    if (request.length != 10 || request.target.host != dotted) __builtin_trap();
  } else if (data[3] != 3 || request.length != 7u + data[4] || request.target.host != input.substr(5, data[4])) {
    __builtin_trap();
  }
  if (request.target.port != (data[request.length - 2] << 8 | data[request.length - 1])) __builtin_trap();
  SocksRequest alone;
  if (ParseSocksRequest(input.substr(0, request.length), alone) != SocksParse::kComplete ||
      alone.target.host != request.target.host || alone.command != request.command)
    __builtin_trap();
  for (size_t n = 0; n < request.length; ++n)
    if (ParseSocksRequest(input.substr(0, n), alone) != SocksParse::kIncomplete) __builtin_trap();
  return 0;
}
