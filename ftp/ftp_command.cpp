#include "ftp/ftp_command.h"

#include "core/chars.h"

namespace brindlex {

namespace {

// The Telnet codes that take an option byte after them.
constexpr unsigned char kWill = 251;
constexpr unsigned char kDont = 254;

bool TakesOption(char code) {
  auto byte = static_cast<unsigned char>(code);
  return byte >= kWill && byte <= kDont;
}

// The line without its Telnet codes and its line end. A code cut off by the
// line's end is dropped with it.
std::string WithoutTelnetCodes(std::string_view line) {
  std::string text;
  text.reserve(line.size());
  for (size_t at = 0; at < line.size(); ++at) {
    char c = line[at];
    if (c == kTelnetIac) {
      if (at + 1 < line.size() && line[at + 1] == kTelnetIac) {
        text += kTelnetIac;
        ++at;
        continue;
      }
      at += at + 1 < line.size() && TakesOption(line[at + 1]) ? 2 : 1;
      continue;
    }
    if (IsLineEnd(c)) break;
    text += c;
  }
  return text;
}

size_t WordEnd(std::string_view text, size_t at) {
  while (at < text.size() && !IsBlank(text[at])) ++at;
  return at;
}

}  // namespace

FtpCommand ReadFtpCommand(std::string_view line) {
  FtpCommand command;
  std::string text = WithoutTelnetCodes(line);
  std::string_view view(text);
  view.remove_prefix(SkipBlanks(view, 0));
  size_t nameEnd = WordEnd(view, 0);
  command.name = LowerCase(view.substr(0, nameEnd));
  size_t at = SkipBlanks(view, nameEnd);
  command.rest = std::string(view.substr(at));
  command.argument = std::string(view.substr(at, WordEnd(view, at) - at));
  command.text = std::string(view);
  return command;
}

std::string FtpLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  for (char c : text) {
    line += c;
    if (c == kTelnetIac) line += kTelnetIac;
  }
  return line + "\r\n";
}

}  // namespace brindlex
