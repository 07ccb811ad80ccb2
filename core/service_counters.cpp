#include "core/service_counters.h"

#include <algorithm>

namespace brindlex {

namespace {

constexpr std::array<std::string_view, kCountedServices> kServiceKeys = {
    "http", "http_ftp_data", "ftp", "ftp_data", "smtp", "pop3", "socks5", "portmap_tcp", "portmap_udp",
};

std::int64_t Load(const std::atomic<std::int64_t>& counter) { return counter.load(std::memory_order_relaxed); }

}  // namespace

GatewayCounters& Counters() {
  static GatewayCounters counters;
  return counters;
}

ServiceCounterSet& ServiceCountersOf(std::uint8_t service) {
  GatewayCounters& counters = Counters();
  return service < kCountedServices ? counters.services[service] : counters.unknownService;
}

CounterSnapshot TakeCounterSnapshot() {
  const GatewayCounters& counters = Counters();
  CounterSnapshot snapshot;
  for (std::size_t i = 0; i < kCountedServices; ++i) {
    const ServiceCounterSet& set = counters.services[i];
    snapshot.services[i] = {Load(set.bytesFromClients), Load(set.bytesToClients), Load(set.accepted),
                            Load(set.refused)};
  }
  snapshot.dnsAnsweredLocally = Load(counters.dnsAnsweredLocally);
  snapshot.dnsForwarded = Load(counters.dnsForwarded);
  snapshot.dnsRefused = Load(counters.dnsRefused);
  // Hits are read before lookups: a lookup counted between the two reads
  // then only adds a miss that is about to become one or a hit, never
  // leaves more hits than lookups.
  snapshot.cacheHits = Load(counters.cacheHits);
  const std::int64_t lookups = Load(counters.cacheLookups);
  snapshot.cacheMisses = std::max<std::int64_t>(0, lookups - snapshot.cacheHits);
  snapshot.cacheBytes = Load(counters.cacheBytes);
  return snapshot;
}

std::string_view ServiceKey(std::uint8_t service) {
  return service < kCountedServices ? kServiceKeys[service] : std::string_view();
}

}  // namespace brindlex
