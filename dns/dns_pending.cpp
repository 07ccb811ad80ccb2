#include "dns/dns_pending.h"

#include <algorithm>

#include "dns/dns_cache.h"

namespace brindlex {

DnsPendingTable::DnsPendingTable() : random_(std::random_device{}()) { entries_.reserve(kCapacity); }

std::uint16_t DnsPendingTable::NewForwardId() {
  std::uniform_int_distribution<int> draw(0, 0xFFFF);
  for (;;) {
    auto id = static_cast<std::uint16_t>(draw(random_));
    if (std::none_of(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.forwardId == id; })) return id;
  }
}

DnsPendingTable::Entry* DnsPendingTable::Query(Ipv4 clientAddress, std::uint16_t clientPort, std::uint16_t clientId,
                                               std::string_view name) {
  for (Entry& entry : entries_) {
    if (entry.clientAddress == clientAddress && entry.clientPort == clientPort && entry.clientId == clientId &&
        EqualsNoCase(entry.name, name)) {
      ++entry.attempt;
      return &entry;
    }
  }
  if (full()) return nullptr;
  auto held = std::count_if(entries_.begin(), entries_.end(),
                            [clientAddress](const Entry& e) { return e.clientAddress == clientAddress; });
  if (static_cast<std::size_t>(held) >= kClientShare) return nullptr;
  Entry entry;
  entry.clientAddress = clientAddress;
  entry.clientPort = clientPort;
  entry.clientId = clientId;
  entry.name = name;
  entry.forwardId = NewForwardId();
  entries_.push_back(std::move(entry));
  return &entries_.back();
}

std::optional<DnsPendingTable::Entry> DnsPendingTable::TakeAnswered(std::uint16_t forwardId, std::string_view name,
                                                                    Ipv4 sender) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    return entry.forwardId == forwardId && entry.server == sender && EqualsNoCase(entry.name, name);
  });
  if (it == entries_.end()) return std::nullopt;
  Entry taken = std::move(*it);
  entries_.erase(it);
  return taken;
}

void DnsPendingTable::Expire(std::int64_t now) {
  std::erase_if(entries_,
                [now](const Entry& entry) { return DnsCache::ElapsedSeconds(entry.sentAt, now) >= kLifetimeSeconds; });
}

}  // namespace brindlex
