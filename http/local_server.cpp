#include "http/local_server.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "core/connection.h"
#include "core/host_names.h"
#include "core/own_address.h"
#include "core/settings.h"
#include "http/reply_page.h"

namespace brindlex {

namespace {

GatewayAnswer registeredAnswer = nullptr;

// The machine's host name, asked of the system at most once a second per
// thread: every request looks at it, and it hardly ever changes.
const std::string& MachineHostName() {
  constexpr auto kKeptFor = std::chrono::seconds(1);
  thread_local std::string name;
  thread_local std::chrono::steady_clock::time_point asked;
  auto now = std::chrono::steady_clock::now();
  if (asked.time_since_epoch().count() == 0 || now - asked >= kKeptFor) {
    char own[256] = {};
    name = ::gethostname(own, sizeof(own) - 1) == 0 ? own : "";
    asked = now;
  }
  return name;
}

}  // namespace

std::vector<std::string> GatewayNames() {
  std::vector<std::string> names{std::string(kGatewayHostName)};
  if (const std::string& own = MachineHostName(); !own.empty()) names.push_back(own);
  return names;
}

bool IsGatewayName(std::string_view hostName) {
  for (const std::string& name : GatewayNames())
    if (EqualsNoCase(hostName, name)) return true;
  return false;
}

bool IsLocalServer(std::string_view hostName, Ipv4 address, const std::vector<std::string>& localHosts) {
  return IsGatewayName(hostName) || NamePatternsMatch(localHosts, hostName) ||
         AddressPatternsMatch(localHosts, address);
}

void MarkLocalServer(ConnectionRecord& record, std::string_view hostName) {
  if (IsLocalServer(hostName, record.serverAddress, Settings()->LocalHosts)) record.localServer = true;
}

bool IsGatewayRequest(const ConnectionRecord& record) {
  HostPort target;
  if (SplitHostPort(record.host, target) && IsGatewayName(target.name)) return true;
  if (record.serverAddress == kNoAddress) return false;
  std::vector<int> ports = HttpPorts(Settings()->HttpPort);
  if (std::find(ports.begin(), ports.end(), record.serverPort) == ports.end()) return false;
  return IsOwnAddress(record.serverAddress);
}

void RegisterGatewayAnswer(GatewayAnswer answer) { registeredAnswer = answer; }

void AnswerGatewayRequest(ConnectionRecord& record) {
  if (registeredAnswer) {
    registeredAnswer(record);
    return;
  }
  record.localServer = true;
  record.noStore = true;
  SendReplyPage(record, ReplyKind::kNotFound);
}

}  // namespace brindlex
