// The kernel's ARP table (/proc/net/arp): the hardware address a LAN client
// uses, for users identified by address and confirmed by MAC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/value_codec.h"

namespace brindlex {

// A hardware address as a 48-bit number, bytes in their natural order.
using MacAddress = std::uint64_t;

// Reads "aa:bb:cc:dd:ee:ff"; nullopt for anything else.
std::optional<MacAddress> ParseMacText(std::string_view text);
// Reads the 12 hexadecimal digits a user's password field holds for an
// address user; nullopt when not hexadecimal, empty or longer than 12 digits.
std::optional<MacAddress> ParseMacDigits(std::string_view digits);

// The hardware address of an IPv4 address in a table text of the
// /proc/net/arp form; entries with flags 0 (incomplete) are ignored.
std::optional<MacAddress> FindMacInTable(std::string_view table, Ipv4 address);

// The same from the table file; a table that cannot be read finds nothing.
std::optional<MacAddress> LookUpMac(Ipv4 address);
// Points the look-ups at another file (tests); empty restores /proc/net/arp.
void SetArpTablePath(std::string path);

}  // namespace brindlex
