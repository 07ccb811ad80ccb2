// Running totals of what the gateway has done since it started, for the
// administrator's status and the metrics page: per connection service the
// bytes relayed for clients, the connections accepted and the refusals; the
// DNS forwarder's answers; the HTTP cache's lookups, hits and bytes served.
//
// Threads: every counter is a relaxed atomic that only ever grows, bumped on
// the hot path of whichever thread does the work (no lock: a worker must not
// queue behind another to count a piece). A snapshot taken meanwhile may see
// one counter a step ahead of another; each alone is exact.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>

namespace brindlex {

// The connection services of the connection record (core/connection.h,
// Service), by their numbers 0..8.
inline constexpr std::size_t kCountedServices = 9;

// One service's counters. Bytes are those of the accounting of a piece: what
// went on toward the Internet on a client's behalf (from clients) and what
// came back for it (to clients). Pages the gateway writes itself and answers
// from the disk cache are not relayed bytes; the cache's are counted apart.
// Own cache line each: the workers of two services must not contend.
struct alignas(64) ServiceCounterSet {
  std::atomic<std::int64_t> bytesFromClients{0};
  std::atomic<std::int64_t> bytesToClients{0};
  std::atomic<std::int64_t> accepted{0};
  std::atomic<std::int64_t> refused{0};
};

struct GatewayCounters {
  std::array<ServiceCounterSet, kCountedServices> services;
  // Service numbers outside 0..8 (none today) land here rather than anywhere
  // in memory; they are never shown.
  ServiceCounterSet unknownService;
  alignas(64) std::atomic<std::int64_t> dnsAnsweredLocally{0};  // cache, hosts file, proxy configuration
  std::atomic<std::int64_t> dnsForwarded{0};
  std::atomic<std::int64_t> dnsRefused{0};  // from addresses that are not admitted
  alignas(64) std::atomic<std::int64_t> cacheLookups{0};
  std::atomic<std::int64_t> cacheHits{0};
  std::atomic<std::int64_t> cacheBytes{0};
};

// The process's counters.
GatewayCounters& Counters();
ServiceCounterSet& ServiceCountersOf(std::uint8_t service);

inline void CountUp(std::atomic<std::int64_t>& counter, std::int64_t n = 1) {
  counter.fetch_add(n, std::memory_order_relaxed);
}

// Plain copies of the counters, for records that leave the process.
struct ServiceCounts {
  std::int64_t bytesFromClients = 0;
  std::int64_t bytesToClients = 0;
  std::int64_t accepted = 0;
  std::int64_t refused = 0;
  bool operator==(const ServiceCounts&) const = default;
};

struct CounterSnapshot {
  std::array<ServiceCounts, kCountedServices> services{};
  std::int64_t dnsAnsweredLocally = 0;
  std::int64_t dnsForwarded = 0;
  std::int64_t dnsRefused = 0;
  std::int64_t cacheHits = 0;
  // A lookup that did not end in an answer from the cache: a stale object
  // that the origin confirmed counts as a hit, one it replaced as a miss.
  std::int64_t cacheMisses = 0;
  std::int64_t cacheBytes = 0;
  bool operator==(const CounterSnapshot&) const = default;
};

// Any thread.
CounterSnapshot TakeCounterSnapshot();

// The short name of a service in the figures ("http", "ftp", "socks5"...),
// the same in the status text and the metrics' labels; "" for a number
// outside 0..8.
std::string_view ServiceKey(std::uint8_t service);

}  // namespace brindlex
