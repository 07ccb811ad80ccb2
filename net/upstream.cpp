#include "proxy/upstream.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/process_state.h"
#include "core/settings.h"
#include "core/users.h"
#include "proxy/access_gate.h"
#include "proxy/connection.h"
#include "proxy/http_head.h"
#include "proxy/local_server.h"
#include "proxy/socket_util.h"
#include "services/dial_up.h"

namespace brindlex {

namespace {

constexpr size_t kHostNameMax = 1023;
constexpr int kConnectPollMs = 100;

bool Abandoned(const ConnectionRecord& record) { return record.closeRequested || Flags().shutdown; }

// The first IPv4 address of a name from the system resolver, or kNoAddress.
Ipv4 Resolve(const std::string& name) {
  if (name.empty()) return kNoAddress;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &answer) != 0 || !answer) return kNoAddress;
  Ipv4 address = ntohl(reinterpret_cast<const sockaddr_in*>(answer->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(answer);
  return address;
}

// The user may not make the gateway dial: no user, or one denied dialling.
bool MayNotDial(const ConnectionRecord& record) {
  const UserRecord* user = ConnectionUser(record);
  return !user || user->dialUpDenied;
}

// Waits, in the dial-up manager's 10 ms rhythm, until it has made an attempt
// (it clears dialUpWait), the connection is closed or the program stops.
void WaitForDialUp(ConnectionRecord& record) {
  record.dialUpWait = true;
  while (record.dialUpWait && !Abandoned(record)) ::usleep(10000);
}

// One connect to serverAddress:serverPort. The wait for the handshake is cut
// into poll steps so that a close or shutdown does not sit out the kernel's
// connect time-out.
bool TryConnect(ConnectionRecord& record) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(record.serverPort));
  to.sin_addr.s_addr = htonl(record.serverAddress);
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
  if (!connected && errno == EINPROGRESS) {
    while (!Abandoned(record)) {
      pollfd p{fd, POLLOUT, 0};
      int ready = ::poll(&p, 1, kConnectPollMs);
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      int error = 0;
      socklen_t length = sizeof(error);
      connected = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
      break;
    }
  }
  if (!connected) {
    CloseSocket(fd);
    return false;
  }
  SetNoDelay(fd);
  CloseSocket(record.serverSocket);
  record.serverSocket = fd;
  return true;
}

}  // namespace

void ResolveTarget(ConnectionRecord& record, std::string_view hostText) {
  if (EqualsNoCase(hostText, kGatewayHostName)) {
    record.localServer = true;
    return;
  }
  size_t colon = hostText.find(':');
  std::string_view name = hostText.substr(0, colon);
  name = name.substr(0, std::min(name.size(), kHostNameMax));
  if (colon != std::string_view::npos && ParseIntPrefix(hostText.substr(colon + 1)) != 0) {
    // A port outside 1..65535 names no server; 0 makes the connect fail.
    std::int64_t port = ParseIntPrefix(hostText.substr(colon + 1));
    record.serverPort = port > 0 && port <= 65535 ? static_cast<int>(port) : 0;
  } else if (record.service == kServiceHttp) {
    record.serverPort = record.url.size() >= 4 && EqualsNoCase(std::string_view(record.url).substr(0, 4), "ftp:") ? 21 : 80;
  } else if (record.service == kServiceHttpFtpData || record.service == kServiceFtpControl) {
    record.serverPort = 21;
  }

  record.serverAddress = kNoAddress;
  Ipv4 dotted = 0;
  std::string nameText(name);
  if (ParseDottedQuad(nameText, dotted)) {
    record.serverAddress = dotted;
  } else {
    bool answered = false;
    const SystemSettings& settings = Settings();
    if (settings.EnableDialUp && !DialUpLinkUp()) {
      if (settings.DialUpCheckNecessity) {
        record.serverAddress = Resolve(nameText);
        answered = record.serverAddress != kNoAddress;
      }
      if (!answered) {
        if (MayNotDial(record)) {
          MarkLocalServer(record, hostText);
          return;
        }
        WaitForDialUp(record);
      }
    }
    if (!answered) record.serverAddress = Resolve(nameText);
  }
  MarkLocalServer(record, hostText);
}

int ConnectUpstream(ConnectionRecord& record) {
  if (record.serverAddress == kNoAddress || record.serverPort <= 0 || record.serverPort > 65535)
    return kUpstreamFailed;
  bool connected = false;
  const SystemSettings& settings = Settings();
  if (settings.EnableDialUp && !DialUpLinkUp()) {
    if (settings.DialUpCheckNecessity) connected = TryConnect(record);
    if (!connected) {
      if (MayNotDial(record)) return kUpstreamDialUpDenied;
      WaitForDialUp(record);
    }
  }
  if (!connected) connected = TryConnect(record);
  return connected ? kUpstreamConnected : kUpstreamFailed;
}

int ConnectNextHop(ConnectionRecord& record) {
  const SystemSettings& settings = Settings();
  if (settings.EnableParentProxy && settings.CascadeIP != kNoAddress) {
    record.serverAddress = settings.CascadeIP;
    record.serverPort = settings.CascadePort;
  }
  return ConnectUpstream(record);
}

std::string ParentProxyAuthorization(const ConnectionRecord& record) {
  const SystemSettings& settings = Settings();
  if (!settings.EnableParentProxy) return {};
  std::string credentials;
  const UserRecord* user = ConnectionUser(record);
  if (user && user->passAuthToParent) {
    credentials = user->login + ":" + user->password;
  } else if (settings.EnableParentProxyAut) {
    credentials = settings.ParentProxyUser + ":" + settings.ParentProxyPassword;
  } else {
    return {};
  }
  return "Proxy-Authorization: Basic " + Base64Encode(credentials) + "\r\n";
}

}  // namespace brindlex
