#include "core/value_codec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "core/chars.h"

namespace brindlex {

namespace {

// The 6-bit mask applied to the low bits of each rotated byte.
constexpr unsigned kScrambleMask = 0x2D;

unsigned char RotateRight2(unsigned char b) { return static_cast<unsigned char>((b >> 2) | (b << 6)); }
unsigned char RotateLeft2(unsigned char b) { return static_cast<unsigned char>((b << 2) | (b >> 6)); }
unsigned char Encode(unsigned char b) { return static_cast<unsigned char>(RotateRight2(b) ^ kScrambleMask); }
unsigned char Decode(unsigned char c) { return RotateLeft2(static_cast<unsigned char>(c ^ kScrambleMask)); }

// The input bytes that would be stored as NUL, ';', LF or CR are written as
// the bytes 1..4 instead, so a stored value never breaks a line or a record.
// Decoding maps 1..4 back to them; the control bytes 1..4 themselves therefore
// cannot be stored (one byte per character leaves only 252 usable values), and
// the editor refuses control characters in passwords.
struct Forbidden {
  std::array<unsigned char, 4> inputs{};
  Forbidden() {
    const unsigned char bad[4] = {0, ';', '\n', '\r'};
    for (int i = 0; i < 4; ++i) inputs[i] = Decode(bad[i]);
  }
};
const Forbidden& ForbiddenInputs() {
  static const Forbidden f;
  return f;
}

unsigned char EscapeForbidden(unsigned char b) {
  const auto& f = ForbiddenInputs();
  for (int i = 0; i < 4; ++i)
    if (b == f.inputs[i]) return static_cast<unsigned char>(i + 1);
  return b;
}

unsigned char UnescapeForbidden(unsigned char b) {
  if (b >= 1 && b <= 4) return ForbiddenInputs().inputs[b - 1];
  return b;
}

}  // namespace

std::string_view Trim(std::string_view text) {
  auto isSpace = [](char c) { return IsBlank(c) || IsLineEnd(c); };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::int64_t ParseIntPrefix(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    int digit = text[i] - '0';
    if (value > (kMax - digit) / 10) return negative ? -kMax : kMax;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

double ParseRealPrefix(std::string_view text) {
  // strtod needs a terminated buffer; numbers longer than this are nonsense.
  char buffer[64];
  size_t n = 0;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  for (; i < text.size() && n + 1 < sizeof(buffer); ++i) {
    char c = text[i];
    if (!(IsDigit(c) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) break;
    buffer[n++] = c;
  }
  buffer[n] = '\0';
  char* end = nullptr;
  double value = std::strtod(buffer, &end);
  if (end == buffer || !std::isfinite(value)) return 0.0;
  return value;
}

bool ParseWholeInt(std::string_view text, std::int64_t& value) {
  text = Trim(text);
  if (text.empty()) return false;
  size_t i = 0;
  if (text[0] == '-' || text[0] == '+') i = 1;
  if (i == text.size()) return false;
  for (size_t k = i; k < text.size(); ++k)
    if (!IsDigit(text[k])) return false;
  if (text.size() - i > 18) return false;
  value = ParseIntPrefix(text);
  return true;
}

bool ParseWholeReal(std::string_view text, double& value) {
  text = Trim(text);
  if (text.empty() || text.size() >= 64) return false;
  std::string copy(text);
  // Accept a decimal comma as typed by users of a Russian locale.
  for (char& c : copy)
    if (c == ',') c = '.';
  for (char c : copy)
    if (!(IsDigit(c) || c == '.' || c == '-' || c == '+')) return false;
  char* end = nullptr;
  double v = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string FormatNumberText(double value, int decimals) {
  if (!std::isfinite(value)) value = 0;
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  char buffer[64];
  int n = std::snprintf(buffer, sizeof(buffer), "%.*f", decimals, value);
  if (n < 0 || n >= static_cast<int>(sizeof(buffer))) return "0";
  std::string_view text(buffer, static_cast<size_t>(n));
  if (text.find('.') != std::string_view::npos) {
    while (!text.empty() && text.back() == '0') text.remove_suffix(1);
    if (!text.empty() && text.back() == '.') text.remove_suffix(1);
  }
  if (text == "-0") return "0";
  return std::string(text);
}

bool ParseDottedQuad(std::string_view text, Ipv4& address) {
  text = Trim(text);
  Ipv4 result = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    size_t start = i;
    unsigned value = 0;
    while (i < text.size() && IsDigit(text[i]) && i - start < 3)
      value = value * 10 + static_cast<unsigned>(text[i++] - '0');
    if (i == start || value > 255) return false;
    result = (result << 8) | value;
  }
  if (i != text.size()) return false;
  address = result;
  return true;
}

Ipv4 ParseIpv4(std::string_view text) {
  Ipv4 address = 0;
  if (!ParseDottedQuad(text, address) || address == 0) return kNoAddress;
  return address;
}

std::string FormatIpv4(Ipv4 address) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "%u.%u.%u.%u", address >> 24, (address >> 16) & 255, (address >> 8) & 255,
                address & 255);
  return buffer;
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(start, end - start);
    while (!item.empty() && IsBlank(item.front())) item.remove_prefix(1);
    if (!item.empty()) items.emplace_back(item);
    start = end + 1;
  }
  return items;
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) {
    text += item;
    text += "; ";
  }
  return std::string(Trim(text));
}

std::string_view RecordField(std::string_view record, int n) {
  size_t pos = 0;
  for (int i = 0; i < n; ++i) {
    size_t semi = record.find(';', pos);
    if (semi == std::string_view::npos) return {};
    pos = semi + 1;
  }
  while (pos < record.size() && IsBlank(record[pos])) ++pos;
  size_t end = record.find(';', pos);
  if (end == std::string_view::npos) end = record.size();
  return record.substr(pos, end - pos);
}

std::string JoinRecord(const std::vector<std::string>& fields) {
  std::string text;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) text += "; ";
    text += fields[i];
  }
  return text;
}

bool RecordFlag(std::string_view record, int n) { return ParseIntPrefix(RecordField(record, n)) != 0; }

double RecordReal(std::string_view record, int n) {
  return std::clamp(ParseRealPrefix(RecordField(record, n)), -kRecordRealMax, kRecordRealMax);
}

std::int64_t SaturatedInt64(double value) {
  // 2^63 is the first double past the largest int64.
  constexpr double kLimit = 9223372036854775808.0;
  if (std::isnan(value)) return 0;
  if (value >= kLimit) return INT64_MAX;
  if (value <= -kLimit) return INT64_MIN;
  return static_cast<std::int64_t>(value);
}

std::string FlagText(bool value) { return value ? "1" : "0"; }

std::string Scramble(std::string_view plain) {
  std::string out;
  out.reserve(plain.size() + 1);
  out.push_back('*');
  for (char c : plain) out.push_back(static_cast<char>(Encode(EscapeForbidden(static_cast<unsigned char>(c)))));
  return out;
}

std::string Unscramble(std::string_view stored) {
  if (stored.empty() || stored[0] != '*') return std::string(stored);
  std::string out;
  out.reserve(stored.size() - 1);
  for (size_t i = 1; i < stored.size(); ++i)
    out.push_back(static_cast<char>(UnescapeForbidden(Decode(static_cast<unsigned char>(stored[i])))));
  return out;
}

}  // namespace brindlex
