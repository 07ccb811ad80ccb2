// Which gateway the console attaches to: its command line's HOST[:PORT], or
// without one the local gateway's program folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindlex {

// The port the console tries on a host named without one; the documented
// AdminPort value for a remote console.
inline constexpr std::uint16_t kDefaultAdminPort = 9470;

struct ConsoleTarget {
  std::string folder;  // the local gateway's program folder; empty for a remote one
  std::string host;    // a remote gateway, reached over TLS
  std::uint16_t port = 0;
  // How the status bar and the dialogs name the gateway.
  std::string Name() const;
};

// "host", "host:port", "[v6 address]" or "[v6 address]:port"; without a
// port, kDefaultAdminPort. Nothing when the text names no host or the port is
// not 1..65535.
std::optional<ConsoleTarget> ParseRemoteTarget(std::string_view text);

// The local gateway's folder: $BRINDLEX_HOME when set, else the console's own
// folder when a gateway's settings file lies there (a folder laid out by the
// run script), else the installed one.
std::string LocalGatewayFolder(const char* homeVariable, const std::string& ownFolder);
inline constexpr const char* kInstalledProgramFolder = "/var/lib/brindlex";

}  // namespace brindlex
