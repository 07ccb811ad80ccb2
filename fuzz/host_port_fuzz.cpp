// The host text of a request and the LocalHosts patterns: a split never reads
// past the input, a port it accepts is digits within 1..65535 and comes back
// the same when written out again, and the matchers keep names and addresses
// apart. The first line of the input is the host, the rest the patterns.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/host_names.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string_view host = text.substr(0, text.find('\n'));
  std::vector<std::string> patterns;
  for (size_t at = host.size() + 1; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    patterns.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }

  HostPort split;
  if (SplitHostPort(host, split)) {
    if (split.port < 0 || split.port > 65535 || split.name.empty()) __builtin_trap();
    for (char c : split.name) {
      bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_';
      if (!allowed) __builtin_trap();
    }
    if (split.name.find(':') != std::string_view::npos || host.substr(0, split.name.size()) != split.name)
      __builtin_trap();
    if (split.port != 0) {
      HostPort again;
      std::string rebuilt = std::string(split.name) + ":" + std::to_string(split.port);
      if (!SplitHostPort(rebuilt, again) || again.port != split.port || again.name != split.name) __builtin_trap();
    }
  }
  // Digits and dots are an address, which no name pattern may take.
  bool digitsAndDots = !split.name.empty() && split.name.find_first_not_of("0123456789.") == std::string_view::npos;
  if (digitsAndDots && !IsAddressHost(split.name)) __builtin_trap();
  Ipv4 address = 0;
  ParseDottedQuad(split.name, address);
  if (NamePatternsMatch(patterns, split.name) && IsAddressHost(split.name)) __builtin_trap();
  for (const std::string& pattern : patterns)
    if (IsAddressPattern(pattern) && pattern.find_first_not_of("0123456789.*?") != std::string::npos) __builtin_trap();
  AddressPatternsMatch(patterns, address);
  AddressPatternsMatch(patterns, kNoAddress);
  return 0;
}
