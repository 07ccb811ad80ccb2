#include "core/message_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/program_folder.h"
#include "core/strings.h"

namespace brindlex {

namespace {
// Far beyond any sensible message file; keeps a stray huge file from being
// read whole on every page.
constexpr size_t kMessageFileMax = 4 * 1024 * 1024;
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

bool ReadInstallationFile(const std::string& path, size_t maxBytes, std::string& bytes) {
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[16384];
  while (bytes.size() < maxBytes) {
    ssize_t n = ::read(fd, chunk, std::min(sizeof(chunk), maxBytes - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

std::string MessageText(int number) {
  std::string bytes;
  if (!ReadInstallationFile(WwwrootFolder() + "/messages.txt", kMessageFileMax, bytes)) return Str(784);
  std::string text;
  if (!FindMessage(bytes.data(), bytes.size(), number, text)) return Str(785);
  return text;
}

}  // namespace brindlex
