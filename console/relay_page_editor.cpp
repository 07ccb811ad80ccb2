#include "console/relay_page_editor.h"

namespace brindlex {

void RelayPageEditor::LoadList() {
  rules_ = engine_.MailRelays();
  selected_ = rules_.empty() ? -1 : 0;
}

EditorApplyResult RelayPageEditor::StoreList() {
  // The settings file refused the list: the page stays changed, and the
  // rules in force stay as they were.
  if (!engine_.ApplyMailRelays(rules_)) return {false, {}, {}, 0};
  return {};
}

std::optional<MailRuleFields> RelayPageEditor::SelectedFields() const {
  if (selected_ < 0) return std::nullopt;
  return MailRuleFieldsOf(rules_[static_cast<size_t>(selected_)]);
}

MailRuleCheck RelayPageEditor::Add(MailRuleFields& fields) {
  MailRuleCheck check = AddMailRule(rules_, fields);
  if (check.outcome.ok) {
    selected_ = static_cast<int>(rules_.size()) - 1;
    Mark(kChangedAny);
  }
  return check;
}

MailRuleCheck RelayPageEditor::Edit(MailRuleFields& fields) {
  if (selected_ < 0) return {};
  MailRuleCheck check = EditMailRule(rules_, static_cast<size_t>(selected_), fields);
  if (check.outcome.ok) Mark(kChangedAny);
  return check;
}

void RelayPageEditor::Delete() {
  if (selected_ < 0) return;
  DeleteMailRule(rules_, static_cast<size_t>(selected_));
  if (selected_ >= static_cast<int>(rules_.size())) selected_ = static_cast<int>(rules_.size()) - 1;
  Mark(kChangedAny);
}

void RelayPageEditor::Toggle() {
  if (selected_ < 0) return;
  ToggleMailRule(rules_, static_cast<size_t>(selected_));
  Mark(kChangedAny);
}

}  // namespace brindlex
