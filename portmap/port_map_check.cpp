#include "portmap/port_map_check.h"

#include <cstdio>

#include "core/host_names.h"
#include "core/own_address.h"
#include "core/strings.h"
#include "core/value_codec.h"
#include "http/local_server.h"
#include "portmap/port_map_storage.h"

namespace brindlex {

namespace {

constexpr int kLoopText = 1293;
constexpr int kOpenToAnyText = 1294;

}  // namespace

const PortMapRule* LoopTarget(const PortMapRule& rule, const std::vector<PortMapRule>& rules) {
  HostPort destination;
  if (!SplitHostPort(rule.destHost, destination)) return nullptr;
  const int port = destination.port != 0 ? destination.port : rule.destPort;
  Ipv4 address = kNoAddress;
  const bool written = ParseDottedQuad(destination.name, address);
  if (written ? !IsOwnAddress(address)
              : !(EqualsNoCase(destination.name, "localhost") || IsGatewayName(destination.name)))
    return nullptr;
  for (const PortMapRule& other : rules) {
    if (other.disabled || other.protocol != rule.protocol || other.listenPort != port) continue;
    // A rule listening on one address is reached only there; a name of the
    // gateway may stand for any of them.
    if (other.listenAddress == 0 || !written || other.listenAddress == address) return &other;
  }
  return nullptr;
}

std::string LoopText(const PortMapRule& target) {
  char text[1024];
  std::snprintf(text, sizeof(text), Str(kLoopText).c_str(), std::to_string(target.listenPort).c_str(),
                target.name.c_str());
  return text;
}

void DisableLoops(std::vector<PortMapRule>& rules) {
  for (PortMapRule& rule : rules)
    if (!rule.disabled && LoopTarget(rule, rules)) rule.disabled = true;
}

std::vector<ConfigProblem> CheckPortMapping(std::string_view text) {
  std::vector<ConfigProblem> unused;
  const std::vector<ConfigKeyLine> lines = ReadConfigKeyLines(text, unused);
  bool inInterface = false;
  std::vector<const ConfigKeyLine*> ruleLines;
  std::vector<PortMapRule> rules;
  for (const ConfigKeyLine& line : lines) {
    if (EqualsNoCase(line.section, "System") && EqualsNoCase(line.key, "InInterface"))
      inInterface = !Trim(line.value).empty();
    if (!EqualsNoCase(line.section, kPortMapSection)) continue;
    ruleLines.push_back(&line);
    rules.push_back(ParseRuleValue(line.key, line.value));
  }
  std::vector<ConfigProblem> problems;
  for (size_t i = 0; i < rules.size(); ++i) {
    const PortMapRule& rule = rules[i];
    if (rule.disabled) continue;
    const ConfigKeyLine& at = *ruleLines[i];
    if (const PortMapRule* target = LoopTarget(rule, rules))
      problems.push_back({at.line, at.section, at.key, LoopText(*target)});
    if (!inInterface && rule.sourceKind == kSourceAny && rule.authByClient)
      problems.push_back({at.line, at.section, at.key, Str(kOpenToAnyText)});
  }
  return problems;
}

}  // namespace brindlex
