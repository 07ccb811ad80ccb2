// The forwarder's cache of address records: owner name, address, TTL and
// the program-clock count when the record was stored or last refreshed.
// Bounded like one block of kBlockSize bytes in which a record takes
// kRecordOverhead bytes plus its name; when the next record would not fit,
// it is not stored. Records are kept by name, so that a lookup costs the
// same with one record as with a full block. Owned by the DNS thread alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/value_codec.h"

namespace brindlex {

class DnsCache {
 public:
  static constexpr std::size_t kBlockSize = 65535;
  // Length field, time stored, TTL, address and the name's end byte.
  static constexpr std::size_t kRecordOverhead = 19;

  struct Match {
    std::string name;
    Ipv4 address = kNoAddress;
    std::uint32_t ttlLeft = 0;  // seconds
  };

  // Records still alive at `now` whose name is `name` (any case).
  std::vector<Match> FindAddresses(std::string_view name, std::int64_t now) const;
  // Records still alive at `now` whose address reversed is `reverseName`
  // ("d.c.b.a.in-addr.arpa", any case).
  std::vector<Match> FindNames(std::string_view reverseName, std::int64_t now) const;

  // Stores or refreshes (same name, any case, and address) a record; false
  // when a new one does not fit into the block.
  bool Store(std::string_view name, Ipv4 address, std::uint32_t ttl, std::int64_t now);
  // Removes the records whose TTL has run out at `now`.
  void Expire(std::int64_t now);
  void Clear();

  std::size_t size() const { return count_; }
  std::size_t usedBytes() const { return usedBytes_; }

  // Whole seconds between two program-clock counts.
  static std::int64_t ElapsedSeconds(std::int64_t then, std::int64_t now);

 private:
  struct Record {
    std::string name;
    Ipv4 address = kNoAddress;
    std::uint32_t ttl = 0;
    std::int64_t storedAt = 0;
  };
  // Whether the record still lives at `now`; its remaining seconds in `left`.
  static bool Alive(const Record& record, std::int64_t now, std::uint32_t& left);

  // By name in lower case; each name's records in the order stored.
  std::unordered_map<std::string, std::vector<Record>> byName_;
  std::size_t count_ = 0;
  std::size_t usedBytes_ = 0;
};

}  // namespace brindlex
