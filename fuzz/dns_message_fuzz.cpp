// A datagram as the forwarder reads it: the header, every question, and the
// answer records after them. Whatever the bytes, nothing is read outside
// them, a decoded name is never longer than the limit, and a name decoded
// from a message encodes to labels that decode back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dns/dns_message.h"

using namespace brindlex;

namespace {

void CheckName(const std::string& name) {
  if (name.size() > kDnsNameMax) __builtin_trap();
  std::string wire = EncodeDnsName(name);
  if (wire.empty() || name.empty()) return;
  std::string again;
  std::string message = std::string(kDnsHeaderSize, '\0') + wire;
  std::size_t at = kDnsHeaderSize;
  if (!DecodeDnsName(message, at, again) || at != message.size()) __builtin_trap();
  // Empty labels (a label holding a dot at its edge) are left out when
  // encoding; otherwise the text is the same.
  if (name.find("..") == std::string::npos && name.front() != '.' && name.back() != '.' && again != name)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view message(reinterpret_cast<const char*>(data), size);
  DnsHeader header;
  if (!ReadDnsHeader(message, header)) return 0;
  DnsQuestion question;
  if (!ReadDnsQuestions(message, header, question)) return 0;
  if (question.end > size) __builtin_trap();
  if (header.questionCount > 0) CheckName(question.name);
  std::size_t at = question.end;
  DnsRecord record;
  for (int i = 0; i < header.answerCount && ReadDnsRecord(message, at, record); ++i) {
    if (at > size || record.dataAt + record.data.size() != at) __builtin_trap();
    CheckName(record.owner);
    std::size_t dataAt = record.dataAt;
    std::string target;
    if (DecodeDnsName(message, dataAt, target) && target.size() > kDnsNameMax) __builtin_trap();
  }
  return 0;
}
