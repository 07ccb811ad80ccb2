// Host texts from request lines and Host headers: a text is taken only when
// its name holds host name characters alone and its port is 1..65535 in
// digits, and what is taken reads back the same when written out again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/http_head.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  HostText parts;
  if (!ParseHostText(text, parts)) return 0;
  if (parts.name.empty() || parts.name.size() > text.size()) __builtin_trap();
  for (char c : parts.name) {
    bool allowed =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
    if (!allowed) __builtin_trap();
  }
  bool colon = text.find(':') != std::string_view::npos;
  if (colon != (parts.port != 0) || parts.port < 0 || parts.port > 65535) __builtin_trap();
  if (text.find(':') != text.rfind(':')) __builtin_trap();

  std::string again(parts.name);
  if (parts.port != 0) again += ":" + std::to_string(parts.port);
  HostText reread;
  if (!ParseHostText(again, reread) || reread.name != parts.name || reread.port != parts.port) __builtin_trap();
  return 0;
}
