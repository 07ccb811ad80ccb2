#include "dns/dns_cache.h"

#include <algorithm>

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
  std::uint32_t left = 0;
  for (const Record& record : records_)
    if (EqualsNoCase(record.name, name) && Alive(record, now, left))
      matches.push_back({record.name, record.address, left});
  return matches;
}

std::vector<DnsCache::Match> DnsCache::FindNames(std::string_view reverseName, std::int64_t now) const {
  std::vector<Match> matches;
  std::uint32_t left = 0;
  for (const Record& record : records_)
    if (EqualsNoCase(ReverseDnsName(record.address), reverseName) && Alive(record, now, left))
      matches.push_back({record.name, record.address, left});
  return matches;
}

bool DnsCache::Store(std::string_view name, Ipv4 address, std::uint32_t ttl, std::int64_t now) {
  auto it = std::find_if(records_.begin(), records_.end(), [&](const Record& record) {
    return record.address == address && EqualsNoCase(record.name, name);
  });
  if (it == records_.end()) {
    std::size_t length = kRecordOverhead + name.size();
    if (usedBytes_ + length > kBlockSize) return false;
    usedBytes_ += length;
    it = records_.insert(records_.end(), Record{std::string(name), address, 0, 0});
  }
  it->ttl = ttl;
  it->storedAt = now;
  return true;
}

void DnsCache::Expire(std::int64_t now) {
  std::uint32_t left = 0;
  std::erase_if(records_, [&](const Record& record) {
    if (Alive(record, now, left)) return false;
    usedBytes_ -= kRecordOverhead + record.name.size();
    return true;
  });
}

void DnsCache::Clear() {
  records_.clear();
  usedBytes_ = 0;
}

}  // namespace brindlex
