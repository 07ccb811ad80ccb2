// A stored mail domain rule, read from any value: its server texts are cut
// at their limit and hold no ';'; written back and read again it gives the
// same rule, and written again the same value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mail/mail_rules.h"

using namespace brindlex;

namespace {

bool Same(const MailDomainRule& a, const MailDomainRule& b) {
  return a.domain == b.domain && a.smtpServer == b.smtpServer && a.smtpPort == b.smtpPort &&
         a.popServer == b.popServer && a.popPort == b.popPort && a.disabled == b.disabled;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view value(reinterpret_cast<const char*>(data), size);
  MailDomainRule rule = ParseMailRule("example.lan", value);
  for (const std::string* server : {&rule.smtpServer, &rule.popServer}) {
    if (server->size() > kMailServerMax || server->find(';') != std::string::npos) __builtin_trap();
  }
  std::string stored = FormatMailRuleValue(rule);
  MailDomainRule again = ParseMailRule("example.lan", stored);
  if (!Same(rule, again) || FormatMailRuleValue(again) != stored) __builtin_trap();
  return 0;
}
