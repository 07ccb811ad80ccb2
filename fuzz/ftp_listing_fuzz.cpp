// Any listing line parses without reading past it, an entry always has a name
// taken from the line, and its row is one line that links to that name (as
// page text: markup in a name is escaped).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/ftp_listing.h"
#include "http/template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  auto entry = brindlex::ParseListingLine(line);
  if (!entry) return 0;
  if (entry->name.empty() || line.find(entry->name) == std::string_view::npos) __builtin_trap();
  if (entry->name.find_first_of("\r\n") != std::string::npos) __builtin_trap();
  std::string row = brindlex::ListingRow(*entry, "/pub/", 1024);
  if (row.rfind("<a href=\"/pub/" + brindlex::HtmlEscape(entry->name), 0) != 0) __builtin_trap();
  if (row.size() < 2 || row.substr(row.size() - 2) != "\r\n") __builtin_trap();
  std::string text = brindlex::SizeText(entry->size, 1024);
  if (text.empty() || (text.back() != 'K' && text.back() != 'M')) __builtin_trap();
  return 0;
}
