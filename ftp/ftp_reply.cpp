#include "ftp/ftp_reply.h"

#include "core/chars.h"

namespace brindlex {
namespace {

// Longer numbers are not codes, and reading them would overflow.
constexpr size_t kCodeDigitsMax = 9;

}  // namespace

int ReplyCode(std::string_view line) {
  size_t digits = 0;
  int code = 0;
  while (digits < line.size() && IsDigit(line[digits])) {
    if (digits == kCodeDigitsMax) return -1;
    code = code * 10 + (line[digits] - '0');
    ++digits;
  }
  if (digits == 0 || digits == line.size() || line[digits] != ' ') return -1;
  return code;
}

std::optional<DataAddress> ParseAddressNumbers(std::string_view text) {
  int numbers[6];
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != ',') return std::nullopt;
      ++at;
    }
    at = SkipBlanks(text, at);
    size_t start = at;
    int value = 0;
    while (at < text.size() && IsDigit(text[at]) && at - start < 3) value = value * 10 + (text[at++] - '0');
    if (at == start || value > 255 || (at < text.size() && IsDigit(text[at]))) return std::nullopt;
    numbers[i] = value;
  }
  DataAddress result;
  result.address = static_cast<Ipv4>(numbers[0]) << 24 | static_cast<Ipv4>(numbers[1]) << 16 |
                   static_cast<Ipv4>(numbers[2]) << 8 | static_cast<Ipv4>(numbers[3]);
  result.port = numbers[4] * 256 + numbers[5];
  if (result.address == 0 || result.address == kNoAddress || result.port == 0) return std::nullopt;
  return result;
}

std::optional<DataAddress> ParsePassiveAnswer(std::string_view line) {
  size_t end = line.find_first_of("\r\n");
  if (end != std::string_view::npos) line = line.substr(0, end);
  size_t open = line.find('(');
  if (open == std::string_view::npos) return std::nullopt;
  return ParseAddressNumbers(line.substr(open + 1));
}

std::optional<DataAddress> ParsePortArgument(std::string_view argument) {
  return ParseAddressNumbers(argument.substr(SkipBlanks(argument, 0)));
}

std::string FormatAddressNumbers(Ipv4 address, int port) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    text += std::to_string((address >> shift) & 0xFF);
    text += ',';
  }
  return text + std::to_string((port >> 8) & 0xFF) + ',' + std::to_string(port & 0xFF);
}

std::string DirectoryOf257(std::string_view line) {
  size_t at = 0;
  while (at < line.size() && IsDigit(line[at])) ++at;
  while (at < line.size() && (IsBlank(line[at]) || line[at] == '"')) ++at;
  if (at < line.size() && line[at] == '/') ++at;
  size_t end = at;
  while (end < line.size() && line[end] != '"' && !IsLineEnd(line[end])) ++end;
  std::string path = "/";
  path.append(line.substr(at, end - at));
  if (path.back() != '/') path += '/';
  return path;
}

}  // namespace brindlex
