// The settings file reader on arbitrary bytes: parsing, the System loads and
// a format/parse round trip that must be stable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/ini_file.h"
#include "core/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brindlex;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  IniDocument document = ParseIni(text);
  SystemSettings settings;
  LoadSystemSettings(document, settings);
  HttpPorts(settings.HttpPort);
  SectionEntries(document, "PortMapping");
  std::string once = FormatIni(document);
  if (FormatIni(ParseIni(once)) != once) std::abort();
  // Values come back through the scrambled-text codec unchanged.
  for (const auto& section : document.sections)
    for (const auto& line : section.lines)
      if (line.isKey && !line.value.empty() && line.value[0] == '*') {
        std::string plain = Unscramble(line.value);
        bool storable = true;
        for (char c : plain) storable = storable && (c < 1 || c > 4);
        if (storable && Unscramble(Scramble(plain)) != plain) std::abort();
      }
  return 0;
}
