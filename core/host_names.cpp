#include "core/host_names.h"

#include <arpa/inet.h>

#include <algorithm>

#include "core/chars.h"
#include "core/filter_text.h"

namespace brindlex {

bool SplitHostPort(std::string_view authority, HostPort& out) {
  size_t colon = authority.find(':');
  out.name = authority.substr(0, colon);
  out.port = 0;
  // Anything else (blanks, commas, '%', control bytes, brackets) would reach a
  // resolver, a log or the next hop's head as something else than a host.
  auto nameChar = [](char c) { return IsLetter(c) || IsDigit(c) || c == '-' || c == '.' || c == '_'; };
  if (out.name.empty() || !std::all_of(out.name.begin(), out.name.end(), nameChar)) return false;
  if (colon == std::string_view::npos) return true;
  std::string_view digits = authority.substr(colon + 1);
  int port = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return false;
    port = port * 10 + (c - '0');
    if (port > 65535) return false;
  }
  if (!digits.empty() && port == 0) return false;
  out.port = port;
  return true;
}

bool IsAddressHost(std::string_view host) {
  if (host.empty()) return false;
  bool digitsAndDots = true;
  for (char c : host) digitsAndDots = digitsAndDots && (IsDigit(c) || c == '.');
  if (digitsAndDots) return true;
  // The resolver takes hexadecimal, octal and shortened forms as addresses too.
  std::string text(host);
  in_addr unused{};
  return ::inet_aton(text.c_str(), &unused) != 0;
}

bool IsAddressPattern(std::string_view pattern) {
  bool digit = false;
  for (char c : pattern) {
    if (IsDigit(c)) {
      digit = true;
    } else if (c != '.' && c != '*' && c != '?') {
      return false;
    }
  }
  return digit;
}

bool AddressPatternsMatch(const std::vector<std::string>& patterns, Ipv4 address) {
  if (address == kNoAddress) return false;
  std::string dotted = FormatIpv4(address);
  for (const std::string& pattern : patterns)
    if (IsAddressPattern(pattern) && WildcardMatch(pattern, dotted)) return true;
  return false;
}

bool NamePatternsMatch(const std::vector<std::string>& patterns, std::string_view name) {
  if (name.empty() || IsAddressHost(name)) return false;
  for (const std::string& pattern : patterns)
    if (!IsAddressPattern(pattern) && WildcardMatch(pattern, name)) return true;
  return false;
}

}  // namespace brindlex
