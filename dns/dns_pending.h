// Client queries forwarded upstream and not answered yet, at most kCapacity,
// in arrival order, and at most kClientShare of them from one client
// address. Each new entry takes a random forward ID (none that a waiting
// entry uses), so that a forger who cannot see the traffic has to guess it;
// a client's repetitions of one query keep their entry and its ID. Owned by
// the DNS thread alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/value_codec.h"

namespace brindlex {

class DnsPendingTable {
 public:
  static constexpr std::size_t kCapacity = 100;
  // One client asking for names that are never answered (a broken resolver,
  // a flood) would otherwise hold every place for kLifetimeSeconds and keep
  // all the others' queries from going out.
  static constexpr std::size_t kClientShare = 25;
  // Entries not forwarded again for this long are given up.
  static constexpr std::int64_t kLifetimeSeconds = 31;

  struct Entry {
    Ipv4 clientAddress = kNoAddress;
    std::uint16_t clientPort = 0;
    std::uint16_t clientId = 0;
    std::string name;
    std::int64_t sentAt = 0;
    std::uint16_t forwardId = 0;
    // How often the client has repeated the query; chooses the server.
    std::uint16_t attempt = 0;
    // Where the query went last: only that server's answer is taken.
    Ipv4 server = kNoAddress;
  };

  // Seeded from the system's random source.
  DnsPendingTable();

  // The entry of this client's query (same address, port, ID and name in
  // any case) with its attempt counted up, or a new one with attempt 0;
  // nullptr when the table is full or the client holds its whole share. The
  // pointer lives until the next change.
  Entry* Query(Ipv4 clientAddress, std::uint16_t clientPort, std::uint16_t clientId, std::string_view name);
  // Removes and returns the entry a response belongs to: its forward ID,
  // the question name (any case), and sent by the server the entry went to.
  std::optional<Entry> TakeAnswered(std::uint16_t forwardId, std::string_view name, Ipv4 sender);
  // Removes the entries last forwarded kLifetimeSeconds or more before `now`.
  void Expire(std::int64_t now);

  std::size_t size() const { return entries_.size(); }
  bool full() const { return entries_.size() >= kCapacity; }
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::uint16_t NewForwardId();

  std::vector<Entry> entries_;
  std::mt19937 random_;
};

}  // namespace brindlex
