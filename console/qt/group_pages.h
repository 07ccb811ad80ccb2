// The group list (the first node's page) and a group's page: its name,
// tariffs, session time-out, rules, address list, schedule and the list of
// its users, over the account page editor's draft.
#pragma once

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "console/config_editor.h"
#include "console/qt/account_hooks.h"
#include "console/qt/filter_page.h"
#include "console/qt/rules_fields.h"
#include "console/qt/schedule_grid.h"

namespace brindlex {

class GroupListWidget final : public QWidget {
  Q_OBJECT

 public:
  GroupListWidget(ConfigEditor& editor, ConsoleEngine& engine, const AccountPageHooks& hooks, QWidget* parent);
  void Fill();
  QListWidget* List() { return list_; }

 private:
  void DeleteSelected();

  ConfigEditor& editor_;
  ConsoleEngine& engine_;
  const AccountPageHooks& hooks_;
  QListWidget* list_ = nullptr;
  std::vector<std::uint32_t> numbers_;
};

class GroupPageWidget final : public QWidget {
  Q_OBJECT

 public:
  GroupPageWidget(ConfigEditor& editor, ConsoleEngine& engine, const AccountPageHooks& hooks, QWidget* parent);
  // Shows the draft (while the page loads); a new group opens on the first tab.
  void Fill();
  // Puts every typed number into the draft; the box of the first that does
  // not read (focused), or an empty box.
  ConfigBox Commit();
  QTabWidget* Tabs() { return tabs_; }

 private:
  GroupRecord& Draft() { return editor_.Accounts().Group(); }
  void Edited(int bits = kChangedAny);
  void DeleteUser();

  ConfigEditor& editor_;
  ConsoleEngine& engine_;
  const AccountPageHooks& hooks_;
  QTabWidget* tabs_ = nullptr;
  QLineEdit* name_ = nullptr;
  QLineEdit* addresses_ = nullptr;
  NumberEdits numbers_;
  std::unique_ptr<RulesFields> rules_;
  ScheduleGrid* grid_ = nullptr;
  FilterPage* filters_ = nullptr;
  QPushButton* more_ = nullptr;  // "Дополнительно": enabled once its dialog is set
  QListWidget* users_ = nullptr;
  std::vector<std::uint32_t> userIds_;
};

}  // namespace brindlex
