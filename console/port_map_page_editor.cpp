#include "console/port_map_page_editor.h"

#include <algorithm>

namespace brindlex {

void PortMapPageEditor::LoadList() {
  rules_ = engine_.PortMappings();
  users_ = engine_.PortMapUsers();
  addresses_ = engine_.LocalAddresses();
  selected_ = rules_.empty() ? -1 : 0;
}

EditorApplyResult PortMapPageEditor::StoreList() {
  if (!engine_.ApplyPortMappings(rules_)) return {false, {}, {}, 0};
  return {};
}

std::vector<Ipv4> PortMapPageEditor::ListenAddressesFor(const PortMapDialog& dialog) const {
  std::vector<Ipv4> addresses = addresses_;
  if (dialog.listenAddress != 0 &&
      std::find(addresses.begin(), addresses.end(), dialog.listenAddress) == addresses.end())
    addresses.push_back(dialog.listenAddress);
  return addresses;
}

DialogOutcome PortMapPageEditor::Accept(PortMapDialog& dialog, int editing) {
  DialogOutcome outcome = ApplyRuleDialog(rules_, editing, dialog, users_);
  if (!outcome.ok) return outcome;
  if (editing < 0) selected_ = static_cast<int>(rules_.size()) - 1;
  Mark(kChangedPortMapping);
  return outcome;
}

void PortMapPageEditor::Delete() {
  if (selected_ < 0) return;
  DeleteRule(rules_, selected_);
  if (selected_ >= static_cast<int>(rules_.size())) selected_ = static_cast<int>(rules_.size()) - 1;
  Mark(kChangedPortMapping);
}

void PortMapPageEditor::Toggle() {
  if (selected_ < 0) return;
  SwitchRule(rules_, selected_);
  Mark(kChangedPortMapping);
}

}  // namespace brindlex
