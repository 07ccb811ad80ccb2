#include "dns/dns_thread.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "core/clock.h"
#include "core/file_io.h"
#include "core/monitor.h"
#include "core/own_address.h"
#include "core/refusal_monitor.h"
#include "core/report_exception.h"
#include "core/settings.h"
#include "core/strings.h"

namespace brindlex {

namespace {

constexpr const char* kModule = "DnsThread";
constexpr int kOffPollMs = 1000;
constexpr int kIdleMs = DnsForwarder::kCleanUpSeconds * 1000;
constexpr int kRecoverMs = 5000;

std::unique_ptr<TDnsThread> g_dnsThread;

// The bound socket; on failure the text number of what failed.
int OpenSocket(int& failure) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failure = kDnsSocketFailure;
    return -1;
  }
  // Tells each datagram's own destination: the gateway's address as that
  // client reaches it.
  int one = 1;
  ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof(one));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kDnsPort);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    failure = kDnsBindFailure;
    return -1;
  }
  return fd;
}

// One datagram of at most kDnsReceiveMax bytes; false when none came or it
// was longer (cut off, it would reach a client as a damaged answer).
bool Receive(int socket, char* buffer, DnsArrival& arrival) {
  sockaddr_in source{};
  iovec part{buffer, kDnsReceiveMax};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr message{};
  message.msg_name = &source;
  message.msg_namelen = sizeof(source);
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  ssize_t n = ::recvmsg(socket, &message, MSG_DONTWAIT);
  if (n <= 0 || source.sin_family != AF_INET || (message.msg_flags & MSG_TRUNC) != 0) return false;
  arrival.bytes = std::string_view(buffer, static_cast<std::size_t>(n));
  arrival.from = ntohl(source.sin_addr.s_addr);
  arrival.fromPort = ntohs(source.sin_port);
  arrival.localAddress = kNoAddress;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info;
    std::memcpy(&info, CMSG_DATA(c), sizeof(info));
    arrival.localAddress = ntohl(info.ipi_spec_dst.s_addr);
  }
  return true;
}

bool SendTo(int socket, std::string_view bytes, Ipv4 to, std::uint16_t port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(to);
  target.sin_port = htons(port);
  ssize_t n =
      ::sendto(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&target), sizeof(target));
  return n == static_cast<ssize_t>(bytes.size());
}

}  // namespace

TDnsThread::TDnsThread() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeFd_ < 0) throw std::runtime_error("eventfd failed");
}

TDnsThread::~TDnsThread() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
  CloseDescriptor(wakeFd_);
}

void TDnsThread::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void TDnsThread::RequestStop() {
  terminated_ = true;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof(one));
}

bool TDnsThread::Wait(int socket, int milliseconds) {
  HandOverLines();
  pollfd waits[2] = {{wakeFd_, POLLIN, 0}, {socket, POLLIN, 0}};
  int ready = ::poll(waits, socket < 0 ? 1 : 2, milliseconds);
  return ready > 0 && !terminated_ && socket >= 0 && (waits[1].revents & POLLIN) != 0;
}

// The thread serves one datagram at a time: it never waits for the main
// thread to show a line.
void TDnsThread::ToMonitor(std::string line) {
  lines_.push_back(std::move(line));
  if (lines_.size() >= kLinesPerHandOver) HandOverLines();
}

void TDnsThread::HandOverLines() {
  if (!lines_.empty()) MonitorPost(lines_, kMonitorDns);
}

void TDnsThread::Run() {
  try {
    while (!terminated_) {
      stepMarker = 1;
      if (!Settings()->EnableDns) {
        Wait(-1, kOffPollMs);
        continue;
      }
      stepMarker = 2;
      int failure = 0;
      int socket = OpenSocket(failure);
      if (socket < 0) {
        ToMonitor(Str(failure));
        Wait(-1, kRecoverMs);
        continue;
      }
      // The same line as the listener's ports, so that one can see the
      // forwarder is serving.
      char opened[128];
      std::snprintf(opened, sizeof(opened), StrC(704), "DNS", static_cast<unsigned>(kDnsPort), "Ok");
      ToMonitor(opened);
      Serve(socket);
      stepMarker = 3;
      CloseDescriptor(socket);
      if (!terminated_) Wait(-1, kRecoverMs);
    }
  } catch (...) {
    ReportCurrentExceptionAndGoOn(kModule, stepMarker);
  }
  HandOverLines();
  ended_ = true;
}

void TDnsThread::Serve(int socket) {
  std::unique_ptr<char[]> buffer(new char[kDnsReceiveMax]);
  const DnsForwarder::Sender send = [socket](std::string_view bytes, Ipv4 to, std::uint16_t port) {
    return SendTo(socket, bytes, to, port);
  };
  bool busy = false;  // the last pass took a datagram: more may be waiting
  std::shared_ptr<const SystemSettings> seenSettings;
  while (!terminated_ && Settings()->EnableDns) {
    stepMarker = 10;
    if (!report_.text().empty()) ToMonitor(report_.text());
    report_.Clear();
    stepMarker = 11;
    DnsArrival arrival;
    // While datagrams keep coming the next one is taken without a wait,
    // which would cost a busy forwarder a system call per query.
    bool received = busy && Receive(socket, buffer.get(), arrival);
    bool arrived = received;
    if (!received) {
      arrived = Wait(socket, kIdleMs);
      if (terminated_) return;
      received = arrived && Receive(socket, buffer.get(), arrival);
    }
    busy = received;
    // Read after the wait: a change of the settings counts from the next
    // datagram on.
    std::shared_ptr<const SystemSettings> settings = Settings();
    // The interfaces are looked at again with new settings (a server just
    // named may be the gateway itself) and with every clean-up.
    if (settings != seenSettings) forwarder_.SetInterfaceAddresses(InterfaceAddresses());
    seenSettings = settings;
    std::int64_t now = ProgramClock().PerformanceCounter();
    if (received) {
      stepMarker = 13;
      report_.SetShown(MonitorShows(kMonitorDns));
      DnsForwarder::Outcome outcome = forwarder_.Handle(arrival, *settings, now, send, report_);
      stepMarker = 14;
      // A datagram that cannot go out (to port 0, say, or refused by a
      // firewall rule) is lost alone: closing the socket for it would let
      // anyone stop the forwarder with one datagram.
      if (outcome.failure != 0) ToMonitor(Str(outcome.failure));
      if (outcome.refused) ReportDnsAddressRefused(arrival.from);
    }
    stepMarker = 12;
    if (forwarder_.AfterWait(!arrived, *settings, now)) forwarder_.SetInterfaceAddresses(InterfaceAddresses());
  }
}

void StartDnsThread() {
  g_dnsThread = std::make_unique<TDnsThread>();
  g_dnsThread->Start();
}

void RequestDnsThreadStop() {
  if (g_dnsThread) g_dnsThread->RequestStop();
}

bool DnsThreadEnded() { return !g_dnsThread || g_dnsThread->Ended(); }

void FreeDnsThread() { g_dnsThread.reset(); }

}  // namespace brindlex
