// Any client line reads as a command without reading past it, and what the
// gateway passes on reads back as the same command; any line read as an EPRT
// argument or a 229 answer gives an address and port in range that write
// back to the same.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/chars.h"
#include "core/value_codec.h"
#include "ftp/ftp_command.h"
#include "ftp/ftp_reply.h"

namespace {

void CheckCommand(std::string_view line) {
  brindlex::FtpCommand command = brindlex::ReadFtpCommand(line);
  if (command.text.size() > line.size() || command.text.find_first_of("\r\n") != std::string::npos) __builtin_trap();
  if (!command.text.empty() && brindlex::IsBlank(command.text[0])) __builtin_trap();
  if (command.name != brindlex::LowerCase(command.name) || command.name.find_first_of(" \t") != std::string::npos)
    __builtin_trap();
  if (command.argument.find_first_of(" \t") != std::string::npos || command.rest.rfind(command.argument, 0) != 0)
    __builtin_trap();
  std::string forwarded = brindlex::FtpLine(command.text);
  if (forwarded.size() < 2 || forwarded.substr(forwarded.size() - 2) != "\r\n") __builtin_trap();
  brindlex::FtpCommand again = brindlex::ReadFtpCommand(forwarded);
  if (again.text != command.text || again.name != command.name || again.rest != command.rest) __builtin_trap();
}

void CheckExtended(std::string_view line) {
  if (std::optional<int> port = brindlex::ParseExtendedPassiveAnswer(line); port && (*port < 1 || *port > 65535))
    __builtin_trap();
  auto address = brindlex::ParseExtendedPortArgument(line);
  if (!address) return;
  if (address->port < 1 || address->port > 65535 || address->address == 0 || address->address == brindlex::kNoAddress)
    __builtin_trap();
  auto again = brindlex::ParseExtendedPortArgument("|1|" + brindlex::FormatIpv4(address->address) + "|" +
                                                   std::to_string(address->port) + "|");
  if (!again || again->address != address->address || again->port != address->port) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  CheckCommand(line);
  CheckExtended(line);
  return 0;
}
