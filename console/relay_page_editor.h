// Page 7's mail-relay list without its widgets: the working copy of the
// domain rules, the selection, the dialog's OK through the relay editor's
// checks, delete, on/off, and the apply that puts the list in force.
#pragma once

#include <optional>

#include "console/list_page_editor.h"
#include "mail/mail_rule_editor.h"

namespace brindlex {

class RelayPageEditor final : public ListPageEditor {
 public:
  RelayPageEditor(ConsoleEngine& engine, std::function<void(int bits)> mark)
      : ListPageEditor(std::move(mark)), engine_(engine) {}

  const MailRuleList& Rules() const { return rules_; }
  int Selected() const { return selected_; }
  void Select(int row) { selected_ = row >= 0 && row < static_cast<int>(rules_.size()) ? row : -1; }

  // The dialog's fields for "Добавить", or for "Изменить" on the selected
  // rule (nothing without a selection).
  MailRuleFields NewFields() const { return NewMailRuleFields(); }
  std::optional<MailRuleFields> SelectedFields() const;
  // The dialog's OK: a new rule (appended and selected) or the selected one
  // edited; a refusal keeps the dialog open on the field it names.
  MailRuleCheck Add(MailRuleFields& fields);
  MailRuleCheck Edit(MailRuleFields& fields);
  void Delete();
  void Toggle();

 private:
  void LoadList() override;
  EditorApplyResult StoreList() override;

  ConsoleEngine& engine_;
  MailRuleList rules_;
  int selected_ = -1;
};

}  // namespace brindlex
