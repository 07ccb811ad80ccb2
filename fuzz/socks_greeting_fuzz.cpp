// The greeting of a SOCKS5 client: a complete greeting is exactly its
// declared methods long and judged the same without what follows it, every
// shorter prefix of it waits, and only a wrong version is malformed.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "socks/socks_messages.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  SocksGreeting greeting;
  SocksParse result = ParseSocksGreeting(input, greeting);
  if (result == SocksParse::kMalformed && (size == 0 || data[0] == 5)) __builtin_trap();
  if (result != SocksParse::kComplete) return 0;
  if (greeting.length != 2u + data[1] || greeting.length > size) __builtin_trap();
  SocksGreeting alone;
  if (ParseSocksGreeting(input.substr(0, greeting.length), alone) != SocksParse::kComplete ||
      alone.offersLogin != greeting.offersLogin)
    __builtin_trap();
  for (size_t n = 0; n < greeting.length; ++n)
    if (ParseSocksGreeting(input.substr(0, n), alone) != SocksParse::kIncomplete) __builtin_trap();
  return 0;
}
