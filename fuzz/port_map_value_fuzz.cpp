// A stored port-mapping rule: any value gives a rule whose texts stay within
// their limit, and writing that rule and reading it back gives it again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "portmap/port_map_storage.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // The key and the value of one settings line.
  size_t equals = input.find('=');
  std::string_view name = equals == std::string_view::npos ? std::string_view() : input.substr(0, equals);
  std::string_view value = equals == std::string_view::npos ? input : input.substr(equals + 1);
  PortMapRule rule = ParseRuleValue(name, value);
  if (rule.name.size() > kPortMapTextMax || rule.destHost.size() > kPortMapTextMax ||
      rule.login.size() > kPortMapTextMax)
    __builtin_trap();
  if (rule.destHost.find(';') != std::string::npos || rule.login.find(';') != std::string::npos) __builtin_trap();
  std::string written = FormatRuleValue(rule);
  PortMapRule again = ParseRuleValue(rule.name, written);
  if (again.name != rule.name || again.protocol != rule.protocol || again.sourceKind != rule.sourceKind ||
      again.sourceFrom != rule.sourceFrom || again.sourceTo != rule.sourceTo ||
      again.listenAddress != rule.listenAddress || again.listenPort != rule.listenPort ||
      again.destHost != rule.destHost || again.destPort != rule.destPort || again.authByClient != rule.authByClient ||
      again.login != rule.login || again.disabled != rule.disabled)
    __builtin_trap();
  if (FormatRuleValue(again) != written) __builtin_trap();
  return 0;
}
