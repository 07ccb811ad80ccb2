#include "web/web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/connection.h"
#include "core/identification.h"
#include "core/log_files.h"
#include "core/main_loop.h"
#include "core/monitor.h"
#include "core/program_folder.h"
#include "core/refusal_monitor.h"
#include "core/settings.h"
#include "core/strings.h"
#include "core/users.h"
#include "http/access_gate.h"
#include "http/local_server.h"
#include "http/reply_page.h"
#include "http/template.h"
#include "net/relay.h"
#include "web/page_program.h"
#include "web/proxy_config.h"
#include "web/web_path.h"

namespace brindlex {

namespace {

constexpr int kPageHead = 402;      // "200 OK" and the end of the head
constexpr int kNotFoundText = 421;  // the message of the 404 page
constexpr int kAdminOnly = 496;

void Answer(ConnectionRecord& r, const std::string& text) {
  ReplaceClientOutput(r, text);
  r.serverFinished = true;
}

// The address the client reached the gateway on, so that the script names
// the gateway as that client can reach it.
Ipv4 LocalAddress(const ConnectionRecord& r) {
  sockaddr_in local{};
  socklen_t length = sizeof(local);
  if (r.clientSocket < 0 || ::getsockname(r.clientSocket, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
      local.sin_family != AF_INET)
    return kNoAddress;
  return ntohl(local.sin_addr.s_addr);
}

void ServeProxyConfig(ConnectionRecord& r) {
  const auto settings = Settings();
  ProxyConfig config;
  config.proxyAddress = LocalAddress(r);
  std::vector<int> ports = HttpPorts(settings->HttpPort);
  config.proxyPort = ports.empty() ? 0 : ports.front();
  config.gatewayNames = GatewayNames();
  config.localHosts = settings->LocalHosts;
  config.lan = LanRanges(settings->UsersAddrs, config.proxyAddress);
  Answer(r, Str(400) + "Content-Type: " + kProxyConfigType + "\r\nPragma: no-cach\r\n\r\n" + ProxyConfigScript(config));
}

void ReportStoppedProgram(const ConnectionRecord& r, const std::string& file, const ProgramLimits& limits,
                          ProgramEnd end) {
  std::string why = end == ProgramEnd::kTimedOut
                        ? "still running after " + std::to_string(limits.time.count() / 1000) + " s"
                        : "more than " + std::to_string(limits.output) + " bytes of output";
  std::string line = "WEB PROGRAM STOPPED, " + FormatIpv4(r.clientAddress) + ", " + EscapeField(file) + ", " + why;
  std::uint8_t service = r.service;
  TheMainLoop().Post([line, service] {
    if (MonitorShows(MonitorSwitchOf(service))) MonitorAppend(line, MonitorSwitchOf(service));
  });
}

void ServeProgram(ConnectionRecord& r, const std::string& path, const WebTarget& target) {
  ProgramLimits limits;
  ProgramRun run = RunPageProgram(path, target.query + "\n", limits);
  if (run.end == ProgramEnd::kNotStarted) {
    SendReplyPage(r, ReplyKind::kNotFound);
    return;
  }
  if (run.end != ProgramEnd::kFinished) ReportStoppedProgram(r, target.file, limits, run.end);
  Answer(r, Str(kPageHead) + run.output);
}

void ServePage(ConnectionRecord& r, const WebTarget& target) {
  std::string page;
  if (FillTemplate(r, target.file, page, nullptr)) {
    SendReplyPage(r, ReplyKind::kWwwAuth);
    ReportRefused(r, kProxyAuthMessage, true);
    return;
  }
  Answer(r, Str(kPageHead) + page);
}

void ServeFile(ConnectionRecord& r, const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SendReplyPage(r, ReplyKind::kNotFound);
    return;
  }
  ReplaceClientOutput(r, Str(kPageHead));
  r.readFile = fd;
  r.servingLocalFile = true;
}

}  // namespace

void ServeWebRequest(ConnectionRecord& r) {
  r.localServer = true;
  r.noStore = true;
  r.clientInLength = 0;
  r.clientOutLength = 0;
  const WebTarget target = ParseWebTarget(r.path);
  if (target.refused) {
    SendReplyPage(r, ReplyKind::kNotFound);
    ReportRefused(r, kNotFoundText, false);
    return;
  }
  if (target.admin) {
    const UserRecord* user = ConnectionUser(r);
    if (!user) {
      SendReplyPage(r, ReplyKind::kWwwAuth);
      ReportRefused(r, kProxyAuthMessage, true);
      return;
    }
    if (!user->admin) {
      SendRefusalPage(r, kAdminOnly);
      ReportRefused(r, kAdminOnly, false);
      return;
    }
  }
  if (target.file == "proxy.pac" || target.file == "wpad.dat") {
    ServeProxyConfig(r);
    return;
  }
  const std::string path = WwwrootFolder() + "/" + target.file;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    SendReplyPage(r, ReplyKind::kNotFound);
    return;
  }
  if (target.extension == "exe" && ::access(path.c_str(), X_OK) == 0) {
    ServeProgram(r, path, target);
  } else if (target.atRoot && (target.extension == "htm" || target.extension == "html")) {
    ServePage(r, target);
  } else {
    ServeFile(r, path);
  }
}

void RegisterWebServer() { RegisterGatewayAnswer(ServeWebRequest); }

}  // namespace brindlex
