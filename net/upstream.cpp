#include "net/upstream.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/connection.h"
#include "core/file_io.h"
#include "core/host_names.h"
#include "core/identification.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/users.h"
#include "net/dial_up_link.h"
#include "net/socket_util.h"

namespace brindlex {

namespace {

constexpr int kConnectPollMs = 100;

bool Abandoned(const ConnectionRecord& record) { return record.closeRequested || Flags().shutdown; }

// The first IPv4 address of a name from the system resolver, or kNoAddress.
Ipv4 ResolveName(const std::string& name) {
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
  return !user || user->rules.dialUpDenied;
}

// Waits, in the dial-up manager's 10 ms rhythm, until it has made an attempt
// (it clears dialUpWait), the connection is closed or the program stops.
// False at once when no manager answers: nobody would ever clear the flag.
// After an attempt the look-up or connection is tried whatever its outcome.
bool WaitForDialUp(ConnectionRecord& record) {
  if (!DialUpAnswered()) return false;
  record.dialUpWait = true;
  NotifyDialRequest();
  while (record.dialUpWait && !Abandoned(record)) {
    if (!DialUpAnswered()) {
      record.dialUpWait = false;
      return false;
    }
    ::usleep(10000);
  }
  return true;
}

// A socket connected to address:port, or -1. The wait for the handshake is
// cut into poll steps so that a close or shutdown does not sit out the
// kernel's connect time-out.
int ConnectTo(const ConnectionRecord& record, Ipv4 address, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(address);
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
    CloseDescriptor(fd);
    return -1;
  }
  SetNoDelay(fd);
  SetKeepAlive(fd);
  return fd;
}

// One connect to serverAddress:serverPort.
bool TryConnect(ConnectionRecord& record) {
  int fd = ConnectTo(record, record.serverAddress, record.serverPort);
  if (fd < 0) return false;
  CloseDescriptor(record.serverSocket);
  record.serverSocket = fd;
  return true;
}

}  // namespace

Ipv4 ResolveUpstream(ConnectionRecord& record, const std::string& name) {
  Ipv4 dotted = 0;
  if (ParseDottedQuad(name, dotted)) return dotted;
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  if (settings.EnableDialUp && !DialUpLinkUp()) {
    if (settings.DialUpCheckNecessity) {
      Ipv4 address = ResolveName(name);
      if (address != kNoAddress) return address;
    }
    if (MayNotDial(record) || !WaitForDialUp(record)) return kNoAddress;
  }
  return ResolveName(name);
}

bool RefusedDestination(Ipv4 address) {
  if (address != 0 && (address >> 24) != 127) return false;
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  return !settings.EnableLoopbackTargets && !AddressPatternsMatch(settings.LocalHosts, address);
}

UpstreamResult ConnectUpstream(ConnectionRecord& record) {
  if (record.serverAddress == kNoAddress || record.serverPort <= 0 || record.serverPort > 65535)
    return UpstreamResult::kFailed;
  bool connected = false;
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  if (settings.EnableDialUp && !DialUpLinkUp()) {
    if (settings.DialUpCheckNecessity) connected = TryConnect(record);
    if (!connected) {
      if (MayNotDial(record)) return UpstreamResult::kDialUpDenied;
      if (!WaitForDialUp(record)) return UpstreamResult::kFailed;
    }
  }
  if (!connected) connected = TryConnect(record);
  return connected ? UpstreamResult::kConnected : UpstreamResult::kFailed;
}

bool ConnectClientSide(ConnectionRecord& record, Ipv4 address, int port) {
  if (address == kNoAddress || port <= 0 || port > 65535) return false;
  int fd = ConnectTo(record, address, port);
  if (fd < 0) return false;
  CloseDescriptor(record.clientSocket);
  record.clientSocket = fd;
  return true;
}

}  // namespace brindlex
