#include "net/port_map_listener.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "core/clock.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/refusal_monitor.h"
#include "core/report_exception.h"
#include "core/service_counters.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "net/listener.h"
#include "net/socket_util.h"
#include "net/worker.h"

namespace brindlex {

namespace {

// Datagrams waiting for a conversation's worker beyond this many are dropped,
// as a full socket buffer would drop them.
constexpr size_t kMaxWaitingDatagrams = 256;

// The client's address against the rule's source, then the address's
// SessionRecord. A client outside the source hears nothing; the monitor
// shows the refusal as one of an address that is not admitted.
void AdmitMappedLocked(ConnectionRecord& record) {
  const auto settings = Settings();
  if (!SourceAdmits(*record.portMapRule, record.clientAddress, settings->UsersAddrs)) {
    ReportAddressRefused(record.service, record.clientAddress);
    Close(record);
    return;
  }
  if (!AdmitSessionLocked(record.clientAddress, record.sessionRecord) || OverAddressLimitLocked(record)) Close(record);
}

// Puts a new record into the list (admitting it with `admit` first, under the
// accounts lock) and starts its worker.
template <typename Admit>
void Enter(ConnectionRecord* record, Admit admit) {
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    try {
      admit();
    } catch (...) {
      Close(*record);
      ReportCurrentExceptionAndGoOn("SerSockThread", 0);
    }
    ConnectionListLocked().push_back(record);
  }
  StartWorker(record);
}

void AcceptMapped(const PortMapRule& rule) {
  ConnectionRecord* record = NewConnection(kServicePortMapTcp);
  // An accepted connection has a socket of its own: the rule's listening
  // socket must close when the listener lets it go.
  auto copy = std::make_shared<PortMapRule>(rule);
  copy->socket.reset();
  record->portMapRule = std::move(copy);
  Enter(record, [&] {
    record->clientSocket = ::accept4(rule.socket->fd(), nullptr, nullptr, SOCK_CLOEXEC);
    std::uint16_t port = 0;
    if (record->clientSocket < 0 || !PeerAddress(record->clientSocket, record->clientAddress, port)) {
      Close(*record);
      return;
    }
    CountUp(ServiceCountersOf(kServicePortMapTcp).accepted);
    AdmitMappedLocked(*record);
  });
}

// The running conversation of the rule with the client address, or nullptr.
// One that has gone quiet is ended here, so that the datagram that comes
// after the silence starts a new one however late its worker notices.
ConnectionRecord* ConversationLocked(const PortMapRule& rule, Ipv4 client, std::int64_t now) {
  for (ConnectionRecord* record : ConnectionListLocked()) {
    if (record->service != kServicePortMapUdp || record->clientAddress != client || !record->portMapRule ||
        record->portMapRule->socket != rule.socket || record->closeRequested || record->conversationEnded)
      continue;
    if (!ConversationIdleLocked(*record, now)) return record;
    record->conversationEnded = true;
  }
  return nullptr;
}

void Signal(int eventFd) {
  std::uint64_t one = 1;
  if (::write(eventFd, &one, sizeof(one)) < 0) {
    // The counter is full: the worker has signals enough.
  }
}

void ReceiveMapped(const PortMapRule& rule) {
  // Only the thread holding the listener's role receives here: one buffer
  // serves every datagram.
  static char buffer[kDatagramMax];
  Ipv4 client = kNoAddress;
  int port = 0;
  ssize_t n = ReceiveDatagram(rule.socket->fd(), buffer, kDatagramMax, client, port);
  if (n < 0) return;
  ClientDatagram datagram{port, std::string(buffer, static_cast<size_t>(n))};
  std::int64_t now = ProgramClock().PerformanceCounter();
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (ConnectionRecord* conversation = ConversationLocked(rule, client, now)) {
      if (conversation->clientDatagrams.size() >= kMaxWaitingDatagrams) return;
      conversation->clientDatagrams.push_back(std::move(datagram));
      conversation->lastDatagramCounter = now;
      Signal(conversation->auxSocket);
      return;
    }
  }
  // A datagram from a client without a running conversation opens one: the
  // connection of a datagram service.
  CountUp(ServiceCountersOf(kServicePortMapUdp).accepted);
  ConnectionRecord* record = NewConnection(kServicePortMapUdp);
  record->portMapRule = std::make_shared<const PortMapRule>(rule);
  // The rule's socket: the record answers through it but never closes it.
  record->clientSocket = rule.socket->fd();
  record->clientAddress = client;
  record->lastDatagramCounter = now;
  record->clientDatagrams.push_back(std::move(datagram));
  Enter(record, [&] {
    record->auxSocket = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (record->auxSocket < 0)
      Close(*record);
    else
      AdmitMappedLocked(*record);
  });
}

}  // namespace

int ReopenPortMapping(std::vector<std::shared_ptr<PortMapSocket>>& held, std::vector<std::string>& reports) {
  int tried = 0;
  ChangePortMapRules([&](std::vector<PortMapRule>& rules) {
    std::erase_if(held, [&rules](const std::shared_ptr<PortMapSocket>& socket) {
      return std::none_of(rules.begin(), rules.end(), [&](const PortMapRule& rule) { return rule.socket == socket; });
    });
    for (PortMapRule& rule : rules) {
      if (rule.socket || rule.disabled) continue;
      int fd = rule.IsUdp() ? OpenDatagramSocket(rule.listenPort)
                            : OpenListeningSocket(rule.listenAddress, rule.listenPort, kFullBacklog);
      ++tried;
      reports.push_back(SocketOpenLine(rule.name, rule.listenPort, fd >= 0));
      if (fd < 0) continue;
      rule.socket = std::make_shared<PortMapSocket>(fd);
      held.push_back(rule.socket);
    }
  });
  return tried;
}

void ServePortMapSocket(const PortMapRule& rule) {
  if (!rule.socket) return;
  if (rule.IsUdp())
    ReceiveMapped(rule);
  else
    AcceptMapped(rule);
}

}  // namespace brindlex
