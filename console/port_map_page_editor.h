// Page 10 without its widgets: the working copy of the port-mapping rules,
// the selection, the rule dialog opened for a new or the selected rule and
// its OK through the rule editor's checks, delete, on/off, and the apply.
// Every change sets the mask bit that has the listener reopen the
// port-mapping services.
#pragma once

#include <optional>
#include <vector>

#include "console/list_page_editor.h"
#include "portmap/port_map_editor.h"

namespace brindlex {

class PortMapPageEditor final : public ListPageEditor {
 public:
  PortMapPageEditor(ConsoleEngine& engine, std::function<void(int bits)> mark)
      : ListPageEditor(std::move(mark)), engine_(engine) {}

  const std::vector<PortMapRule>& Rules() const { return rules_; }
  int Selected() const { return selected_; }
  void Select(int row) { selected_ = row >= 0 && row < static_cast<int>(rules_.size()) ? row : -1; }

  // The dialog's lists: the users ("  По IP-адресу" first), as they were when
  // the page was loaded, and the listening addresses after "Any": this host's,
  // and the dialog's own when the host no longer has it, so that opening a
  // rule never changes where it listens.
  const std::vector<UserChoice>& Users() const { return users_; }
  std::vector<Ipv4> ListenAddressesFor(const PortMapDialog& dialog) const;

  // The dialog for "Добавить", and for "Изменить" (nothing without a
  // selection); `Editing` tells the OK which rule the dialog shows.
  PortMapDialog NewDialog() const { return NewRuleDialog(rules_, users_); }
  std::optional<PortMapDialog> SelectedDialog() const { return EditRuleDialog(rules_, selected_, users_); }
  // OK: a refusal keeps the dialog open on the field it names; a new rule is
  // appended and selected. `editing` is -1 for a new rule.
  DialogOutcome Accept(PortMapDialog& dialog, int editing);
  void Delete();
  void Toggle();

 private:
  void LoadList() override;
  EditorApplyResult StoreList() override;

  ConsoleEngine& engine_;
  std::vector<PortMapRule> rules_;
  std::vector<UserChoice> users_;
  std::vector<Ipv4> addresses_;
  int selected_ = -1;
};

}  // namespace brindlex
