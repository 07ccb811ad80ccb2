// The configuration editor's relay page without any window: the list of mail
// domain rules as the page shows it, the dialog's fields and their OK checks,
// add, edit, delete and on/off, the grid's texts, and the apply that stores
// the list and puts it in force. The console calls these and shows what they
// return.
//
// Threads: main thread only.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "core/settings.h"
#include "mail/mail_rules.h"

namespace brindlex {

// The dialog's edit fields, as typed.
struct MailRuleFields {
  std::string domain;
  std::string smtpServer;
  std::string smtpPort;
  std::string popServer;
  std::string popPort;
};

// Which field a refused OK puts the focus on.
enum class MailRuleField { kNone, kDomain, kSmtpServer, kSmtpPort, kPopServer, kPopPort };

struct MailRuleCheck {
  EditOutcome outcome;  // ok, or the box's caption and message
  MailRuleField field = MailRuleField::kNone;
};

// The fields of a new rule: empty texts, 25 and 110.
MailRuleFields NewMailRuleFields();
// The fields of an existing rule.
MailRuleFields MailRuleFieldsOf(const MailDomainRule& rule);

// The dialog's OK. The domain is lower-cased and the texts trimmed in place;
// then, in order: the domain must be given and must not be another rule's
// (letter case aside; `editing` is the index of the rule being edited, or
// the list size for a new one); the SMTP server must be given and its port
// be a whole number 0..65535; the same for POP3. A text that the settings
// file could not keep (';', '=', '[', ']', blanks or control bytes) is refused
// too. On success `rule` holds the values (Disabled as it was).
MailRuleCheck CheckMailRuleFields(MailRuleFields& fields, const MailRuleList& rules, size_t editing,
                                  MailDomainRule& rule);

// The page's buttons on its list; each returns the check of the dialog's OK
// (add and edit change the list only when it passed).
MailRuleCheck AddMailRule(MailRuleList& rules, MailRuleFields& fields);
MailRuleCheck EditMailRule(MailRuleList& rules, size_t index, MailRuleFields& fields);
void DeleteMailRule(MailRuleList& rules, size_t index);
void ToggleMailRule(MailRuleList& rules, size_t index);

// The grid: its column titles, and a row's texts ("Домен", "SMTP-сервер" as
// server:port, "POP3-сервер" as server:port). A disabled rule is drawn grey.
std::array<std::string, 3> MailRuleColumnTitles();
std::array<std::string, 3> MailRuleRow(const MailDomainRule& rule);

// The page's apply: the section is cleared and rewritten whole in the
// settings file, and the list is put in force. False when the file could not
// be written (the rules in force stay then).
bool ApplyMailRules(const MailRuleList& rules);

}  // namespace brindlex
