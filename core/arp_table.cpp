#include "core/arp_table.h"

#include <mutex>

#include "core/chars.h"
#include "core/file_io.h"

namespace brindlex {

namespace {

constexpr size_t kMaxTableBytes = 1 << 20;

std::mutex& PathMutex() {
  static std::mutex m;
  return m;
}
std::string& TablePath() {
  static std::string path = "/proc/net/arp";
  return path;
}

// Splits the next blank-separated word off the line.
std::string_view NextWord(std::string_view& line) {
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  size_t end = line.find_first_of(" \t", start);
  if (end == std::string_view::npos) end = line.size();
  std::string_view word = line.substr(start, end - start);
  line.remove_prefix(end);
  return word;
}

}  // namespace

std::optional<MacAddress> ParseMacText(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  MacAddress mac = 0;
  for (size_t i = 0; i < 17; ++i) {
    if (i % 3 == 2) {
      if (text[i] != ':' && text[i] != '-') return std::nullopt;
      continue;
    }
    int digit = HexValue(text[i]);
    if (digit < 0) return std::nullopt;
    mac = (mac << 4) | static_cast<MacAddress>(digit);
  }
  return mac;
}

std::optional<MacAddress> ParseMacDigits(std::string_view digits) {
  digits = Trim(digits);
  if (digits.empty() || digits.size() > 12) return std::nullopt;
  MacAddress mac = 0;
  for (char c : digits) {
    int digit = HexValue(c);
    if (digit < 0) return std::nullopt;
    mac = (mac << 4) | static_cast<MacAddress>(digit);
  }
  return mac;
}

std::optional<MacAddress> FindMacInTable(std::string_view table, Ipv4 address) {
  size_t pos = table.find('\n');  // the heading line
  while (pos != std::string_view::npos && pos < table.size()) {
    size_t end = table.find('\n', pos + 1);
    std::string_view line = table.substr(pos + 1, (end == std::string_view::npos ? table.size() : end) - pos - 1);
    pos = end;
    std::string_view ip = NextWord(line);
    NextWord(line);  // hardware type
    std::string_view flags = NextWord(line);
    std::string_view hardware = NextWord(line);
    Ipv4 entry = 0;
    if (!ParseDottedQuad(ip, entry) || entry != address) continue;
    if (flags == "0x0" || flags == "0" || flags.empty()) continue;
    if (auto mac = ParseMacText(hardware)) return mac;
  }
  return std::nullopt;
}

std::optional<MacAddress> LookUpMac(Ipv4 address) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(PathMutex());
    path = TablePath();
  }
  std::string table;
  if (!ReadFileBounded(path, kMaxTableBytes, table)) return std::nullopt;
  return FindMacInTable(table, address);
}

void SetArpTablePath(std::string path) {
  std::lock_guard<std::mutex> lock(PathMutex());
  TablePath() = path.empty() ? "/proc/net/arp" : std::move(path);
}

}  // namespace brindlex
