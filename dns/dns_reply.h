// Replies the forwarder builds itself (from its cache, the hosts file or the
// gateway's own names, or the refusal when there is no upstream server) and
// the report line of one datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/value_codec.h"
#include "dns/dns_message.h"

namespace brindlex {

struct LocalAnswer {
  Ipv4 address = kNoAddress;  // the data of an A answer
  std::string name;           // the data of a PTR answer
  std::uint32_t ttl = 0;
};

// The reply to a query of one question (ending at `question.end`): the
// query's ID, QR and RA set, AA when `authoritative`, AD clear, the question copied,
// then one answer of the question's type per item that fits into
// kDnsDatagramMax bytes (the others are left out, as is a PTR answer whose
// name cannot be encoded), each naming the question by a pointer.
std::string BuildLocalReply(std::string_view query, const DnsQuestion& question,
                            const std::vector<LocalAnswer>& answers, bool authoritative);

// The reply that no answer can be given (SERVFAIL): the query's ID and
// flags as for a local reply, its questions copied, no records.
std::string BuildFailureReply(std::string_view query, const DnsQuestion& question);

// The monitor's line about one datagram, built from fragments. A fragment
// that would make it longer than kMax characters is left out; later, shorter
// ones may still fit. While the monitor does not show DNS lines, nothing is
// added.
class DnsReportLine {
 public:
  static constexpr std::size_t kMax = 200;
  void Add(std::string_view fragment);
  const std::string& text() const { return text_; }
  void Clear() { text_.clear(); }
  void SetShown(bool shown) { shown_ = shown; }
  bool shown() const { return shown_; }

 private:
  std::string text_;
  bool shown_ = true;
};

}  // namespace brindlex
