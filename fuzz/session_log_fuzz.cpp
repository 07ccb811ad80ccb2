// Session log lines as the counter rebuild and the statistics read them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/counter_rebuild.h"
#include "core/log_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brindlex;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  SessionLogEntry entry;
  if (ParseSessionLogLine(text, entry)) {
    // The login is a piece of the line itself, or its unescaped text, which
    // is never longer than the line.
    const bool inLine =
        entry.login.data() >= text.data() && entry.login.data() + entry.login.size() <= text.data() + text.size();
    const bool unescaped =
        entry.login.data() == entry.unescapedLogin.data() && entry.login.size() == entry.unescapedLogin.size();
    if (!(inLine || unescaped) || entry.login.size() > text.size()) std::abort();
  }
  for (int n = 0; n < 12; ++n) {
    std::string_view field = LogField(text, n);
    if (!field.empty() && (field.data() < text.data() || field.data() + field.size() > text.data() + text.size()))
      std::abort();
  }
  return 0;
}
