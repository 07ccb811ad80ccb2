// A line of a hosts file: an entry's name is a word of the line itself, its
// address never 0.0.0.0, and a match by name or reverse name agrees with
// what the entry holds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dns/dns_hosts.h"
#include "dns/dns_message.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  HostsEntry entry;
  if (!ReadHostsLine(line, entry)) return 0;
  if (entry.address == 0 || entry.address == kNoAddress || entry.name.empty()) __builtin_trap();
  if (entry.name.data() < line.data() || entry.name.data() + entry.name.size() > line.data() + line.size())
    __builtin_trap();
  if (entry.name.find_first_of(" \t\r") != std::string_view::npos) __builtin_trap();
  auto byName = MatchHostsEntry(entry, entry.name, kDnsTypeA, "suffix");
  if (!byName || byName->address != entry.address) __builtin_trap();
  auto byAddress = MatchHostsEntry(entry, ReverseDnsName(entry.address), kDnsTypePtr, "suffix");
  if (!byAddress || byAddress->name != std::string(entry.name) + ".suffix") __builtin_trap();
  return 0;
}
