// The configuration check reads a settings file an administrator (or a broken
// editor) wrote: any bytes must give a bounded list of problems with their
// lines, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/config_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  for (const brindlex::ConfigProblem& problem : brindlex::CheckConfiguration(text)) {
    if (problem.line < 1 || static_cast<size_t>(problem.line) > lines || problem.message.empty()) std::abort();
  }
  return 0;
}
