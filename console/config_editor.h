// The configuration page as a whole: which tree node is selected, the one
// change mask, apply and cancel of the node's page, the question asked when
// the administrator leaves a changed page, the tree itself, and the account
// copies. The settings pages and the account pages do the node's own work.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/account_pages.h"
#include "console/console_engine.h"
#include "console/editor_state.h"
#include "console/list_page_editor.h"

namespace brindlex {

enum class NodeKind { kPage, kGroup, kUser };

struct EditorNode {
  NodeKind kind = NodeKind::kPage;
  std::uint32_t id = 0;  // page index, group number or user table place
  bool operator==(const EditorNode&) const = default;
};

// The tree: the fifteen pages; under the first the groups, and under each
// group its users that are not deleted, sorted by their text.
struct TreeItem {
  EditorNode node;
  std::string text;
  std::vector<TreeItem> children;
};
std::vector<TreeItem> ConfigTree(const UsersSnapshot& accounts);

class ConfigEditor {
 public:
  explicit ConfigEditor(ConsoleEngine& engine) : engine_(engine), settings_(engine, mask_), accounts_(engine, mask_) {}

  // Selecting a node loads its page; the caller asks LeaveQuestion first.
  // `fill` runs while the page loads. False when the record is gone.
  bool Select(const EditorNode& node, const std::function<void()>& fill = {});
  // "Добавить" on the group list, and on a group page's user list.
  void AddGroup(const std::function<void()>& fill = {});
  bool AddUser(std::uint32_t groupNumber, const std::function<void()>& fill = {});

  const EditorNode& Selected() const { return node_; }
  // Whether the selected node is a group or user that exists only here.
  bool SelectedIsNew() const;
  std::string Header() const;
  const ChangeMask& Mask() const { return mask_; }
  // An edit on a list page (or a dialog's OK) marks the page changed.
  void MarkChanged(int bits) { mask_.Mark(bits); }
  // The list of a page (the global filter on page 4, the mail relays on
  // page 7, the port mappings on page 10): loaded with its page and stored
  // when the page is applied (after the page's settings, which must pass first).
  void SetListPage(int page, ListPageEditor* list);
  SettingsPageEditor& Settings() { return settings_; }
  AccountPageEditor& Accounts() { return accounts_; }

  EditorApplyResult Apply();
  // Drops a node that was never applied and loads the page again from the
  // values in force (a dropped node leaves the group or the user list shown).
  void Cancel();

  // Leaving the node or the page (or closing) with edits: the question; none
  // when nothing changed.
  std::optional<EditorQuestion> LeaveQuestion() const;
  // The answer. No cancels; Yes applies. False when the move must be refused
  // (the apply failed: its box and focus are in `failure`).
  bool Leave(bool yes, EditorApplyResult* failure = nullptr);

  // "Сохранить конфигурацию" and "Загрузить конфигурацию" with the file chosen;
  // a refused load carries the box to show.
  bool SaveCopy(const std::string& path) { return engine_.SaveConfigCopy(path); }
  ConfigEditOutcome LoadCopy(const std::string& path);

 private:
  ConsoleEngine& engine_;
  ChangeMask mask_;
  SettingsPageEditor settings_;
  AccountPageEditor accounts_;
  EditorNode node_;
  std::array<ListPageEditor*, kConfigPageCount> listPages_{};
  std::uint32_t newUserGroup_ = 0;  // where a cancelled new user leaves the selection
};

// The file dialog of the account copies: filter, default name, start folder.
struct CopyFileDialog {
  std::string filter;
  std::string defaultName;
  std::string folder;
};
CopyFileDialog AccountCopyDialog(const std::string& programFolder);
// The file dialog of the background picture's button.
CopyFileDialog BackgroundFileDialog(const std::string& programFolder);

}  // namespace brindlex
