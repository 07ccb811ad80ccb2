// The forwarder's cache block and its table of pending queries.
#include <gtest/gtest.h>
#include <set>
#include <string>

#include "core/clock.h"
#include "dns/dns_cache.h"
#include "dns/dns_pending.h"

namespace brindlex {
namespace {

constexpr std::int64_t kSecond = kPerformanceFrequency;

Ipv4 Address(const char* dotted) {
  Ipv4 address = kNoAddress;
  EXPECT_TRUE(ParseDottedQuad(dotted, address)) << dotted;
  return address;
}

TEST(DnsCache, RecordsLiveForTheirTtlInWholeSecondsAndAreFoundByNameOrReverseName) {
  DnsCache cache;
  const std::int64_t start = 1000 * kSecond;
  ASSERT_TRUE(cache.Store("www.example.com", Address("192.0.2.1"), 300, start));
  ASSERT_TRUE(cache.Store("www.example.com", Address("192.0.2.2"), 10, start));
  ASSERT_TRUE(cache.Store("other.example", Address("192.0.2.1"), 300, start));

  auto found = cache.FindAddresses("WWW.Example.COM", start + 7 * kSecond + kSecond / 2);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].address, Address("192.0.2.1"));
  EXPECT_EQ(found[0].ttlLeft, 293u) << "the fraction of a second is dropped";
  EXPECT_EQ(found[1].ttlLeft, 3u);
  found = cache.FindAddresses("www.example.com", start + 10 * kSecond);
  ASSERT_EQ(found.size(), 1u) << "a record whose TTL has run out is not answered";
  EXPECT_EQ(found[0].address, Address("192.0.2.1"));

  found = cache.FindNames("1.2.0.192.IN-ADDR.ARPA", start);
  std::set<std::string> names;
  for (const auto& match : found) names.insert(match.name);
  EXPECT_EQ(names, (std::set<std::string>{"www.example.com", "other.example"}));
  EXPECT_EQ(found.size(), 2u);
  EXPECT_TRUE(cache.FindNames("9.2.0.192.in-addr.arpa", start).empty());
  EXPECT_TRUE(cache.FindNames("1.2.0.192.in-addr.arpa", start + 300 * kSecond).empty());
}

TEST(DnsCache, StoringAgainRefreshesTheRecordInsteadOfAddingOne) {
  DnsCache cache;
  ASSERT_TRUE(cache.Store("a.example", Address("192.0.2.1"), 60, 0));
  std::size_t used = cache.usedBytes();
  EXPECT_EQ(used, DnsCache::kRecordOverhead + 9);
  ASSERT_TRUE(cache.Store("A.EXAMPLE", Address("192.0.2.1"), 120, 50 * kSecond));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.usedBytes(), used);
  auto found = cache.FindAddresses("a.example", 100 * kSecond);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].ttlLeft, 70u);
}

TEST(DnsCache, ExpiryRemovesDeadRecordsAndTheirBytesAndTheBlockIsBounded) {
  DnsCache cache;
  ASSERT_TRUE(cache.Store("short.example", Address("192.0.2.1"), 5, 0));
  ASSERT_TRUE(cache.Store("long.example", Address("192.0.2.2"), 500, 0));
  cache.Expire(5 * kSecond);
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.usedBytes(), DnsCache::kRecordOverhead + 12);
  cache.Clear();
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_EQ(cache.usedBytes(), 0u);

  // Fill the block with distinct records: one more than fits is refused,
  // and the bytes never pass the block's size.
  std::string name(100, 'n');
  std::size_t stored = 0;
  while (cache.Store(name, static_cast<Ipv4>(stored + 1), 60, 0)) ++stored;
  EXPECT_EQ(stored, DnsCache::kBlockSize / (DnsCache::kRecordOverhead + name.size()));
  EXPECT_LE(cache.usedBytes(), DnsCache::kBlockSize);
  EXPECT_EQ(cache.size(), stored);
  // A refresh of a record already there needs no room.
  EXPECT_TRUE(cache.Store(name, 1, 90, 0));
}

TEST(DnsPending, RepetitionsKeepTheirEntryAndForwardIdAndCountAttempts) {
  DnsPendingTable table;
  auto* first = table.Query(Address("10.0.0.5"), 4000, 77, "www.example.com");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->attempt, 0);
  std::uint16_t forwardId = first->forwardId;
  auto* again = table.Query(Address("10.0.0.5"), 4000, 77, "WWW.example.com");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->attempt, 1);
  EXPECT_EQ(again->forwardId, forwardId);
  EXPECT_EQ(table.size(), 1u);
  // Another port, ID or name is another query.
  table.Query(Address("10.0.0.5"), 4001, 77, "www.example.com");
  table.Query(Address("10.0.0.5"), 4000, 78, "www.example.com");
  table.Query(Address("10.0.0.5"), 4000, 77, "mail.example.com");
  table.Query(Address("10.0.0.6"), 4000, 77, "www.example.com");
  EXPECT_EQ(table.size(), 5u);
}

// The client of the i-th query when a table is filled: each client address
// takes its whole share.
Ipv4 FillingClient(std::size_t i) {
  return Address("10.0.0.10") + static_cast<Ipv4>(i / DnsPendingTable::kClientShare);
}

TEST(DnsPending, ForwardIdsAreNeitherSequentialNorSharedByWaitingEntries) {
  DnsPendingTable table;
  std::set<std::uint16_t> ids;
  int steps = 0;
  std::uint16_t previous = 0;
  for (std::uint16_t i = 0; i < DnsPendingTable::kCapacity; ++i) {
    auto* entry = table.Query(FillingClient(i), 4000, i, "name.example");
    ASSERT_NE(entry, nullptr);
    if (i > 0 && entry->forwardId == static_cast<std::uint16_t>(previous + 1)) ++steps;
    previous = entry->forwardId;
    ids.insert(entry->forwardId);
  }
  EXPECT_EQ(ids.size(), DnsPendingTable::kCapacity);
  // A counter would step by one every time; random IDs almost never do.
  EXPECT_LT(steps, 5);
}

TEST(DnsPending, TheHundredAndFirstQueryIsRefusedAndExpiryMakesRoom) {
  DnsPendingTable table;
  for (std::uint16_t i = 0; i < 100; ++i) {
    auto* entry = table.Query(FillingClient(i), 4000, i, "name.example");
    ASSERT_NE(entry, nullptr);
    entry->sentAt = i < 50 ? 0 : 10 * kSecond;
  }
  EXPECT_TRUE(table.full());
  EXPECT_EQ(table.Query(Address("10.0.0.5"), 4000, 100, "name.example"), nullptr) << "a client holding nothing";
  // A repetition still finds its entry in a full table.
  EXPECT_NE(table.Query(FillingClient(3), 4000, 3, "name.example"), nullptr);
  table.Expire(31 * kSecond - 1);
  EXPECT_EQ(table.size(), 100u) << "30.999 s is not 31 whole seconds";
  table.Expire(31 * kSecond);
  EXPECT_EQ(table.size(), 50u);
  EXPECT_FALSE(table.full());
  EXPECT_NE(table.Query(Address("10.0.0.5"), 4000, 100, "name.example"), nullptr);
}

TEST(DnsPending, OneClientAddressHoldsAtMostItsShareWhateverItsPorts) {
  DnsPendingTable table;
  const Ipv4 flooder = Address("10.0.0.5");
  for (std::uint16_t i = 0; i < DnsPendingTable::kClientShare; ++i)
    ASSERT_NE(table.Query(flooder, static_cast<std::uint16_t>(4000 + i), i, "silent.example"), nullptr) << i;
  EXPECT_EQ(table.Query(flooder, 5000, 999, "silent.example"), nullptr);
  EXPECT_FALSE(table.full());
  // Its own repetitions are no new entries; another client has its places.
  auto* again = table.Query(flooder, 4000, 0, "silent.example");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->attempt, 1);
  auto* other = table.Query(Address("10.0.0.6"), 4000, 1, "www.example");
  ASSERT_NE(other, nullptr);
  other->server = Address("198.51.100.2");
  std::uint16_t otherId = other->forwardId;
  // An answered query gives its place back.
  auto* last = table.Query(flooder, 4001, 1, "silent.example");
  ASSERT_NE(last, nullptr);
  last->server = Address("198.51.100.2");
  ASSERT_TRUE(table.TakeAnswered(last->forwardId, "silent.example", Address("198.51.100.2")));
  EXPECT_NE(table.Query(flooder, 5000, 999, "silent.example"), nullptr);
  EXPECT_EQ(table.Query(flooder, 5001, 999, "silent.example"), nullptr);
  EXPECT_TRUE(table.TakeAnswered(otherId, "www.example", Address("198.51.100.2")));
}

TEST(DnsPending, AResponseIsTakenOnlyFromTheServerTheQueryWentToForItsIdAndName) {
  DnsPendingTable table;
  auto* entry = table.Query(Address("10.0.0.5"), 4000, 77, "www.example.com");
  ASSERT_NE(entry, nullptr);
  entry->server = Address("127.0.0.2");
  std::uint16_t id = entry->forwardId;
  EXPECT_FALSE(table.TakeAnswered(id, "www.example.com", Address("127.0.0.3")));
  EXPECT_FALSE(table.TakeAnswered(static_cast<std::uint16_t>(id + 1), "www.example.com", Address("127.0.0.2")));
  EXPECT_FALSE(table.TakeAnswered(id, "mail.example.com", Address("127.0.0.2")));
  EXPECT_EQ(table.size(), 1u);
  auto taken = table.TakeAnswered(id, "WWW.EXAMPLE.COM", Address("127.0.0.2"));
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->clientId, 77);
  EXPECT_EQ(taken->clientPort, 4000);
  EXPECT_EQ(table.size(), 0u);
}

}  // namespace
}  // namespace brindlex
