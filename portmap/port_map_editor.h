// The rule editor of the port-mapping page without any window: opening the
// dialog for a new or a selected rule, what typing into some fields does,
// the OK checks with the field that failed and the box to show, deleting and
// switching rules on and off, and the texts of the rule grid. The console
// calls these on its working copy of the rule list and applies the list
// (storage, ReplacePortMapRules, a listener reopen) as a whole.
//
// Threads: the console's (main) thread. UserChoices reads the user table:
// the caller holds the accounts lock.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/port_map_rules.h"
#include "core/users.h"

namespace brindlex {

// An entry of the dialog's user list: its text and the login a rule stores.
struct UserChoice {
  std::string text;
  std::string login;
};
// "  По IP-адресу" (empty login) first, then every user that is not deleted
// as "name (login)".
std::vector<UserChoice> UserChoices(const std::vector<std::unique_ptr<UserRecord>>& users);

// The three items of the source list, in SourceKind order.
std::vector<std::string> SourceKindChoices();
// "Any" and the given addresses of the local host name.
std::vector<std::string> ListenAddressChoices(const std::vector<Ipv4>& hostAddresses);

// The dialog's fields as the administrator sees them.
struct PortMapDialog {
  std::string name;
  std::uint8_t protocol = kPortMapTcp;
  std::uint8_t sourceKind = kSourceAny;
  std::string sourceFrom;  // "от" and "до": shown only for an address range
  std::string sourceTo;
  Ipv4 listenAddress = 0;  // the choice of the listening "Адрес" list; 0 is "Any"
  std::string listenPort;
  std::string destHost;
  std::string destPort;
  bool authByClient = false;
  int user = -1;  // entry of UserChoices for a fixed user; -1: none selected
  bool disabled = false;
  std::shared_ptr<PortMapSocket> socket;  // the edited rule's, until its listening changes
};

// "add": "PortMap" and the number of rules, TCP, any source, all numbers 0.
PortMapDialog NewRuleDialog(const std::vector<PortMapRule>& rules, const std::vector<UserChoice>& users);
// "edit" (or a double click): the selected rule; nothing without a selection.
std::optional<PortMapDialog> EditRuleDialog(const std::vector<PortMapRule>& rules, int selected,
                                            const std::vector<UserChoice>& users);
// Typing into "от" copies the text into "до".
void TypeSourceFrom(PortMapDialog& dialog, const std::string& text);

enum class DialogField { kNone, kName, kSourceFrom, kSourceTo, kUser, kListenPort, kDestHost, kDestPort };

// What OK did: ok, or the field to focus and the warning box to show.
struct DialogOutcome {
  bool ok = true;
  DialogField field = DialogField::kNone;
  std::string caption;
  std::string message;
};

// The OK checks in their order; on success the rule is appended (`editing`
// -1) or replaces rule `editing`. The texts of the name and the host lose
// what the settings file cannot keep ('=' in a name, ';' anywhere, line
// breaks); number and address fields are rewritten in their normal form.
DialogOutcome ApplyRuleDialog(std::vector<PortMapRule>& rules, int editing, PortMapDialog& dialog,
                              const std::vector<UserChoice>& users);

// "delete": the selected rule goes at once; nothing without a selection.
void DeleteRule(std::vector<PortMapRule>& rules, int selected);
// "on/off": flips Disabled and drops the socket, which the listener then
// closes at its next reopen (and reopens when the rule is on again).
void SwitchRule(std::vector<PortMapRule>& rules, int selected);

// The grid: its column headings and a rule's row (a disabled rule is drawn
// in grey).
inline constexpr size_t kGridColumns = 6;
std::array<std::string, kGridColumns> GridHeadings();
std::array<std::string, kGridColumns> GridRow(const PortMapRule& rule);

}  // namespace brindlex
