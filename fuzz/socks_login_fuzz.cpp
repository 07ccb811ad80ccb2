// The user name and password of a SOCKS5 client: a complete message is its
// two declared fields long, each field lies within it and is cut at the
// longest name kept, and every shorter prefix waits.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "socks/socks_messages.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  SocksLogin login;
  SocksParse result = ParseSocksLogin(input, login);
  if (result != SocksParse::kComplete) return 0;
  if (login.length > size || login.length != 3u + data[1] + data[2u + data[1]]) __builtin_trap();
  const char* end = input.data() + login.length;
  if (login.user.data() != input.data() + 2 || login.password.data() + login.password.size() > end ||
      login.user.size() > kSocksLoginMax || login.password.size() > kSocksLoginMax)
    __builtin_trap();
  SocksLogin alone;
  if (ParseSocksLogin(input.substr(0, login.length), alone) != SocksParse::kComplete || alone.user != login.user ||
      alone.password != login.password)
    __builtin_trap();
  for (size_t n = 0; n < login.length; ++n)
    if (ParseSocksLogin(input.substr(0, n), alone) != SocksParse::kIncomplete) __builtin_trap();
  return 0;
}
