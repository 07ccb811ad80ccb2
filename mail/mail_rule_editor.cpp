#include "mail/mail_rule_editor.h"

#include "core/chars.h"
#include "core/ini_file.h"
#include "core/settings.h"
#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr int kAppTitle = 961;
constexpr int kFieldRequired = 1251;
constexpr int kDuplicateDomain = 1252;
constexpr int kUnstorableText = 1262;
constexpr int kColumnDomain = 1264;
constexpr int kColumnSmtp = 1265;
constexpr int kColumnPop3 = 1266;

MailRuleCheck Refused(MailRuleField field, int message) { return {{false, Str(kAppTitle), Str(message)}, field}; }

void TrimInPlace(std::string& text) { text = std::string(Trim(text)); }

// One server and its port, in the order of the dialog's checks.
MailRuleCheck CheckServer(std::string& server, std::string portText, MailRuleField serverField, MailRuleField portField,
                          std::string& serverOut, std::uint16_t& portOut) {
  TrimInPlace(server);
  if (server.empty()) return Refused(serverField, kFieldRequired);
  if (!IniStorable(server, false)) return Refused(serverField, kUnstorableText);
  std::int64_t port = 0;
  if (EditOutcome outcome = CheckNumberField(portText, port, 0, 65535); !outcome.ok) return {outcome, portField};
  portOut = static_cast<std::uint16_t>(port);
  serverOut = server;
  return {};
}

std::string ServerText(const std::string& server, std::uint16_t port) { return server + ":" + std::to_string(port); }

}  // namespace

MailRuleFields NewMailRuleFields() {
  return {"", "", std::to_string(kDefaultSmtpPort), "", std::to_string(kDefaultPop3Port)};
}

MailRuleFields MailRuleFieldsOf(const MailDomainRule& rule) {
  return {rule.domain, rule.smtpServer, std::to_string(rule.smtpPort), rule.popServer, std::to_string(rule.popPort)};
}

MailRuleCheck CheckMailRuleFields(MailRuleFields& fields, const MailRuleList& rules, size_t editing,
                                  MailDomainRule& rule) {
  fields.domain = LowerCase(Trim(fields.domain));
  if (fields.domain.empty()) return Refused(MailRuleField::kDomain, kFieldRequired);
  for (size_t i = 0; i < rules.size(); ++i)
    if (i != editing && EqualsNoCase(rules[i].domain, fields.domain))
      return Refused(MailRuleField::kDomain, kDuplicateDomain);
  if (!IniStorable(fields.domain, true)) return Refused(MailRuleField::kDomain, kUnstorableText);
  MailDomainRule checked;
  checked.disabled = editing < rules.size() && rules[editing].disabled;
  checked.domain = fields.domain;
  MailRuleCheck check = CheckServer(fields.smtpServer, fields.smtpPort, MailRuleField::kSmtpServer,
                                    MailRuleField::kSmtpPort, checked.smtpServer, checked.smtpPort);
  if (!check.outcome.ok) return check;
  check = CheckServer(fields.popServer, fields.popPort, MailRuleField::kPopServer, MailRuleField::kPopPort,
                      checked.popServer, checked.popPort);
  if (!check.outcome.ok) return check;
  rule = std::move(checked);
  return {};
}

MailRuleCheck AddMailRule(MailRuleList& rules, MailRuleFields& fields) {
  MailDomainRule rule;
  MailRuleCheck check = CheckMailRuleFields(fields, rules, rules.size(), rule);
  if (check.outcome.ok) rules.push_back(std::move(rule));
  return check;
}

MailRuleCheck EditMailRule(MailRuleList& rules, size_t index, MailRuleFields& fields) {
  MailDomainRule rule;
  MailRuleCheck check = CheckMailRuleFields(fields, rules, index, rule);
  if (check.outcome.ok && index < rules.size()) rules[index] = std::move(rule);
  return check;
}

void DeleteMailRule(MailRuleList& rules, size_t index) {
  if (index < rules.size()) rules.erase(rules.begin() + static_cast<std::ptrdiff_t>(index));
}

void ToggleMailRule(MailRuleList& rules, size_t index) {
  if (index < rules.size()) rules[index].disabled = !rules[index].disabled;
}

std::array<std::string, 3> MailRuleColumnTitles() { return {Str(kColumnDomain), Str(kColumnSmtp), Str(kColumnPop3)}; }

std::array<std::string, 3> MailRuleRow(const MailDomainRule& rule) {
  return {rule.domain, ServerText(rule.smtpServer, rule.smtpPort), ServerText(rule.popServer, rule.popPort)};
}

bool ApplyMailRules(const MailRuleList& rules) {
  if (!SaveMailRules(SettingsPath(), rules)) return false;
  PublishMailRules(rules);
  return true;
}

}  // namespace brindlex
