// A user's page: name, login and identification kind (open only while the
// user is new), password or MAC address, group (a change asks to move the
// user), the enabled and administrator flags, report address, e-mail
// addresses, address list, rules and schedule (hours the group forbids
// greyed), over the account page editor's draft.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
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

class UserPageWidget final : public QWidget {
  Q_OBJECT

 public:
  UserPageWidget(ConfigEditor& editor, ConsoleEngine& engine, const AccountPageHooks& hooks, QWidget* parent);
  // Shows the draft (while the page loads); a new user opens on the first
  // tab with the login focused.
  void Fill();
  ConfigBox Commit() { return rules_->Commit(); }
  QTabWidget* Tabs() { return tabs_; }
  ScheduleGrid* Grid() { return grid_; }

 private:
  ConsoleUserDraft& Draft() { return editor_.Accounts().User(); }
  void Edited(int bits = kChangedAny);
  void ShowAuthorisation();
  void ShowEmails();
  void AskEmail(bool add);
  void GroupChosen(int index);

  ConfigEditor& editor_;
  ConsoleEngine& engine_;
  const AccountPageHooks& hooks_;
  QTabWidget* tabs_ = nullptr;
  QLineEdit* name_ = nullptr;
  QLineEdit* login_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPushButton* macButton_ = nullptr;
  QRadioButton* logical_ = nullptr;
  QRadioButton* byAddress_ = nullptr;
  QComboBox* group_ = nullptr;
  std::vector<std::uint32_t> groupNumbers_;
  QCheckBox* enabled_ = nullptr;
  QCheckBox* admin_ = nullptr;
  QLineEdit* reportEmail_ = nullptr;
  QListWidget* emails_ = nullptr;
  QLineEdit* addresses_ = nullptr;
  std::unique_ptr<RulesFields> rules_;
  ScheduleGrid* grid_ = nullptr;
  FilterPage* filters_ = nullptr;
  QPushButton* more_ = nullptr;  // "Дополнительно": enabled once its dialog is set
};

}  // namespace brindlex
