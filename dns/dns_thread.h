// TDnsThread: the DNS forwarder's thread. It owns a UDP socket on port 53
// while EnableDns is on (looking at the setting once a second while it is
// off), serves one datagram at a time through its DnsForwarder, and runs the
// idle clean-up whenever two seconds pass without one (and at least every
// two seconds under steady traffic). It looks at the interfaces' addresses
// again with every clean-up and whenever the settings change. A socket that
// cannot be opened or bound is reported on the monitor and opened again five
// seconds later; a send that fails is reported and costs that datagram only.
// Queries from addresses that are not admitted give REFUSED lines (one a
// minute per address). The cache and the pending queries live as long as
// the thread.
//
// Threads: one instance, created and started on the main thread at start-up
// and stopped at shutdown before the listener. The monitor lines cross to
// the main thread synchronously, so the thread that stops it must keep the
// main loop running until Ended() (RequestStop, then pump, then destroy).
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "dns/dns_forwarder.h"

namespace brindlex {

class TDnsThread {
 public:
  TDnsThread();
  // Stops the thread and waits for it to end.
  ~TDnsThread();
  TDnsThread(const TDnsThread&) = delete;
  TDnsThread& operator=(const TDnsThread&) = delete;

  void Start();
  // Sets the terminate flag and wakes the thread from any wait.
  void RequestStop();
  bool Ended() const { return ended_; }

  std::atomic<int> stepMarker{0};

 private:
  void Run();
  // Serves the bound socket until told to stop or EnableDns goes off.
  void Serve(int socket);
  // Waits up to `milliseconds` for the socket (or only for the terminate
  // flag when socket is -1); true when a datagram is waiting.
  bool Wait(int socket, int milliseconds);
  // The line (or error text) for the monitor. Lines are handed over together,
  // before every wait and after every kLinesPerHandOver of them, so that a
  // busy forwarder does not wake the main thread for each query.
  void ToMonitor(std::string line);
  void HandOverLines();
  static constexpr std::size_t kLinesPerHandOver = 64;
  std::vector<std::string> lines_;

  DnsForwarder forwarder_;
  DnsReportLine report_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> ended_{false};
  int wakeFd_ = -1;
  std::thread thread_;
};

// The process's DNS thread. At shutdown: RequestDnsThreadStop, run the main
// loop's tasks until DnsThreadEnded, then FreeDnsThread (which joins it).
void StartDnsThread();
void RequestDnsThreadStop();
bool DnsThreadEnded();
void FreeDnsThread();

}  // namespace brindlex
