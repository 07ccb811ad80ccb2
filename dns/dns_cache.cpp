#include "dns/dns_cache.h"

#include <algorithm>

#include "core/chars.h"
#include "core/clock.h"
#include "dns/dns_message.h"

namespace brindlex {

std::int64_t DnsCache::ElapsedSeconds(std::int64_t then, std::int64_t now) {
  return (now - then) / kPerformanceFrequency;
}

bool DnsCache::Alive(const Record& record, std::int64_t now, std::uint32_t& left) {
  std::int64_t elapsed = ElapsedSeconds(record.storedAt, now);
  if (elapsed >= record.ttl) return false;
  left = static_cast<std::uint32_t>(record.ttl - elapsed);
  return true;
}

std::vector<DnsCache::Match> DnsCache::FindAddresses(std::string_view name, std::int64_t now) const {
  std::vector<Match> matches;
  auto it = byName_.find(LowerCase(name));
  if (it == byName_.end()) return matches;
  std::uint32_t left = 0;
  for (const Record& record : it->second)
    if (Alive(record, now, left)) matches.push_back({record.name, record.address, left});
  return matches;
}

std::vector<DnsCache::Match> DnsCache::FindNames(std::string_view reverseName, std::int64_t now) const {
  std::vector<Match> matches;
  Ipv4 address = ReverseNameAddress(reverseName);
  if (address == kNoAddress) return matches;
  std::uint32_t left = 0;
  for (const auto& [key, records] : byName_)
    for (const Record& record : records)
      if (record.address == address && Alive(record, now, left)) matches.push_back({record.name, record.address, left});
  return matches;
}

bool DnsCache::Store(std::string_view name, Ipv4 address, std::uint32_t ttl, std::int64_t now) {
  std::vector<Record>& records = byName_[LowerCase(name)];
  auto it =
      std::find_if(records.begin(), records.end(), [&](const Record& record) { return record.address == address; });
  if (it == records.end()) {
    std::size_t length = kRecordOverhead + name.size();
    if (usedBytes_ + length > kBlockSize) {
      if (records.empty()) byName_.erase(LowerCase(name));
      return false;
    }
    usedBytes_ += length;
    ++count_;
    it = records.insert(records.end(), Record{std::string(name), address, 0, 0});
  }
  it->ttl = ttl;
  it->storedAt = now;
  return true;
}

void DnsCache::Expire(std::int64_t now) {
  std::uint32_t left = 0;
  for (auto it = byName_.begin(); it != byName_.end();) {
    std::erase_if(it->second, [&](const Record& record) {
      if (Alive(record, now, left)) return false;
      usedBytes_ -= kRecordOverhead + record.name.size();
      --count_;
      return true;
    });
    it = it->second.empty() ? byName_.erase(it) : std::next(it);
  }
}

void DnsCache::Clear() {
  byName_.clear();
  count_ = 0;
  usedBytes_ = 0;
}

}  // namespace brindlex
