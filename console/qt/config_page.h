// The configuration page ("Настройка"): the tree of pages, groups and users,
// the page of the selected node with its header, "Применить" and "Отменить"
// enabled while the page has unsaved edits, the question when a changed page
// is left, the administrator's password before the page shows, and the
// copies of the accounts. The editor's logic decides; this page shows.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <functional>

#include "console/config_editor.h"
#include "console/qt/account_hooks.h"

namespace brindlex {

class SettingsPageWidget;
class GroupListWidget;
class GroupPageWidget;
class UserPageWidget;
class TInPassword;

class ConfigPage final : public QWidget {
  Q_OBJECT

 public:
  // `usersChanged` rebuilds the users view (groups or users were stored).
  ConfigPage(ConsoleEngine& engine, std::function<void()> usersChanged, QWidget* parent);
  ~ConfigPage() override;

  // The main window switches to this page: false when the administrator's
  // password was not given (the window then goes back to its first page).
  bool Enter();
  // The main window leaves this page or closes: the question when the page
  // has unsaved edits; false when the page must stay (the apply failed).
  bool Leave();

  // Pages 4 and 10, and page 7's relay list, are widgets of their own put
  // here; `reload` shows the records in force again whenever their page
  // loads. Their edits report through ListPageChanged.
  void SetListPage(int page, QWidget* widget, std::function<void()> reload = {});
  void ListPageChanged(int bits);
  // The additional-restrictions dialog of the group and user pages.
  void SetRestrictionsDialog(std::function<bool(AccessRules& rules, bool isGroup)> dialog);

  ConfigEditor& Editor() { return editor_; }
  QTreeWidget* Tree() { return tree_; }
  QLabel* Header() { return header_; }
  QPushButton* ApplyButton() { return apply_; }
  QPushButton* CancelButton() { return cancel_; }
  TInPassword* PasswordDialog() { return password_; }
  // Selects the node in the tree as a click would (the leave question first).
  void SelectNode(const EditorNode& node);

 private:
  void BuildTree();
  void NodeChosen(QTreeWidgetItem* current, QTreeWidgetItem* previous);
  // Asks the leave question when the page has unsaved edits: false when
  // the move must be refused.
  bool MayLeaveNode();
  void ShowSelected();
  bool Apply();
  void Cancel();
  void UpdateButtons();
  void AccountsChanged();
  void SaveCopy();
  void LoadCopy();

  ConsoleEngine& engine_;
  std::function<void()> usersChanged_;
  ConfigEditor editor_;
  AccountPageHooks hooks_;
  QTreeWidget* tree_ = nullptr;
  QLabel* header_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QPushButton* apply_ = nullptr;
  QPushButton* cancel_ = nullptr;
  TInPassword* password_ = nullptr;
  std::array<QWidget*, kConfigPageCount> pages_{};
  std::array<std::function<void()>, kConfigPageCount> reloads_{};
  GroupListWidget* groupList_ = nullptr;
  GroupPageWidget* groupPage_ = nullptr;
  UserPageWidget* userPage_ = nullptr;
  bool choosing_ = false;  // the tree is being changed by the page itself
};

}  // namespace brindlex
