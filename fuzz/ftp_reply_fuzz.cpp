// Any reply line, 227 answer or PORT argument parses without reading past
// it; an address it gives has six numbers in range and a port, and writes
// back to the same address.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/chars.h"
#include "ftp/ftp_reply.h"

namespace {

void CheckAddress(const std::optional<brindlex::DataAddress>& address) {
  if (!address) return;
  if (address->port <= 0 || address->port > 65535 || address->address == 0 || address->address == brindlex::kNoAddress)
    __builtin_trap();
  auto again = brindlex::ParseAddressNumbers(brindlex::FormatAddressNumbers(address->address, address->port));
  if (!again || again->address != address->address || again->port != address->port) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  int code = brindlex::ReplyCode(line);
  if (code >= 0 && (line.empty() || line[0] < '0' || line[0] > '9')) __builtin_trap();
  if (brindlex::FirstLineLength(line) > line.size()) __builtin_trap();
  CheckAddress(brindlex::ParsePassiveAnswer(line));
  CheckAddress(brindlex::ParsePortArgument(line));
  std::string path = brindlex::DirectoryOf257(line);
  if (path.empty() || path.front() != '/' || path.back() != '/' || path.find_first_of("\r\n\"") != std::string::npos)
    __builtin_trap();
  return 0;
}
