// DNS messages on the wire: the header fields the forwarder reads, names
// (labels and compression pointers) to dotted text and back, the question
// and resource records. Every reader stays inside the datagram it is given
// and gives up instead of guessing: a pointer loop, a name longer than
// kDnsNameMax characters or a field cut off by the end all make the
// datagram undecodable. Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/value_codec.h"

namespace brindlex {

// The largest reply built here.
inline constexpr std::size_t kDnsDatagramMax = 512;
// The largest datagram received and relayed: clients that announce a larger
// buffer (EDNS) get upstream answers longer than 512 bytes, which must reach
// them whole.
inline constexpr std::size_t kDnsReceiveMax = 4096;
inline constexpr std::size_t kDnsHeaderSize = 12;
// The longest dotted name accepted.
inline constexpr std::size_t kDnsNameMax = 255;
inline constexpr std::uint16_t kDnsPort = 53;

enum DnsType : std::uint16_t {
  kDnsTypeA = 1,
  kDnsTypeNs = 2,
  kDnsTypeCname = 5,
  kDnsTypeSoa = 6,
  kDnsTypeWks = 11,
  kDnsTypePtr = 12,
  kDnsTypeHinfo = 13,
  kDnsTypeMx = 15,
};
inline constexpr std::uint16_t kDnsClassIn = 1;
// The RCODE of a server that cannot answer.
inline constexpr std::uint16_t kDnsRcodeServerFailure = 2;

// Flag bits of the header's second field.
inline constexpr std::uint16_t kDnsFlagQr = 0x8000;
inline constexpr std::uint16_t kDnsFlagAa = 0x0400;
inline constexpr std::uint16_t kDnsFlagTc = 0x0200;
inline constexpr std::uint16_t kDnsFlagRa = 0x0080;
// Of the three bits after RA: "authentic data", which no local answer is,
// and "checking disabled".
inline constexpr std::uint16_t kDnsFlagAd = 0x0020;
inline constexpr std::uint16_t kDnsFlagCd = 0x0010;

struct DnsHeader {
  std::uint16_t id = 0;
  std::uint16_t flags = 0;
  std::uint16_t questionCount = 0;
  std::uint16_t answerCount = 0;

  bool response() const { return (flags & kDnsFlagQr) != 0; }
  int opcode() const { return (flags >> 11) & 0x0F; }
  bool authoritative() const { return (flags & kDnsFlagAa) != 0; }
  bool recursionAvailable() const { return (flags & kDnsFlagRa) != 0; }
  int rcode() const { return flags & 0x0F; }
};

// False when the message is shorter than a header.
bool ReadDnsHeader(std::string_view message, DnsHeader& header);
// Writes a new ID into a message of at least a header's size.
void PutDnsId(std::string& message, std::uint16_t id);

// Decodes the name at `at` into dotted text (no trailing dot; the root is
// ""). On success `at` is just after the name as it stands there (after its
// first pointer, if any).
bool DecodeDnsName(std::string_view message, std::size_t& at, std::string& name);
// Length-prefixed labels split at '.', empty labels left out, ended by a
// zero byte; "" when a label is longer than 63 bytes or the whole longer
// than kDnsNameMax bytes.
std::string EncodeDnsName(std::string_view dotted);

// The question section. Of several questions the last is the one used;
// `end` is where the section ends.
struct DnsQuestion {
  std::string name;
  std::uint16_t type = 0;
  std::uint16_t qclass = 0;
  std::size_t end = kDnsHeaderSize;
};
// Decodes all `header.questionCount` questions; false when one is cut off.
bool ReadDnsQuestions(std::string_view message, const DnsHeader& header, DnsQuestion& question);

// One resource record. `data` views the message.
struct DnsRecord {
  std::string owner;
  std::uint16_t type = 0;
  std::uint16_t rclass = 0;
  std::uint32_t ttl = 0;
  std::size_t dataAt = 0;
  std::string_view data;
};
// Reads the record at `at` and moves `at` past it; false when it is cut off.
bool ReadDnsRecord(std::string_view message, std::size_t& at, DnsRecord& record);

// "A", "NS", "CNAME", "SOA", "WKS", "PTR", "HINFO", "MX", anything else "??".
const char* DnsTypeName(std::uint16_t type);
// "d.c.b.a.in-addr.arpa" for the address a.b.c.d.
std::string ReverseDnsName(Ipv4 address);
// The address whose ReverseDnsName is `name` (any case); kNoAddress when
// there is none.
Ipv4 ReverseNameAddress(std::string_view name);

}  // namespace brindlex
