#include "ftp/ftp_reply.h"

#include "core/chars.h"

namespace brindlex {
namespace {

// Longer numbers are not codes, and reading them would overflow.
constexpr size_t kCodeDigitsMax = 9;
constexpr size_t kPortDigitsMax = 5;
constexpr int kPortMax = 65535;

bool IsDelimiter(char c) { return c >= 33 && c <= 126; }

// The port a field of an extended form names: 1..5 digits and nothing else,
// 1..65535.
std::optional<int> PortField(std::string_view field) {
  if (field.empty() || field.size() > kPortDigitsMax) return std::nullopt;
  int port = 0;
  for (char c : field) {
    if (!IsDigit(c)) return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > kPortMax) return std::nullopt;
  return port;
}

// The three fields between the four delimiters at the start of `text` (the
// first character is the delimiter); false when a delimiter is missing or not
// a printable character other than the blank. `end` is where the fourth
// delimiter ends.
bool ExtendedFields(std::string_view text, std::string_view (&fields)[3], size_t& end) {
  if (text.empty() || !IsDelimiter(text[0])) return false;
  char delimiter = text[0];
  size_t at = 1;
  for (std::string_view& field : fields) {
    size_t next = text.find(delimiter, at);
    if (next == std::string_view::npos) return false;
    field = text.substr(at, next - at);
    at = next + 1;
  }
  end = at;
  return true;
}

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

std::optional<int> ParseExtendedPassiveAnswer(std::string_view line) {
  line = line.substr(0, line.find_first_of("\r\n"));
  size_t open = line.find('(');
  if (open == std::string_view::npos) return std::nullopt;
  std::string_view fields[3];
  size_t end = 0;
  if (!ExtendedFields(line.substr(open + 1), fields, end) || !fields[0].empty() || !fields[1].empty())
    return std::nullopt;
  return PortField(fields[2]);
}

std::optional<DataAddress> ParseExtendedPortArgument(std::string_view argument) {
  std::string_view fields[3];
  size_t end = 0;
  if (!ExtendedFields(argument, fields, end) || end != argument.size() || fields[0] != "1") return std::nullopt;
  DataAddress result;
  std::optional<int> port = PortField(fields[2]);
  // Only digits and dots: the dotted quad reader would allow blanks around.
  if (!port || fields[1].find_first_not_of("0123456789.") != std::string_view::npos ||
      !ParseDottedQuad(fields[1], result.address) || result.address == 0 || result.address == kNoAddress)
    return std::nullopt;
  result.port = *port;
  return result;
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
