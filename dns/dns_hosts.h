// Answers from a hosts-format file: one entry a line, a dotted IPv4 address
// and a host name after it (further names on the line are ignored). The file
// is read anew for every lookup, through a buffer of kHostsBufferSize bytes:
// a line longer than that ends the lookup, so a damaged file costs no more
// memory than a good one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/value_codec.h"

namespace brindlex {

inline constexpr std::size_t kHostsBufferSize = 8192;

struct HostsEntry {
  Ipv4 address = kNoAddress;
  std::string_view name;  // views the line
};

// One line without its LF. False for a blank or comment line, or a line
// whose address is invalid or 0.0.0.0, or that names no host.
bool ReadHostsLine(std::string_view line, HostsEntry& entry);

// Whether `question` is `host`, or (when a suffix is set) `host`, "." and
// `domainSuffix`; any case.
bool NamesHost(std::string_view question, std::string_view host, std::string_view domainSuffix);

struct HostsAnswer {
  Ipv4 address = kNoAddress;
  std::string name;
};

// The first entry that answers the question: for type A a host name equal
// to `question`, or with "." and `domainSuffix` (when set) equal to it; for
// type PTR an address whose reverse name is `question`, answered with the
// host name and "." and the suffix when set. Any case.
std::optional<HostsAnswer> MatchHostsEntry(const HostsEntry& entry, std::string_view question, std::uint16_t type,
                                           std::string_view domainSuffix);

// Looks the question up in the file at `path`; nothing when the file cannot
// be read.
std::optional<HostsAnswer> LookUpHostsFile(const std::string& path, std::string_view question, std::uint16_t type,
                                           std::string_view domainSuffix);

}  // namespace brindlex
