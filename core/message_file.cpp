#include "core/message_file.h"

#include <cstdint>
#include <cstring>
#include <fstream>

#include "core/program_folder.h"
#include "core/strings.h"

namespace brindlex {

namespace {
// Far beyond any sensible message file; keeps a stray huge file from being
// read whole on every page.
constexpr std::streamsize kMessageFileMax = 4 * 1024 * 1024;
}  // namespace

bool FindMessage(const char* bytes, size_t length, int number, std::string& text) {
  size_t at = 0;
  while (at < length) {
    const void* lf = std::memchr(bytes + at, '\n', length - at);
    size_t lineEnd = lf ? static_cast<size_t>(static_cast<const char*>(lf) - bytes) : length;
    size_t i = at;
    while (i < lineEnd && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
    std::int64_t value = 0;
    size_t digits = 0;
    for (; i < lineEnd && bytes[i] >= '0' && bytes[i] <= '9'; ++i, ++digits)
      if (value <= INT32_MAX) value = value * 10 + (bytes[i] - '0');
    if (digits > 0 && value == number) {
      while (i < lineEnd && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
      size_t stop = i;
      while (stop < lineEnd && bytes[stop] != '\r') ++stop;
      text.assign(bytes + i, stop - i);
      return true;
    }
    at = lineEnd + 1;
  }
  return false;
}

std::string MessageText(int number) {
  std::ifstream in(WwwrootFolder() + "/messages.txt", std::ios::binary);
  if (!in) return Str(784);
  std::string bytes;
  char chunk[16384];
  while (in && static_cast<std::streamsize>(bytes.size()) < kMessageFileMax) {
    in.read(chunk, sizeof(chunk));
    bytes.append(chunk, static_cast<size_t>(in.gcount()));
  }
  std::string text;
  if (!FindMessage(bytes.data(), bytes.size(), number, text)) return Str(785);
  return text;
}

}  // namespace brindlex
