#include "dns/dns_message.h"

#include <cstdio>

namespace brindlex {

namespace {

constexpr std::uint8_t kPointerMark = 0xC0;
constexpr std::size_t kLabelMax = 63;

std::uint16_t Word(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) << 8 |
                                    static_cast<std::uint8_t>(bytes[at + 1]));
}

std::uint32_t DoubleWord(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Word(bytes, at)) << 16 | Word(bytes, at + 2);
}

}  // namespace

bool ReadDnsHeader(std::string_view message, DnsHeader& header) {
  if (message.size() < kDnsHeaderSize) return false;
  header.id = Word(message, 0);
  header.flags = Word(message, 2);
  header.questionCount = Word(message, 4);
  header.answerCount = Word(message, 6);
  return true;
}

void PutDnsId(std::string& message, std::uint16_t id) {
  message[0] = static_cast<char>(id >> 8);
  message[1] = static_cast<char>(id & 0xFF);
}

bool DecodeDnsName(std::string_view message, std::size_t& at, std::string& name) {
  name.clear();
  std::size_t position = at;
  bool jumped = false;
  // Every pointer must lead back before the label it stands in: a name is
  // always written before the pointers to it, and this makes a loop, or a
  // chain longer than the message, impossible.
  std::size_t limit = position;
  for (;;) {
    if (position >= message.size()) return false;
    auto length = static_cast<std::uint8_t>(message[position]);
    if (length == 0) {
      if (!jumped) at = position + 1;
      return true;
    }
    if ((length & kPointerMark) == kPointerMark) {
      if (position + 1 >= message.size()) return false;
      std::size_t target = Word(message, position) & 0x3FFF;
      if (target >= limit) return false;
      if (!jumped) at = position + 2;
      jumped = true;
      position = limit = target;
      continue;
    }
    // 0x40 and 0x80 are label types that are no longer used.
    if (length > kLabelMax || position + 1 + length > message.size()) return false;
    if (!name.empty()) name += '.';
    name.append(message.substr(position + 1, length));
    if (name.size() > kDnsNameMax) return false;
    position += 1 + length;
  }
}

std::string EncodeDnsName(std::string_view dotted) {
  std::string wire;
  std::size_t start = 0;
  while (start <= dotted.size()) {
    std::size_t end = dotted.find('.', start);
    if (end == std::string_view::npos) end = dotted.size();
    std::size_t length = end - start;
    if (length > kLabelMax) return "";
    if (length > 0) {
      wire += static_cast<char>(length);
      wire.append(dotted.substr(start, length));
    }
    start = end + 1;
  }
  wire += '\0';
  return wire.size() > kDnsNameMax ? "" : wire;
}

bool ReadDnsQuestions(std::string_view message, const DnsHeader& header, DnsQuestion& question) {
  std::size_t at = kDnsHeaderSize;
  for (int i = 0; i < header.questionCount; ++i) {
    if (!DecodeDnsName(message, at, question.name) || at + 4 > message.size()) return false;
    question.type = Word(message, at);
    question.qclass = Word(message, at + 2);
    at += 4;
  }
  question.end = at;
  return true;
}

bool ReadDnsRecord(std::string_view message, std::size_t& at, DnsRecord& record) {
  std::size_t position = at;
  if (!DecodeDnsName(message, position, record.owner) || position + 10 > message.size()) return false;
  record.type = Word(message, position);
  record.rclass = Word(message, position + 2);
  record.ttl = DoubleWord(message, position + 4);
  std::size_t length = Word(message, position + 8);
  record.dataAt = position + 10;
  if (record.dataAt + length > message.size()) return false;
  record.data = message.substr(record.dataAt, length);
  at = record.dataAt + length;
  return true;
}

const char* DnsTypeName(std::uint16_t type) {
  switch (type) {
    case kDnsTypeA:
      return "A";
    case kDnsTypeNs:
      return "NS";
    case kDnsTypeCname:
      return "CNAME";
    case kDnsTypeSoa:
      return "SOA";
    case kDnsTypeWks:
      return "WKS";
    case kDnsTypePtr:
      return "PTR";
    case kDnsTypeHinfo:
      return "HINFO";
    case kDnsTypeMx:
      return "MX";
    default:
      return "??";
  }
}

std::string ReverseDnsName(Ipv4 address) {
  char text[40];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u.in-addr.arpa", address & 0xFF, (address >> 8) & 0xFF,
                (address >> 16) & 0xFF, address >> 24);
  return text;
}

Ipv4 ReverseNameAddress(std::string_view name) {
  constexpr std::string_view kSuffix = ".in-addr.arpa";
  Ipv4 reversed = kNoAddress;
  if (name.size() <= kSuffix.size() || !EqualsNoCase(name.substr(name.size() - kSuffix.size()), kSuffix) ||
      !ParseDottedQuad(name.substr(0, name.size() - kSuffix.size()), reversed))
    return kNoAddress;
  Ipv4 address = (reversed & 0xFF) << 24 | (reversed & 0xFF00) << 8 | (reversed >> 8 & 0xFF00) | reversed >> 24;
  // Only the form ReverseDnsName writes: no blanks, no leading zeros.
  return EqualsNoCase(ReverseDnsName(address), name) ? address : kNoAddress;
}

}  // namespace brindlex
