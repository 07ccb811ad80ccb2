#include "dns/dns_reply.h"

namespace brindlex {

namespace {

constexpr char kQuestionPointer[] = {'\xC0', '\x0C'};

void PutWord(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

// The reply's header (ANCOUNT 0, set by the caller) and the query's
// questions (ending at `question.end`) copied.
std::string ReplyHead(std::string_view query, const DnsQuestion& question, bool authoritative, std::uint16_t rcode) {
  DnsHeader header;
  ReadDnsHeader(query, header);
  std::string reply;
  reply.reserve(kDnsDatagramMax);
  PutWord(reply, header.id);
  // The client's own AA and TC bits say nothing about this reply.
  auto high = static_cast<std::uint16_t>((header.flags & 0xFF00 & ~kDnsFlagAa & ~kDnsFlagTc) | kDnsFlagQr |
                                         (authoritative ? kDnsFlagAa : 0));
  // The query's last three flag bits stay, but for AD: nothing answered
  // here has been validated.
  PutWord(reply, static_cast<std::uint16_t>(high | kDnsFlagRa | (header.flags & 0x0070 & ~kDnsFlagAd) | rcode));
  PutWord(reply, header.questionCount);
  PutWord(reply, 0);  // ANCOUNT
  PutWord(reply, 0);
  PutWord(reply, 0);
  reply.append(query.substr(kDnsHeaderSize, question.end - kDnsHeaderSize));
  return reply;
}

}  // namespace

std::string BuildFailureReply(std::string_view query, const DnsQuestion& question) {
  return ReplyHead(query, question, false, kDnsRcodeServerFailure);
}

std::string BuildLocalReply(std::string_view query, const DnsQuestion& question,
                            const std::vector<LocalAnswer>& answers, bool authoritative) {
  std::string reply = ReplyHead(query, question, authoritative, 0);
  std::uint16_t count = 0;
  for (const LocalAnswer& answer : answers) {
    std::string data;
    if (question.type == kDnsTypePtr) {
      data = EncodeDnsName(answer.name);
      if (data.empty()) continue;
    } else {
      for (int shift = 24; shift >= 0; shift -= 8) data += static_cast<char>((answer.address >> shift) & 0xFF);
    }
    if (reply.size() + 12 + data.size() > kDnsDatagramMax) continue;
    reply.append(kQuestionPointer, 2);
    PutWord(reply, question.type);
    PutWord(reply, kDnsClassIn);
    PutWord(reply, static_cast<std::uint16_t>(answer.ttl >> 16));
    PutWord(reply, static_cast<std::uint16_t>(answer.ttl & 0xFFFF));
    PutWord(reply, static_cast<std::uint16_t>(data.size()));
    reply += data;
    ++count;
  }
  reply[6] = static_cast<char>(count >> 8);
  reply[7] = static_cast<char>(count & 0xFF);
  return reply;
}

void DnsReportLine::Add(std::string_view fragment) {
  if (shown_ && text_.size() + fragment.size() <= kMax) text_.append(fragment);
}

}  // namespace brindlex
