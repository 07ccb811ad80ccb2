// Filter texts, pattern files and URLs from anywhere: none crashes the readers
// or the matcher or makes them read past the input. The input is split at its
// first NUL: the filter text (also read as a pattern file) before it, the URL
// after it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/filter_text.h"
#include "core/url_filter.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t nul = input.find('\0');
  std::string_view text = input.substr(0, nul);
  std::string_view url = nul == std::string_view::npos ? input : input.substr(nul + 1);

  FilterList list = ParseFilterText(text);
  // What is written back reads as the same list.
  if (ParseFilterText(FormatFilterText(list)) != list) __builtin_trap();

  UrlParts parts = SplitUrl(url);
  FilterListMatches(text, parts);
  for (const FilterEntry& entry : list.entries) WildcardMatch(entry.pattern, parts.Part(entry.kind));
  FilterRequest(FilterScopes{text, text, "", "", "", ""}, url);

  for (const FilterEntry& entry : ParseFilterImport(text))
    if (entry.pattern.find_first_of(",;") != std::string::npos || entry.kind > 4) __builtin_trap();
  return 0;
}
