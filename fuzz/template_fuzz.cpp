// Any template text fills without crashing or reading past its end; text
// without a '%' comes out as it went in, and the fill stops exactly when a
// user macro meets a connection without a user.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  brindlex::TemplateValues values{"<host>", "/p?a=1&b", "01.02.2026", "03:04:05", {}};
  std::string head, tail;
  bool needed = brindlex::FillTemplateText(text, values, head, &tail);
  if (text.find('%') == std::string_view::npos && (needed || head != text || !tail.empty())) __builtin_trap();
  values.user = [](brindlex::UserMacro macro) { return "[" + std::to_string(static_cast<int>(macro)) + "]"; };
  std::string withUser;
  if (brindlex::FillTemplateText(text, values, withUser, nullptr)) __builtin_trap();
  // Without a user, the output stops where the first user macro was.
  if (needed && withUser.compare(0, head.size(), head) != 0) __builtin_trap();
  return 0;
}
