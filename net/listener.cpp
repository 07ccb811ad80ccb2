#include "net/listener.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "core/connection.h"
#include "core/file_io.h"
#include "core/main_loop.h"
#include "core/monitor.h"
#include "core/process_state.h"
#include "core/refusal_monitor.h"
#include "core/report_exception.h"
#include "core/service_counters.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/strings.h"
#include "net/port_map_listener.h"
#include "net/socket_util.h"
#include "net/worker.h"
#include "net/worker_threads.h"

namespace brindlex {

namespace {

// For a listening socket of the HTTP, FTP, SMTP, POP3 or SOCKS5 service:
// accepts the client and learns both its addresses, without the accounts
// lock (the workers take it on every pass). False when the client is gone.
bool AcceptClient(ConnectionRecord& record, int listeningSocket, Ipv4& localAddress) {
  switch (record.service) {
    case kServiceSmtp:
      record.method = "SMTP";
      break;
    case kServicePop3:
      record.method = "POP3";
      break;
    case kServiceSocks5:
      record.method = "SOCKS5";
      break;
    default:
      break;
  }
  record.clientSocket = ::accept4(listeningSocket, nullptr, nullptr, SOCK_CLOEXEC);
  if (record.clientSocket < 0) return false;
  CountUp(ServiceCountersOf(record.service).accepted);
  SetOpeningDeadline(record, Settings()->HeadTimeout);
  std::uint16_t port = 0;
  return PeerAddress(record.clientSocket, record.clientAddress, port) &&
         LocalAddress(record.clientSocket, localAddress, port);
}

// Admits an accepted client (address list, interface, the client address's
// SessionRecord). A refused or failed record has closeRequested set; its
// worker closes it without sending a byte. Caller holds the accounts lock.
void AdmitClientLocked(ConnectionRecord& record, bool accepted, Ipv4 localAddress) {
  if (!accepted) {
    Close(record);
    return;
  }
  if (!AdmitLocked(record.clientAddress, localAddress, record.sessionRecord)) {
    // Without a session record it was the address lists that said no.
    if (!record.sessionRecord) ReportAddressRefused(record.service, record.clientAddress);
    Close(record);
    return;
  }
  if (OverAddressLimitLocked(record)) Close(record);
}

constexpr int kPollTimeoutMs = 100;

void ReportOpen(const char* name, int port, bool ok) { ListenerReport(SocketOpenLine(name, port, ok)); }

// Closes the service's socket and opens its port again when the service is
// on. Returns 1 when it tried to open the port, 0 when there was nothing to do.
int ReopenService(int& socket, bool enabled, int port, const char* name) {
  CloseDescriptor(socket);
  if (!enabled || port == 0) return 0;
  socket = OpenListeningSocket(kNoAddress, port, kFullBacklog);
  ReportOpen(name, port, socket >= 0);
  return 1;
}

std::vector<int> WantedHttpPorts(const SystemSettings& settings) {
  return settings.EnableHTTP ? HttpPorts(settings.HttpPort) : std::vector<int>{};
}

// Closes the HTTP sockets of ports no longer wanted and opens the wanted ones
// that are not open; a port in both lists keeps its socket and the clients
// waiting in its backlog. Returns how many ports it tried to open.
int ReopenHttp(Listener& listener, const std::vector<int>& wanted) {
  int kept = 0;
  for (int i = 0; i < listener.httpSocketCount; ++i) {
    if (std::find(wanted.begin(), wanted.end(), listener.httpPorts[i]) == wanted.end()) {
      CloseDescriptor(listener.httpSockets[i]);
      continue;
    }
    listener.httpPorts[kept] = listener.httpPorts[i];
    listener.httpSockets[kept++] = listener.httpSockets[i];
  }
  for (int i = kept; i < listener.httpSocketCount; ++i) listener.httpSockets[i] = -1;
  listener.httpSocketCount = kept;
  const int* keptBegin = listener.httpPorts;
  const int* keptEnd = keptBegin + kept;
  int tried = 0;
  for (int port : wanted) {
    if (std::find(keptBegin, keptEnd, port) != keptEnd) continue;
    int socket = OpenListeningSocket(kNoAddress, port, kFullBacklog);
    ++tried;
    if (socket >= 0) {
      listener.httpPorts[listener.httpSocketCount] = port;
      listener.httpSockets[listener.httpSocketCount++] = socket;
    }
    ReportOpen("HTTP", port, socket >= 0);
  }
  return tried;
}

// The listener's ports as ListeningPorts tells them to other threads (the
// sockets themselves belong to the thread holding the role).
struct PublishedPorts {
  std::mutex mutex;
  std::vector<ListeningPort> ports;
};

PublishedPorts& Published() {
  static PublishedPorts published;
  return published;
}

void PublishPorts(std::vector<ListeningPort> ports) {
  PublishedPorts& published = Published();
  std::lock_guard<std::mutex> lock(published.mutex);
  published.ports = std::move(ports);
}

void PublishPorts(const Listener& listener, const SystemSettings& settings) {
  std::vector<ListeningPort> ports;
  const int* httpBegin = listener.httpPorts;
  const int* httpEnd = httpBegin + listener.httpSocketCount;
  for (int port : WantedHttpPorts(settings))
    ports.push_back({kServiceHttp, port, std::find(httpBegin, httpEnd, port) != httpEnd});
  auto add = [&ports](std::uint8_t service, bool enabled, int port, int socket) {
    if (enabled && port != 0) ports.push_back({service, port, socket >= 0});
  };
  add(kServiceFtpControl, settings.EnableFtp, settings.FtpPort, listener.ftpSocket);
  add(kServiceSmtp, settings.EnablePost, settings.SmtpPort, listener.smtpSocket);
  add(kServicePop3, settings.EnablePost, settings.Pop3Port, listener.pop3Socket);
  add(kServiceSocks5, settings.EnableSocks5, settings.Socks5Port, listener.socks5Socket);
  PublishPorts(std::move(ports));
}

// Closes and opens again the sockets of the services in `mask`, from the
// settings in force. Returns how many ports it tried to open.
int ReopenServices(Listener& listener, int mask) {
  int tried = 0;
  const auto snapshot = Settings();
  const SystemSettings& settings = *snapshot;
  listener.stepMarker = 10;
  if (mask & kReopenHttp) tried += ReopenHttp(listener, WantedHttpPorts(settings));
  listener.stepMarker = 11;
  if (mask & kReopenFtp) tried += ReopenService(listener.ftpSocket, settings.EnableFtp, settings.FtpPort, "FTP");
  if (mask & kReopenSmtp) tried += ReopenService(listener.smtpSocket, settings.EnablePost, settings.SmtpPort, "SMTP");
  if (mask & kReopenPop3) tried += ReopenService(listener.pop3Socket, settings.EnablePost, settings.Pop3Port, "POP3");
  if (mask & kReopenSocks5)
    tried += ReopenService(listener.socks5Socket, settings.EnableSocks5, settings.Socks5Port, "SOCKS5");
  listener.stepMarker = 12;
  std::vector<std::string> reports;
  tried += ReopenPortMapping(listener.portMapSockets, reports);
  for (const std::string& line : reports) ListenerReport(line);
  PublishPorts(listener, settings);
  return tried;
}

bool AnySocketOpen(const Listener& listener) {
  return listener.httpSocketCount > 0 || listener.ftpSocket >= 0 || listener.smtpSocket >= 0 ||
         listener.pop3Socket >= 0 || listener.socks5Socket >= 0 || !listener.portMapSockets.empty();
}

// A gateway that could open none of the ports it was given serves nobody:
// it says so and ends with exit code 1, so that a supervisor sees the failure
// instead of a process that runs and does nothing.
void StopWhenNothingOpened(const Listener& listener, int tried) {
  if (tried == 0 || AnySocketOpen(listener)) return;
  std::string text = Str(1215);
  ListenerReport(text);
  std::fprintf(stderr, "%s\n", text.c_str());
  Flags().exitCode = 1;
  TheMainLoop().Quit();
}

void CloseAll(Listener& listener) {
  PublishPorts({});
  for (int i = 0; i < listener.httpSocketCount; ++i) CloseDescriptor(listener.httpSockets[i]);
  listener.httpSocketCount = 0;
  CloseDescriptor(listener.ftpSocket);
  CloseDescriptor(listener.smtpSocket);
  CloseDescriptor(listener.pop3Socket);
  CloseDescriptor(listener.socks5Socket);
  listener.portMapSockets.clear();
  ChangePortMapRules([](std::vector<PortMapRule>& rules) {
    for (PortMapRule& rule : rules) rule.socket.reset();
  });
}

constexpr int kNoRule = -1;

struct ReadySocket {
  int socket = -1;
  std::uint8_t service = 0;
  int rule = kNoRule;  // index into the rules of the wake-up for a port-mapping socket
};

void ListenerRole(void* listener);

bool MoreClientsWaiting(int listeningSocket) {
  pollfd fd{listeningSocket, POLLIN, 0};
  return ::poll(&fd, 1, 0) > 0;
}

// The listening goes on on another thread while this one serves the client
// it has just accepted: handing the client to a parked worker instead would
// put that thread's wake-up between the client's first bytes and their
// answer. While more clients wait, the role stays: each of them would
// otherwise wait for a thread to be woken and get a core before it is
// accepted, which on a busy gateway is longer than the hand-over of a
// client. A refused client is closed at once, which needs no thread of its
// own to wait for. False when the client goes to a worker instead.
bool HandOverTheRole(Listener& listener, const ConnectionRecord& record, int listeningSocket) {
  return !record.closeRequested && !MoreClientsWaiting(listeningSocket) && RunOnWorkerThread(ListenerRole, &listener);
}

// One wake-up of the wait loop: wait, pick one ready socket, admit it.
// Returns the admitted record when the role went to another thread and this
// one is to serve it.
ConnectionRecord* WaitOnce(Listener& listener) {
  listener.stepMarker = 20;
  // As many entries as there are sockets: every port-mapping rule the
  // listener opened is served, however many there are. The lists are kept
  // by each thread that holds the role, so that an accept costs no
  // allocation.
  static thread_local std::vector<pollfd> fds;
  static thread_local std::vector<ReadySocket> watched;
  fds.clear();
  watched.clear();
  auto add = [&](int socket, std::uint8_t service, int rule) {
    if (socket < 0) return;
    for (const pollfd& fd : fds)
      if (fd.fd == socket) return;
    watched.push_back(ReadySocket{socket, service, rule});
    fds.push_back(pollfd{socket, POLLIN, 0});
  };
  for (int i = 0; i < listener.httpSocketCount; ++i) add(listener.httpSockets[i], kServiceHttp, kNoRule);
  add(listener.ftpSocket, kServiceFtpControl, kNoRule);
  add(listener.smtpSocket, kServiceSmtp, kNoRule);
  add(listener.pop3Socket, kServicePop3, kNoRule);
  add(listener.socks5Socket, kServiceSocks5, kNoRule);
  // The rules' copies hold their sockets open until this wake-up is over.
  const std::vector<PortMapRule> rules = PortMapRules();
  for (size_t i = 0; i < rules.size(); ++i) {
    if (!rules[i].socket) continue;
    add(rules[i].socket->fd(), rules[i].IsUdp() ? kServicePortMapUdp : kServicePortMapTcp, static_cast<int>(i));
  }
  // Nothing changes while no client comes but what ListenerWake announces:
  // the wait needs no time-out, and an idle gateway's listener sleeps.
  const size_t sockets = fds.size();
  int wakeFd = listener.wakeFd.load();
  if (wakeFd >= 0) fds.push_back(pollfd{wakeFd, POLLIN, 0});
  if (fds.empty()) {
    ::usleep(kPollTimeoutMs * 1000);
    return nullptr;
  }
  listener.stepMarker = 21;
  int ready = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), wakeFd >= 0 ? -1 : kPollTimeoutMs);
  if (ready <= 0) return nullptr;
  if (wakeFd >= 0 && (fds[sockets].revents & POLLIN)) {
    std::uint64_t wakes = 0;
    if (::read(wakeFd, &wakes, sizeof(wakes)) < 0) {
      // Nothing to drain: another wake-up raced this one.
    }
    return nullptr;
  }
  listener.stepMarker = 22;
  if (ConnectionCount() >= kConnectionLimit) {
    // The pending client waits in the backlog until a record is freed.
    ::usleep(10000);
    return nullptr;
  }
  // The read set is built in the order of preference: HTTP, FTP, SMTP, POP3,
  // SOCKS5; the first ready one is served. Of the port-mapping rules, which
  // come last, a later ready rule goes before an earlier one.
  ReadySocket chosen;
  for (size_t i = 0; i < sockets; ++i) {
    if (!(fds[i].revents & POLLIN)) continue;
    chosen = watched[i];
    if (chosen.rule == kNoRule) break;
  }
  if (chosen.socket < 0) return nullptr;
  listener.stepMarker = 23;
  if (chosen.rule != kNoRule) {
    ServePortMapSocket(rules[static_cast<size_t>(chosen.rule)]);
    return nullptr;
  }
  ConnectionRecord* record = NewConnection(chosen.service);
  Ipv4 localAddress = 0;
  bool accepted = false;
  try {
    accepted = AcceptClient(*record, chosen.socket, localAddress);
  } catch (...) {
    ReportCurrentExceptionAndGoOn("ProxyThread", record->stepMarker);
  }
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    try {
      AdmitClientLocked(*record, accepted, localAddress);
    } catch (...) {
      Close(*record);
      ReportCurrentExceptionAndGoOn("ProxyThread", record->stepMarker);
    }
    ConnectionListLocked().push_back(record);
  }
  listener.stepMarker = 24;
  if (HandOverTheRole(listener, *record, chosen.socket)) return record;
  StartWorker(record);
  return nullptr;
}

// A step that throws is shown on the monitor and the listener goes on with
// the next: the clients being served and those still to come need it more
// than the one step that failed. The pause keeps an exception that recurs at
// every wake-up from taking a core.
template <typename Step>
void CarryingOn(Listener& listener, Step step) {
  try {
    step();
  } catch (...) {
    ReportCurrentExceptionAndGoOn("SerSockThread", listener.stepMarker);
    ::usleep(kPollTimeoutMs * 1000);
  }
}

// Listens until the listener stops or this thread hands the role on; in
// the second case it then serves the client it accepted.
void ListenerRole(void* arg) {
  Listener& listener = *static_cast<Listener*>(arg);
  while (!listener.stopRequested) {
    // Taken in one step: bits set while the sockets are being reopened wait
    // for the next turn instead of being lost.
    if (int mask = listener.reopenMask.exchange(0)) {
      CarryingOn(listener, [&] {
        int tried = ReopenServices(listener, mask);
        if (!listener.portsOpened) StopWhenNothingOpened(listener, tried);
        listener.portsOpened = true;
      });
    }
    ConnectionRecord* accepted = nullptr;
    CarryingOn(listener, [&] { accepted = WaitOnce(listener); });
    if (accepted) {
      ServeConnectionHere(accepted);
      return;
    }
  }
  CloseAll(listener);
  {
    std::lock_guard<std::mutex> lock(listener.wakeMutex);
    int wakeFd = listener.wakeFd.exchange(-1);
    CloseDescriptor(wakeFd);
  }
  listener.stopped = true;
}

}  // namespace

bool OverAddressLimitLocked(const ConnectionRecord& record) {
  // The address's count is kept with its SessionRecord (raised at admission,
  // lowered when a record is freed; FTP data records count too), so the test
  // costs nothing however many records there are.
  if (!record.sessionRecord) return false;
  int limit = std::max(1, Settings()->MaxConnectionsPerAddress);
  if (record.sessionRecord->openConnections <= limit) return false;
  ReportAddressLimit(record.service, record.clientAddress);
  return true;
}

std::string SocketOpenLine(const std::string& name, int port, bool ok) {
  std::string result = ok ? "Ok" : std::string("Error! ") + std::strerror(errno);
  char line[512];
  std::snprintf(line, sizeof(line), StrC(704), name.c_str(), static_cast<unsigned>(port), result.c_str());
  return line;
}

void ListenerReport(const std::string& text) {
  TheMainLoop().RunSync([text] { MonitorAppend(text); });
}

void ListenerCreate() {
  ListenerReport(Str(700));
  ListenerReport(Str(703));
}

std::vector<ListeningPort> ListeningPorts() {
  PublishedPorts& published = Published();
  std::lock_guard<std::mutex> lock(published.mutex);
  return published.ports;
}

void ListenerRun(Listener& listener) {
  // Stored before the flags are first read: a stop asked for meanwhile
  // either sees the descriptor or is seen by the loop.
  listener.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  listener.reopenMask |= kReopenAll;
  ListenerRole(&listener);
}

void ListenerStop(Listener& listener) {
  listener.stopRequested = true;
  ListenerWake(listener);
}

int ChangedServices(const SystemSettings& before, const SystemSettings& after) {
  auto changed = [](bool enabledBefore, int portBefore, bool enabledAfter, int portAfter) {
    return enabledBefore != enabledAfter || (enabledAfter && portBefore != portAfter);
  };
  int mask = 0;
  if (WantedHttpPorts(before) != WantedHttpPorts(after)) mask |= kReopenHttp;
  if (changed(before.EnableFtp, before.FtpPort, after.EnableFtp, after.FtpPort)) mask |= kReopenFtp;
  if (changed(before.EnablePost, before.SmtpPort, after.EnablePost, after.SmtpPort)) mask |= kReopenSmtp;
  if (changed(before.EnablePost, before.Pop3Port, after.EnablePost, after.Pop3Port)) mask |= kReopenPop3;
  if (changed(before.EnableSocks5, before.Socks5Port, after.EnableSocks5, after.Socks5Port)) mask |= kReopenSocks5;
  return mask;
}

void ListenerReopen(Listener& listener, int mask) {
  if (mask == 0) return;
  listener.reopenMask |= mask;
  ListenerWake(listener);
}

void ListenerWake(Listener& listener) {
  std::lock_guard<std::mutex> lock(listener.wakeMutex);
  int wakeFd = listener.wakeFd.load();
  std::uint64_t one = 1;
  if (wakeFd >= 0 && ::write(wakeFd, &one, sizeof(one)) < 0) {
    // The counter is full: the listener has wake-ups enough.
  }
}

}  // namespace brindlex
