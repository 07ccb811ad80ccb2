#include "console/config_editor.h"

#include <algorithm>

#include "console/editor_pages.h"
#include "core/chars.h"
#include "core/strings.h"

namespace brindlex {

namespace {

void SortByText(std::vector<TreeItem>& items) {
  std::stable_sort(items.begin(), items.end(),
                   [](const TreeItem& a, const TreeItem& b) { return LowerCase(a.text) < LowerCase(b.text); });
}

}  // namespace

std::vector<TreeItem> ConfigTree(const UsersSnapshot& accounts) {
  std::vector<TreeItem> tree;
  for (int page = 0; page < kConfigPageCount; ++page)
    tree.push_back({{NodeKind::kPage, static_cast<std::uint32_t>(page)}, PageCaption(page), {}});
  std::vector<TreeItem>& groups = tree[kPageUsers].children;
  for (const ConsoleGroup& group : accounts.groups) {
    TreeItem item{{NodeKind::kGroup, group.number}, group.name, {}};
    for (const ConsoleUser& user : accounts.users)
      if (!user.deleted && user.groupNumber == group.number)
        item.children.push_back({{NodeKind::kUser, user.id}, user.name.empty() ? user.login : user.name, {}});
    SortByText(item.children);
    groups.push_back(std::move(item));
  }
  SortByText(groups);
  return tree;
}

bool ConfigEditor::Select(const EditorNode& node, const std::function<void()>& fill) {
  bool loaded = true;
  switch (node.kind) {
    case NodeKind::kPage: {
      const int page = static_cast<int>(node.id);
      ListPageEditor* list = page >= 0 && page < kConfigPageCount ? listPages_[page] : nullptr;
      const auto fillAll = [&] {
        if (list) list->Load();
        if (fill) fill();
      };
      if (ConfigPageAt(page).content == PageContent::kSettings) {
        settings_.Load(page, fillAll);
      } else {
        mask_.BeginLoad();
        fillAll();
        mask_.EndLoad();
      }
      break;
    }
    case NodeKind::kGroup:
      loaded = accounts_.LoadGroup(node.id, fill);
      break;
    case NodeKind::kUser:
      loaded = accounts_.LoadUser(node.id, fill);
      break;
  }
  if (loaded) node_ = node;
  return loaded;
}

void ConfigEditor::AddGroup(const std::function<void()>& fill) {
  accounts_.NewGroup(fill);
  node_ = {NodeKind::kGroup, accounts_.Group().number};
}

bool ConfigEditor::AddUser(std::uint32_t groupNumber, const std::function<void()>& fill) {
  if (!accounts_.NewUser(groupNumber, fill)) return false;
  node_ = {NodeKind::kUser, accounts_.Id()};
  newUserGroup_ = groupNumber;
  return true;
}

bool ConfigEditor::SelectedIsNew() const { return node_.kind != NodeKind::kPage && accounts_.IsNew(); }

std::string ConfigEditor::Header() const {
  return node_.kind == NodeKind::kPage ? PageHeader(static_cast<int>(node_.id)) : accounts_.Header();
}

void ConfigEditor::SetListPage(int page, ListPageEditor* list) {
  if (page >= 0 && page < kConfigPageCount) listPages_[page] = list;
}

EditorApplyResult ConfigEditor::Apply() {
  if (node_.kind == NodeKind::kPage) {
    const int page = static_cast<int>(node_.id);
    // The page's own controls come first; its list is stored after them.
    ListPageEditor* list = listPages_[page];
    EditorApplyResult result;
    if (ConfigPageAt(page).content == PageContent::kSettings) {
      result = settings_.Apply();
      if (!result.ok || !list) return result;
    }
    const int applied = result.appliedMask | mask_.Value();
    if (list) {
      EditorApplyResult stored = list->Apply();
      if (!stored.ok) {
        // A settings reload cleared the mask: the unsaved list keeps the page changed.
        mask_.Mark(kChangedAny);
        return stored;
      }
    }
    Select(node_);
    return {true, {}, {}, list ? applied : 0};
  }
  EditorApplyResult result = accounts_.Apply();
  if (result.ok) node_ = {node_.kind, accounts_.Id()};
  return result;
}

void ConfigEditor::Cancel() {
  if (SelectedIsNew()) {
    // The node goes; the page it was added from is shown again.
    if (node_.kind == NodeKind::kUser)
      Select({NodeKind::kGroup, newUserGroup_});
    else
      Select({NodeKind::kPage, kPageUsers});
    return;
  }
  Select(node_);
}

std::optional<EditorQuestion> ConfigEditor::LeaveQuestion() const {
  if (mask_.Value() == 0) return std::nullopt;
  return EditorQuestion{Str(18), Str(1120)};
}

bool ConfigEditor::Leave(bool yes, EditorApplyResult* failure) {
  if (!yes) {
    Cancel();
    return true;
  }
  EditorApplyResult result = Apply();
  if (!result.ok && failure) *failure = result;
  return result.ok;
}

ConfigEditOutcome ConfigEditor::LoadCopy(const std::string& path) {
  ConfigEditOutcome outcome = engine_.LoadConfigCopy(path);
  if (outcome.ok && !mask_.Dirty()) Select(node_);
  return outcome;
}

CopyFileDialog AccountCopyDialog(const std::string& programFolder) {
  return {"INI files (*.ini)|*.ini", "Brindlex.ini", programFolder};
}

CopyFileDialog BackgroundFileDialog(const std::string& programFolder) {
  return {"Рисунки формата *.bmp|*.bmp", "backgrnd.bmp", programFolder};
}

}  // namespace brindlex
