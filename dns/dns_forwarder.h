// What the forwarder does with one datagram, apart from the socket: a query
// from a client that UsersAddrs and InInterface admit (as they admit TCP
// clients) is answered from the cache, the hosts file or (for the proxy
// auto-configuration name) with the gateway's own address, or else forwarded
// to an upstream server chosen by how often the client has asked, or refused
// with SERVFAIL when DnsServer names no server but the gateway itself; a
// response from the server a query went to is relayed to its client, and its
// address records on the question's CNAME chain are cached. Idle moments
// expire the cache and the pending queries. A query from anyone else is left
// unanswered: an open forwarder would amplify forged queries onto their
// victims.
//
// Owned by the DNS thread alone; unit tests drive it with their own clock
// counts and a sender that records what would go out.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "core/value_codec.h"
#include "dns/dns_cache.h"
#include "dns/dns_message.h"
#include "dns/dns_pending.h"
#include "dns/dns_reply.h"

namespace brindlex {

// The host name browsers look up to find their proxy configuration.
inline constexpr std::string_view kWpadName = "wpad";

// Monitor texts (string table numbers) of the socket's failures: those of
// opening it close it for a while; a datagram that cannot be sent is lost
// alone.
inline constexpr int kDnsSocketFailure = 1240;
inline constexpr int kDnsBindFailure = 1241;
inline constexpr int kDnsAnswerSendFailure = 1242;
inline constexpr int kDnsForwardSendFailure = 1243;

struct DnsArrival {
  std::string_view bytes;
  Ipv4 from = kNoAddress;
  std::uint16_t fromPort = 0;
  // The gateway's address the datagram came in on (kNoAddress if unknown).
  Ipv4 localAddress = kNoAddress;
};

class DnsForwarder {
 public:
  // Sends one datagram; false when it could not be sent.
  using Sender = std::function<bool(std::string_view bytes, Ipv4 to, std::uint16_t port)>;

  struct Outcome {
    // The text number of a send that failed, or 0.
    int failure = 0;
    // A query from an address that is not admitted, left unanswered.
    bool refused = false;
  };
  // Handles one datagram at program-clock count `now`, adding its fragments
  // to `report`.
  Outcome Handle(const DnsArrival& arrival, const SystemSettings& settings, std::int64_t now, const Sender& send,
                 DnsReportLine& report);
  // The clean-up: with the cache on, the records whose TTL ran out go, with
  // it off all of them; pending queries go after kLifetimeSeconds.
  void Idle(const SystemSettings& settings, std::int64_t now);
  // Runs the clean-up after a wait of kCleanUpSeconds that brought no
  // datagram (`quiet`), and under steady traffic once that long has passed
  // since the last one: otherwise, on a network that is never quiet,
  // queries whose answers were lost would fill the table for good. Returns
  // whether it ran.
  static constexpr std::int64_t kCleanUpSeconds = 2;
  bool AfterWait(bool quiet, const SystemSettings& settings, std::int64_t now);
  // The gateway's interface addresses: a DnsServer item among them (or on
  // loopback, or 0.0.0.0) is this forwarder itself and is not sent to.
  void SetInterfaceAddresses(std::vector<Ipv4> addresses) { interfaces_ = std::move(addresses); }

  DnsCache& cache() { return cache_; }
  DnsPendingTable& pending() { return pending_; }

 private:
  int HandleQuery(const DnsArrival& arrival, const DnsHeader& header, const DnsQuestion& question,
                  const SystemSettings& settings, std::int64_t now, const Sender& send, DnsReportLine& report);
  int HandleResponse(const DnsArrival& arrival, const DnsHeader& header, const DnsQuestion& question,
                     const SystemSettings& settings, std::int64_t now, const Sender& send, DnsReportLine& report);
  // The local answers to a query of one question, with `authoritative` set
  // for those that are this gateway's own; empty when it must be forwarded.
  std::vector<LocalAnswer> LocalAnswers(const DnsArrival& arrival, const DnsQuestion& question,
                                        const SystemSettings& settings, std::int64_t now, bool& authoritative,
                                        DnsReportLine& report);
  // Reports the response's address records and caches those on the CNAME
  // chain that starts at the question name.
  void CacheAnswers(std::string_view response, const DnsHeader& header, const DnsQuestion& question,
                    const SystemSettings& settings, std::int64_t now, DnsReportLine& report);

  DnsCache cache_;
  DnsPendingTable pending_;
  std::vector<Ipv4> interfaces_;
  // Program-clock count of the last clean-up (or the first wait).
  std::optional<std::int64_t> lastCleanUp_;
};

}  // namespace brindlex
