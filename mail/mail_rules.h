// The mail domain rules: which SMTP and POP3 server serves the users of a
// mail domain. Stored in section PostRelays of the settings file, one key per
// rule (the domain) in list order, the value
//   "SmtpServer; SmtpPort; PopServer; PopPort; Disabled;"
//
// Threads: the rules in force are one immutable list, published whole by the
// main thread (start-up, a reload, the editor's apply); the mail workers take
// it without waiting and keep the pointer for the connection's choice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ini_file.h"

namespace brindlex {

inline constexpr const char* kMailRuleSection = "PostRelays";
inline constexpr int kDefaultSmtpPort = 25;
inline constexpr int kDefaultPop3Port = 110;
// A server text longer than a connection's host could never be reached.
inline constexpr size_t kMailServerMax = 511;

struct MailDomainRule {
  std::string domain;  // lower case when entered in the editor
  std::string smtpServer;
  std::uint16_t smtpPort = kDefaultSmtpPort;
  std::string popServer;
  std::uint16_t popPort = kDefaultPop3Port;
  bool disabled = false;
};

using MailRuleList = std::vector<MailDomainRule>;

// One stored rule. Fields split at ';' with leading blanks skipped; numbers
// are read as decimal, anything else (or a number out of a port's range) as
// 0; Disabled is on for any non-zero number. Server texts are cut at
// kMailServerMax.
MailDomainRule ParseMailRule(std::string_view domain, std::string_view value);
// The stored value: each field followed by "; ", the last by ";".
std::string FormatMailRuleValue(const MailDomainRule& rule);

// Every rule of the section, in file order.
MailRuleList ReadMailRules(const IniDocument& document);
// Clears the section and writes the rules into it; false (nothing changed)
// when a domain or value is not storable.
bool WriteMailRules(IniDocument& document, const MailRuleList& rules);
// The same straight to the settings file.
bool SaveMailRules(const std::string& path, const MailRuleList& rules);

// The rules in force (any thread).
std::shared_ptr<const MailRuleList> MailRules();
// Main thread: makes `rules` the rules in force.
void PublishMailRules(MailRuleList rules);
// Main thread: puts the rules of the section in force (start-up, a reload).
void LoadMailRules(const IniDocument& document);

enum class MailProtocol : std::uint8_t { kSmtp, kPop3 };

struct MailServerChoice {
  std::string server;  // a name or dotted address, perhaps with ":port"
  int port = 0;
  bool byRule = false;  // a rule gave it; otherwise the domain itself
};

// The server for a mail address: the text after its first '@' (the whole
// login without one) is the domain; the first enabled rule whose domain equals
// it exactly (letter case counts) gives its server and port, else the domain
// itself is the server, on the protocol's standard port.
MailServerChoice ChooseMailServer(const MailRuleList& rules, std::string_view login, MailProtocol protocol);

}  // namespace brindlex
