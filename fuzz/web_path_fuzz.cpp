// Any request path parses without crashing, and what it names stays inside
// the web root: no ".." or empty segment, no backslash, and the admin flag
// exactly when the first segment is "admin" in some case.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/value_codec.h"
#include "web/web_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view path(reinterpret_cast<const char*>(data), size);
  brindlex::WebTarget target = brindlex::ParseWebTarget(path);
  if (target.query.empty() || target.query.find_first_of("\r\n") != std::string::npos) __builtin_trap();
  if (target.refused) return 0;
  const std::string& file = target.file;
  if (file.empty() || file.front() == '/' || file.back() == '/' || file.find('\\') != std::string::npos ||
      file.find('\0') != std::string::npos)
    __builtin_trap();
  size_t at = 0;
  bool first = true;
  while (at <= file.size()) {
    size_t end = file.find('/', at);
    if (end == std::string::npos) end = file.size();
    std::string_view segment(file.data() + at, end - at);
    if (segment.empty() || segment == "." || segment == "..") __builtin_trap();
    if (first && brindlex::EqualsNoCase(segment, "admin") != target.admin) __builtin_trap();
    first = false;
    at = end + 1;
  }
  if (target.atRoot != (file.find('/') == std::string::npos)) __builtin_trap();
  return 0;
}
