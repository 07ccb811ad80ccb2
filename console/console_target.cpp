#include "console/console_target.h"

#include <sys/stat.h>

#include "core/host_names.h"

namespace brindlex {

std::string ConsoleTarget::Name() const {
  if (host.empty()) return folder;
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<ConsoleTarget> ParseRemoteTarget(std::string_view text) {
  ConsoleTarget target;
  target.port = kDefaultAdminPort;
  if (!text.empty() && text.front() == '[') {
    // An IPv6 address keeps its colons inside brackets.
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) return std::nullopt;
    const std::string_view host = text.substr(1, close - 1);
    if (host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos) return std::nullopt;
    HostPort port;
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || !SplitHostPort("x" + std::string(rest), port) || port.port == 0))
      return std::nullopt;
    if (port.port != 0) target.port = static_cast<std::uint16_t>(port.port);
    target.host = std::string(host);
    return target;
  }
  HostPort split;
  if (text.size() > 259 || !SplitHostPort(text, split) || split.name.empty() || split.name.size() > 253)
    return std::nullopt;
  if (split.port != 0) target.port = static_cast<std::uint16_t>(split.port);
  target.host = std::string(split.name);
  return target;
}

std::string LocalGatewayFolder(const char* homeVariable, const std::string& ownFolder) {
  if (homeVariable != nullptr && *homeVariable != '\0') {
    std::string folder = homeVariable;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  struct stat info {};
  if (!ownFolder.empty() && ::stat((ownFolder + "/Brindlex.ini").c_str(), &info) == 0) return ownFolder;
  return kInstalledProgramFolder;
}

}  // namespace brindlex
