#include "portmap/port_map_editor.h"

#include <algorithm>

#include "core/ini_file.h"
#include "core/report_exception.h"
#include "core/settings.h"
#include "core/strings.h"
#include "core/value_codec.h"
#include "portmap/port_map_check.h"

namespace brindlex {

namespace {

constexpr int kFieldRequired = 1251;
constexpr int kNameTaken = 1252;
constexpr int kUserRequired = 1253;
constexpr int kUnstorableText = 1262;
constexpr int kFirstSourceKind = 1254;
constexpr int kByAddressEntry = 1257;
constexpr int kByAddressColumn = 1258;
constexpr const char* kAnyAddress = "Any";
constexpr int kNewRuleName = 1437;

bool Selected(const std::vector<PortMapRule>& rules, int selected) {
  return selected >= 0 && static_cast<size_t>(selected) < rules.size();
}

DialogOutcome Failed(DialogField field, int message) { return {false, field, kApplicationTitle, Str(message)}; }

DialogOutcome Failed(DialogField field, EditOutcome outcome) {
  return {false, field, std::move(outcome.caption), std::move(outcome.message)};
}

// A port beyond 16 bits names no port: refused as any other text that is
// no port number.
bool PortField(std::string& text, std::uint16_t& port, EditOutcome& outcome) {
  std::int64_t value = 0;
  outcome = CheckNumberField(text, value, 0, 65535);
  port = static_cast<std::uint16_t>(value);
  return outcome.ok;
}

int UserEntryOf(const std::vector<UserChoice>& users, const std::string& login) {
  for (size_t i = 0; i < users.size(); ++i)
    if (users[i].login == login) return static_cast<int>(i);
  return -1;
}

Ipv4 AddressOrZero(const std::string& text) {
  Ipv4 address = 0;
  return ParseDottedQuad(text, address) ? address : 0;
}

}  // namespace

std::vector<UserChoice> UserChoices(const std::vector<std::unique_ptr<UserRecord>>& users) {
  std::vector<UserChoice> choices{{Str(kByAddressEntry), ""}};
  for (const auto& user : users)
    if (!user->deleted) choices.push_back({user->name + " (" + user->login + ")", user->login});
  return choices;
}

std::vector<std::string> SourceKindChoices() {
  return {Str(kFirstSourceKind), Str(kFirstSourceKind + 1), Str(kFirstSourceKind + 2)};
}

std::vector<std::string> ListenAddressChoices(const std::vector<Ipv4>& hostAddresses) {
  std::vector<std::string> choices{kAnyAddress};
  for (Ipv4 address : hostAddresses) choices.push_back(FormatIpv4(address));
  return choices;
}

PortMapDialog NewRuleDialog(const std::vector<PortMapRule>& rules, const std::vector<UserChoice>& users) {
  PortMapDialog dialog;
  dialog.name = StrWith(kNewRuleName, std::to_string(rules.size()));
  dialog.sourceFrom = dialog.sourceTo = FormatIpv4(0);
  dialog.listenPort = dialog.destPort = "0";
  dialog.user = users.empty() ? -1 : 0;
  return dialog;
}

std::optional<PortMapDialog> EditRuleDialog(const std::vector<PortMapRule>& rules, int selected,
                                            const std::vector<UserChoice>& users) {
  if (!Selected(rules, selected)) return std::nullopt;
  const PortMapRule& rule = rules[static_cast<size_t>(selected)];
  PortMapDialog dialog;
  dialog.name = rule.name;
  dialog.protocol = rule.protocol;
  dialog.sourceKind = rule.sourceKind;
  dialog.sourceFrom = FormatIpv4(rule.sourceFrom);
  dialog.sourceTo = FormatIpv4(rule.sourceTo);
  dialog.listenAddress = rule.listenAddress;
  dialog.listenPort = std::to_string(rule.listenPort);
  dialog.destHost = rule.destHost;
  dialog.destPort = std::to_string(rule.destPort);
  dialog.authByClient = rule.authByClient;
  dialog.user = UserEntryOf(users, rule.login);
  dialog.disabled = rule.disabled;
  dialog.socket = rule.socket;
  return dialog;
}

void TypeSourceFrom(PortMapDialog& dialog, const std::string& text) { dialog.sourceFrom = dialog.sourceTo = text; }

DialogOutcome ApplyRuleDialog(std::vector<PortMapRule>& rules, int editing, PortMapDialog& dialog,
                              const std::vector<UserChoice>& users) {
  if (editing >= 0 && !Selected(rules, editing)) return {false, DialogField::kNone, {}, {}};
  dialog.name = std::string(Trim(dialog.name));
  if (dialog.name.empty()) return Failed(DialogField::kName, kFieldRequired);
  if (!IniStorable(dialog.name, true)) return Failed(DialogField::kName, kUnstorableText);
  for (size_t i = 0; i < rules.size(); ++i)
    if (static_cast<int>(i) != editing && EqualsNoCase(rules[i].name, dialog.name))
      return Failed(DialogField::kName, kNameTaken);
  PortMapRule rule;
  if (dialog.sourceKind == kSourceRange) {
    if (EditOutcome from = CheckAddressField(dialog.sourceFrom, rule.sourceFrom); !from.ok)
      return Failed(DialogField::kSourceFrom, from);
    if (EditOutcome to = CheckAddressField(dialog.sourceTo, rule.sourceTo); !to.ok)
      return Failed(DialogField::kSourceTo, to);
  } else {
    rule.sourceFrom = AddressOrZero(dialog.sourceFrom);
    rule.sourceTo = AddressOrZero(dialog.sourceTo);
  }
  bool userChosen = dialog.user >= 0 && static_cast<size_t>(dialog.user) < users.size();
  if (!dialog.authByClient && !userChosen) return Failed(DialogField::kUser, kUserRequired);
  EditOutcome number;
  if (!PortField(dialog.listenPort, rule.listenPort, number)) return Failed(DialogField::kListenPort, number);
  if (dialog.destHost.empty()) return Failed(DialogField::kDestHost, kFieldRequired);
  if (!IniStorable(dialog.destHost, false)) return Failed(DialogField::kDestHost, kUnstorableText);
  if (!PortField(dialog.destPort, rule.destPort, number)) return Failed(DialogField::kDestPort, number);

  rule.name = dialog.name;
  rule.protocol = dialog.protocol;
  rule.sourceKind = dialog.sourceKind;
  rule.listenAddress = dialog.listenAddress;
  rule.destHost = dialog.destHost;
  rule.authByClient = dialog.authByClient;
  rule.login = dialog.authByClient ? "" : users[static_cast<size_t>(dialog.user)].login;
  rule.disabled = dialog.disabled;
  if (!rule.disabled) {
    // The rule is judged among the others as they will stand, itself included.
    std::vector<PortMapRule> after = rules;
    if (editing < 0)
      after.push_back(rule);
    else
      after[static_cast<size_t>(editing)] = rule;
    if (const PortMapRule* target = LoopTarget(rule, after))
      return {false, DialogField::kDestPort, kApplicationTitle, LoopText(*target)};
  }
  if (editing < 0) {
    rules.push_back(std::move(rule));
    return {};
  }
  PortMapRule& stored = rules[static_cast<size_t>(editing)];
  // A socket listens where the rule listened: another port, protocol or
  // address needs a new one, which the listener opens at its next reopen.
  bool listensAsBefore = stored.listenPort == rule.listenPort && stored.protocol == rule.protocol &&
                         stored.listenAddress == rule.listenAddress;
  if (listensAsBefore) rule.socket = dialog.socket;
  stored = std::move(rule);
  return {};
}

void DeleteRule(std::vector<PortMapRule>& rules, int selected) {
  if (Selected(rules, selected)) rules.erase(rules.begin() + selected);
}

void SwitchRule(std::vector<PortMapRule>& rules, int selected) {
  if (!Selected(rules, selected)) return;
  PortMapRule& rule = rules[static_cast<size_t>(selected)];
  rule.disabled = !rule.disabled;
  rule.socket.reset();
}

std::array<std::string, kGridColumns> GridHeadings() {
  return {"Имя", "Тип", "Исход. IP", "Слушать", "Сервер назначения", "Авторизация"};
}

std::array<std::string, kGridColumns> GridRow(const PortMapRule& rule) {
  std::string source;
  if (rule.sourceKind == kSourceRange) {
    source = FormatIpv4(rule.sourceFrom);
    if (rule.sourceTo != rule.sourceFrom) source += "-" + FormatIpv4(rule.sourceTo);
  } else {
    source = Str(kFirstSourceKind + (rule.sourceKind == kSourceUsersAddrs ? 1 : 0));
  }
  std::string listen = rule.listenAddress == 0 ? std::string(kAnyAddress) : FormatIpv4(rule.listenAddress);
  return {rule.name,
          rule.IsUdp() ? "UDP" : "TCP",
          source,
          listen + ":" + std::to_string(rule.listenPort),
          rule.destHost + ":" + std::to_string(rule.destPort),
          rule.login.empty() ? Str(kByAddressColumn) : rule.login};
}

}  // namespace brindlex
