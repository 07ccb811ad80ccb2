// Character classes and case folding of the ASCII letters, for protocol heads,
// settings values and logs. A byte outside ASCII belongs to no class and keeps
// its case whatever the locale: the same texts carry Cyrillic names, and the
// comparisons of logins and URLs must not depend on the environment.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindlex {

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }
constexpr bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// 0..15 for a hexadecimal digit of either case, -1 for anything else.
constexpr int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The text with its ASCII capitals lowered.
inline std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = Lower(c);
  return lower;
}

// The first position from `at` on that holds no blank (the size at the end).
constexpr size_t SkipBlanks(std::string_view text, size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

// The length of the first line of `text` with its line feed; 0 while no line
// feed has arrived.
constexpr size_t FirstLineLength(std::string_view text) {
  size_t end = text.find('\n');
  return end == std::string_view::npos ? 0 : end + 1;
}

}  // namespace brindlex
