#include "mail/mail_rules.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "core/value_codec.h"

namespace brindlex {

namespace {

std::uint16_t PortField(std::string_view value, int n) {
  std::int64_t port = ParseIntPrefix(RecordField(value, n));
  return port >= 0 && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

std::string ServerField(std::string_view value, int n) {
  std::string_view field = RecordField(value, n);
  return std::string(field.substr(0, std::min(field.size(), kMailServerMax)));
}

struct PublishedRules {
  std::mutex mutex;
  std::shared_ptr<const MailRuleList> current = std::make_shared<const MailRuleList>();
};

PublishedRules& Published() {
  static PublishedRules published;
  return published;
}

std::vector<std::pair<std::string, std::string>> Entries(const MailRuleList& rules) {
  std::vector<std::pair<std::string, std::string>> entries;
  entries.reserve(rules.size());
  for (const MailDomainRule& rule : rules) entries.emplace_back(rule.domain, FormatMailRuleValue(rule));
  return entries;
}

}  // namespace

MailDomainRule ParseMailRule(std::string_view domain, std::string_view value) {
  MailDomainRule rule;
  rule.domain = std::string(domain);
  rule.smtpServer = ServerField(value, 0);
  rule.smtpPort = PortField(value, 1);
  rule.popServer = ServerField(value, 2);
  rule.popPort = PortField(value, 3);
  rule.disabled = RecordFlag(value, 4);
  return rule;
}

std::string FormatMailRuleValue(const MailDomainRule& rule) {
  return JoinRecord({rule.smtpServer, std::to_string(rule.smtpPort), rule.popServer, std::to_string(rule.popPort),
                     FlagText(rule.disabled)}) +
         ";";
}

MailRuleList ReadMailRules(const IniDocument& document) {
  MailRuleList rules;
  for (const IniLine& line : SectionEntries(document, kMailRuleSection))
    rules.push_back(ParseMailRule(line.key, line.value));
  return rules;
}

bool WriteMailRules(IniDocument& document, const MailRuleList& rules) {
  return ReplaceSectionKeys(document, kMailRuleSection, Entries(rules));
}

bool SaveMailRules(const std::string& path, const MailRuleList& rules) {
  return IniReplaceSection(path, kMailRuleSection, Entries(rules));
}

std::shared_ptr<const MailRuleList> MailRules() {
  PublishedRules& published = Published();
  std::lock_guard<std::mutex> lock(published.mutex);
  return published.current;
}

void PublishMailRules(MailRuleList rules) {
  auto next = std::make_shared<const MailRuleList>(std::move(rules));
  PublishedRules& published = Published();
  std::lock_guard<std::mutex> lock(published.mutex);
  // The old list is freed by its last reader, outside this lock.
  published.current.swap(next);
}

void LoadMailRules(const IniDocument& document) { PublishMailRules(ReadMailRules(document)); }

MailServerChoice ChooseMailServer(const MailRuleList& rules, std::string_view login, MailProtocol protocol) {
  size_t at = login.find('@');
  std::string_view domain = at == std::string_view::npos ? login : login.substr(at + 1);
  bool smtp = protocol == MailProtocol::kSmtp;
  for (const MailDomainRule& rule : rules) {
    if (rule.disabled || rule.domain != domain) continue;
    return smtp ? MailServerChoice{rule.smtpServer, rule.smtpPort, true}
                : MailServerChoice{rule.popServer, rule.popPort, true};
  }
  return {std::string(domain), smtp ? kDefaultSmtpPort : kDefaultPop3Port, false};
}

}  // namespace brindlex
