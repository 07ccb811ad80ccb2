#include "portmap/port_map_storage.h"

#include <algorithm>

#include "core/value_codec.h"

namespace brindlex {

namespace {

enum Field {
  kSourceKindField,
  kSourceFromField,
  kSourceToField,
  kListenAddressField,
  kListenPortField,
  kDestHostField,
  kDestPortField,
  kAuthByClientField,
  kLoginField,
  kProtocolField,
  kDisabledField,
};

std::int64_t Number(std::string_view value, int field) { return ParseIntPrefix(RecordField(value, field)); }

Ipv4 Address(std::string_view value, int field) {
  Ipv4 address = 0;
  return ParseDottedQuad(RecordField(value, field), address) ? address : 0;
}

std::string Text(std::string_view value, int field) {
  std::string_view text = RecordField(value, field);
  return std::string(text.substr(0, std::min(text.size(), kPortMapTextMax)));
}

}  // namespace

std::string FormatRuleValue(const PortMapRule& rule) {
  std::string value;
  auto add = [&value](const std::string& item) { value += item + ";"; };
  auto next = [&value, &add](const std::string& item) {
    add(item);
    value += ' ';
  };
  next(std::to_string(rule.sourceKind));
  next(FormatIpv4(rule.sourceFrom));
  next(FormatIpv4(rule.sourceTo));
  next(FormatIpv4(rule.listenAddress));
  next(std::to_string(rule.listenPort));
  next(rule.destHost);
  next(std::to_string(rule.destPort));
  next(FlagText(rule.authByClient));
  next(rule.login);
  next(std::to_string(rule.protocol));
  add(FlagText(rule.disabled));
  return value;
}

PortMapRule ParseRuleValue(std::string_view name, std::string_view value) {
  PortMapRule rule;
  rule.name = std::string(name.substr(0, std::min(name.size(), kPortMapTextMax)));
  rule.sourceKind = static_cast<std::uint8_t>(Number(value, kSourceKindField));
  rule.sourceFrom = Address(value, kSourceFromField);
  rule.sourceTo = Address(value, kSourceToField);
  rule.listenAddress = Address(value, kListenAddressField);
  rule.listenPort = static_cast<std::uint16_t>(Number(value, kListenPortField));
  rule.destHost = Text(value, kDestHostField);
  rule.destPort = static_cast<std::uint16_t>(Number(value, kDestPortField));
  rule.authByClient = Number(value, kAuthByClientField) != 0;
  rule.login = Text(value, kLoginField);
  rule.protocol = static_cast<std::uint8_t>(Number(value, kProtocolField));
  rule.disabled = Number(value, kDisabledField) != 0;
  return rule;
}

std::vector<PortMapRule> ReadPortMapRules(const IniDocument& document) {
  std::vector<PortMapRule> rules;
  for (const IniLine& line : SectionEntries(document, kPortMapSection))
    rules.push_back(ParseRuleValue(line.key, line.value));
  return rules;
}

std::vector<std::pair<std::string, std::string>> PortMapEntries(const std::vector<PortMapRule>& rules) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (const PortMapRule& rule : rules) entries.emplace_back(rule.name, FormatRuleValue(rule));
  return entries;
}

bool SavePortMapRules(const std::string& path, const std::vector<PortMapRule>& rules) {
  return IniReplaceSection(path, kPortMapSection, PortMapEntries(rules));
}

}  // namespace brindlex
