#include "ftp/ftp_listing.h"

#include <cstdint>
#include <cstdio>

#include "core/chars.h"
#include "core/value_codec.h"
#include "http/template.h"

namespace brindlex {
namespace {

// The next blank-separated field from `at` on; `at` moves past it.
std::string_view NextField(std::string_view line, size_t& at) {
  at = SkipBlanks(line, at);
  size_t start = at;
  while (at < line.size() && !IsBlank(line[at])) ++at;
  return line.substr(start, at - start);
}

// The rest of the line after blanks: a name may hold blanks of its own.
std::string_view RestOfLine(std::string_view line, size_t at) { return line.substr(SkipBlanks(line, at)); }

constexpr int kNameColumn = 40;

}  // namespace

std::optional<ListingEntry> ParseListingLine(std::string_view line) {
  size_t end = line.find_first_of("\r\n");
  if (end != std::string_view::npos) line = line.substr(0, end);
  ListingEntry entry;
  size_t at = 0;
  if (!line.empty() && (line[0] == 'd' || line[0] == '-')) {
    entry.directory = line[0] == 'd';
    for (int i = 0; i < 4; ++i) NextField(line, at);
    entry.size = NextField(line, at);
    entry.month = NextField(line, at);
    entry.day = NextField(line, at);
    entry.time = NextField(line, at);
  } else {
    entry.month = NextField(line, at);
    entry.time = NextField(line, at);
    std::string_view size = NextField(line, at);
    entry.directory = EqualsNoCase(size, "<dir>");
    if (!entry.directory) entry.size = size;
  }
  entry.name = RestOfLine(line, at);
  if (entry.name.empty()) return std::nullopt;
  return entry;
}

std::string SizeText(std::string_view size, int kbPerMb) {
  std::uint64_t bytes = 0;
  for (char c : size) {
    if (!IsDigit(c) || bytes > UINT64_MAX / 10 - 9) return "0K";
    bytes = bytes * 10 + static_cast<std::uint64_t>(c - '0');
  }
  std::uint64_t kb = bytes / 1024;
  double mb = kbPerMb > 0 ? static_cast<double>(kb) / kbPerMb : 0;
  char text[64];
  if (mb >= 1) {
    std::snprintf(text, sizeof(text), "%.2fM", mb);
  } else {
    std::snprintf(text, sizeof(text), "%lluK", static_cast<unsigned long long>(kb));
  }
  return text;
}

std::string ListingRow(const ListingEntry& entry, std::string_view path, int kbPerMb) {
  size_t taken = entry.name.size() + (entry.directory ? 2 : 0);
  // The names come from the FTP server: markup in one must stay text on the
  // browser's page. The column is measured on the name as it is shown.
  const std::string name = HtmlEscape(entry.name);
  std::string row = "<a href=\"";
  row.append(HtmlEscape(path)).append(name);
  if (entry.directory) {
    row.append("/\">[").append(name).append("]</A>");
  } else {
    row.append("\">").append(name).append("</A>");
  }
  if (taken < kNameColumn) row.append(kNameColumn - taken, ' ');
  // The date fields of a hostile listing may be any length: %s with a
  // width pads, it never cuts, so the row is built in a string.
  auto padded = [&row](std::string_view field, size_t width) {
    if (field.size() < width) row.append(width - field.size(), ' ');
    row.append(field);
  };
  if (entry.directory) {
    row.append("Directory");
  } else {
    padded(SizeText(entry.size, kbPerMb), 9);
  }
  padded(entry.month, 9);
  padded(entry.day, 3);
  padded(entry.time, 6);
  return row.append("\r\n");
}

}  // namespace brindlex
