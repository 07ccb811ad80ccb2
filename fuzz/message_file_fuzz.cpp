// Message files and page templates as an installation may hold them: the
// lookup and the template fill never read past the text, and a found message
// never spans a line end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/message_file.h"
#include "http/template.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  for (int number : {421, 422, 425, 0, 2147483647}) {
    std::string text;
    if (FindMessage(bytes, size, number, text) && text.find_first_of("\r\n") != std::string::npos) __builtin_trap();
  }
  TemplateValues values{"host<&>", "/p?'\"", "01.02.2026", "03:04:05", {}};
  std::string head, tail;
  FillTemplateText(std::string_view(bytes, size), values, head, &tail);
  FillTemplateText(std::string_view(bytes, size), values, head, nullptr);
  return 0;
}
