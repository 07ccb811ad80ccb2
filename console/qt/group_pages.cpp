#include "console/qt/group_pages.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/account_pages.h"
#include "console/qt/page_parts.h"
#include "core/account_editor.h"
#include "core/strings.h"

namespace brindlex {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(int id) { return Q(Str(id)); }

bool AskYesNo(QWidget* parent, const std::string& caption, const std::string& text) {
  return QMessageBox::question(parent, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

// The tree's items under a node: the groups under "Пользователи", or a
// group's users, in the tree's order.
std::vector<TreeItem> ChildrenOf(ConsoleEngine& engine, const EditorNode& node) {
  std::vector<TreeItem> groups = ConfigTree(engine.Users())[kPageUsers].children;
  if (node.kind == NodeKind::kPage) return groups;
  for (TreeItem& group : groups)
    if (group.node == node) return std::move(group.children);
  return {};
}

void ShowItems(QListWidget* list, const std::vector<TreeItem>& items, std::vector<std::uint32_t>& ids) {
  const QSignalBlocker block(list);
  list->clear();
  ids.clear();
  for (const TreeItem& item : items) {
    list->addItem(Q(item.text));
    ids.push_back(item.node.id);
  }
}

// The id of the selected row, or nothing.
std::optional<std::uint32_t> SelectedId(QListWidget* list, const std::vector<std::uint32_t>& ids) {
  const int row = list->currentRow();
  if (row < 0 || static_cast<size_t>(row) >= ids.size()) return std::nullopt;
  return ids[static_cast<size_t>(row)];
}

}  // namespace

GroupListWidget::GroupListWidget(ConfigEditor& editor, ConsoleEngine& engine, const AccountPageHooks& hooks,
                                 QWidget* parent)
    : QWidget(parent), editor_(editor), engine_(engine), hooks_(hooks) {
  list_ = new QListWidget(this);
  list_->setObjectName("LbGroups");
  auto* buttons = new QVBoxLayout;
  AddButton(this, buttons, 111, [this] { hooks_.addGroup(); });
  auto edit = [this] {
    if (auto number = SelectedId(list_, numbers_)) hooks_.select({NodeKind::kGroup, *number});
  };
  AddButton(this, buttons, 112, edit);
  AddButton(this, buttons, 113, [this] { DeleteSelected(); });
  buttons->addStretch(1);
  connect(list_, &QListWidget::itemDoubleClicked, this, edit);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
}

void GroupListWidget::Fill() { ShowItems(list_, ChildrenOf(engine_, {NodeKind::kPage, kPageUsers}), numbers_); }

void GroupListWidget::DeleteSelected() {
  const auto number = SelectedId(list_, numbers_);
  if (!number) return;
  const ConfigEditOutcome check = editor_.Accounts().AskDeleteGroup(*number);
  if (!check.ok) {
    if (!check.box.text.empty()) QMessageBox::information(this, Q(check.box.caption), Q(check.box.text));
    return;
  }
  if (!AskYesNo(this, check.box.caption, check.box.text)) return;
  if (!editor_.Accounts().DeleteGroup(*number)) return;
  hooks_.accountsChanged();
  Fill();
}

GroupPageWidget::GroupPageWidget(ConfigEditor& editor, ConsoleEngine& engine, const AccountPageHooks& hooks,
                                 QWidget* parent)
    : QWidget(parent), editor_(editor), engine_(engine), hooks_(hooks), numbers_([this] { Edited(); }) {
  tabs_ = new QTabWidget(this);

  auto* main = new QWidget(tabs_);
  auto* form = new QFormLayout;
  name_ = new QLineEdit(main);
  name_->setObjectName("EdName");
  name_->setFixedWidth(260);
  connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) {
    Draft().name = text.toStdString();
    Edited();
  });
  form->addRow(Q(1950), name_);
  auto addNumber = [&](const char* name, int caption, double GroupRecord::*field) {
    form->addRow(Q(caption), numbers_.Add(
                                 main, name, [this, field] { return Draft().*field; },
                                 [this, field](double value) { Draft().*field = value; }));
  };
  addNumber("EdTariffIn", 1951, &GroupRecord::tariffIn);
  addNumber("EdTariffOut", 1952, &GroupRecord::tariffOut);
  addNumber("EdTariffHour", 1953, &GroupRecord::tariffHour);
  addNumber("EdExchangeRate", 1954, &GroupRecord::exchangeRate);
  form->addRow(Q(1955), numbers_.Add(
                            main, "EdSessionTimeout", [this] { return static_cast<double>(Draft().sessionTimeout); },
                            [this](double value) { Draft().sessionTimeout = static_cast<std::int32_t>(value); }, true));
  addresses_ = new QLineEdit(main);
  addresses_->setObjectName("EdClientAddresses");
  addresses_->setFixedWidth(260);
  connect(addresses_, &QLineEdit::textEdited, this, [this](const QString& text) {
    Draft().clientAddresses = text.toStdString();
    Edited();
  });
  form->addRow(Q(1143), addresses_);
  rules_ = std::make_unique<RulesFields>(main, [this](int bits) { Edited(bits); });
  auto* boxes = new QVBoxLayout;
  boxes->addWidget(rules_->Reports());
  boxes->addWidget(rules_->Directions());
  boxes->addStretch(1);
  auto* mainLayout = new QHBoxLayout(main);
  mainLayout->addLayout(form);
  mainLayout->addLayout(boxes);
  mainLayout->addStretch(1);
  tabs_->addTab(main, Q(1973));

  auto* limits = new QWidget(tabs_);
  auto* limitsLayout = new QHBoxLayout(limits);
  limitsLayout->addWidget(rules_->Limits(), 0, Qt::AlignTop);
  limitsLayout->addWidget(rules_->Services(), 0, Qt::AlignTop);
  limitsLayout->addStretch(1);
  tabs_->addTab(limits, Q(1971));

  grid_ = AddScheduleTab(tabs_, editor_.Accounts(), [this] { hooks_.changed(); });
  filters_ = AddFilterTab(tabs_, Draft().denyFilter, Draft().allowFilter, [this](int bits) { Edited(bits); });

  auto* users = new QWidget(tabs_);
  users_ = new QListWidget(users);
  users_->setObjectName("LbUsers");
  auto* userButtons = new QVBoxLayout;
  AddButton(users, userButtons, 111, [this] { hooks_.addUser(Draft().number); });
  auto editUser = [this] {
    if (auto id = SelectedId(users_, userIds_)) hooks_.select({NodeKind::kUser, *id});
  };
  AddButton(users, userButtons, 112, editUser);
  AddButton(users, userButtons, 113, [this] { DeleteUser(); });
  userButtons->addStretch(1);
  connect(users_, &QListWidget::itemDoubleClicked, this, editUser);
  auto* usersLayout = new QHBoxLayout(users);
  usersLayout->addWidget(users_, 1);
  usersLayout->addLayout(userButtons);
  tabs_->addTab(users, Q(1140));

  auto* bottom = new QHBoxLayout;
  AddButton(this, bottom, 945, [this] {
    const EditorQuestion question = ApplyRulesToGroupUsersQuestion();
    if (QMessageBox::question(this, Q(question.caption), Q(question.text), QMessageBox::Ok | QMessageBox::Cancel) !=
        QMessageBox::Ok)
      return;
    editor_.Accounts().ApplyRulesToGroupUsers();
    hooks_.accountsChanged();
  });
  more_ = AddRestrictionsButton(this, bottom, hooks_, Draft().rules, true, [this] {
    rules_->Fill();
    Edited();
  });
  bottom->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tabs_, 1);
  layout->addLayout(bottom);
}

void GroupPageWidget::Edited(int bits) {
  editor_.Accounts().Edited(bits);
  hooks_.changed();
}

void GroupPageWidget::Fill() {
  name_->setText(Q(Draft().name));
  addresses_->setText(Q(Draft().clientAddresses));
  numbers_.Fill();
  rules_->Bind(&Draft().rules, nullptr);
  rules_->Fill();
  grid_->Show(&Draft().schedule, nullptr);
  filters_->Editor().Load();
  ShowItems(users_, ChildrenOf(engine_, {NodeKind::kGroup, Draft().number}), userIds_);
  more_->setEnabled(static_cast<bool>(hooks_.restrictions));
  if (editor_.Accounts().IsNew()) tabs_->setCurrentIndex(0);
}

ConfigBox GroupPageWidget::Commit() {
  if (ConfigBox failure = numbers_.Commit(); !failure.text.empty()) return failure;
  return rules_->Commit();
}

void GroupPageWidget::DeleteUser() {
  const auto id = SelectedId(users_, userIds_);
  if (!id) return;
  const EditorQuestion question = DeleteUserQuestion();
  if (!AskYesNo(this, question.caption, question.text)) return;
  if (!editor_.Accounts().DeleteUser(*id)) return;
  hooks_.accountsChanged();
  ShowItems(users_, ChildrenOf(engine_, {NodeKind::kGroup, Draft().number}), userIds_);
}

}  // namespace brindlex
