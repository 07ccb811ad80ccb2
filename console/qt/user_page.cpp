#include "console/qt/user_page.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/account_pages.h"
#include "console/qt/page_parts.h"
#include "console/text_list.h"
#include "core/account_editor.h"
#include "core/strings.h"

namespace brindlex {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(int id) { return Q(Str(id)); }

QLineEdit* TextEdit(QWidget* parent, const char* name, std::function<void(std::string)> store) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setFixedWidth(260);
  QObject::connect(edit, &QLineEdit::textEdited, parent,
                   [store = std::move(store)](const QString& text) { store(text.toStdString()); });
  return edit;
}

}  // namespace

UserPageWidget::UserPageWidget(ConfigEditor& editor, ConsoleEngine& engine, const AccountPageHooks& hooks,
                               QWidget* parent)
    : QWidget(parent), editor_(editor), engine_(engine), hooks_(hooks) {
  tabs_ = new QTabWidget(this);
  auto* main = new QWidget(tabs_);
  auto* form = new QFormLayout;
  name_ = TextEdit(main, "EdName", [this](std::string text) {
    Draft().name = std::move(text);
    Edited();
  });
  form->addRow(Q(1974), name_);
  login_ = TextEdit(main, "EdLogin", [this](std::string text) {
    Draft().login = std::move(text);
    Edited();
  });
  form->addRow(Q(1975), login_);
  logical_ = new QRadioButton(Q(948), main);
  logical_->setObjectName("RbLogical");
  byAddress_ = new QRadioButton(Q(949), main);
  byAddress_->setObjectName("RbByAddress");
  for (QRadioButton* choice : {logical_, byAddress_})
    connect(choice, &QRadioButton::clicked, this, [this] {
      Draft().byAddress = byAddress_->isChecked();
      ShowAuthorisation();
      Edited();
    });
  auto* kinds = new QHBoxLayout;
  kinds->addWidget(logical_);
  kinds->addWidget(byAddress_);
  form->addRow(Q(1977), kinds);
  password_ = TextEdit(main, "EdPassword", [this](std::string text) {
    Draft().password = std::move(text);
    Edited();
  });
  macButton_ = new QPushButton(Q(950), main);
  macButton_->setObjectName("BtGetMac");
  connect(macButton_, &QPushButton::clicked, this, [this] {
    editor_.Accounts().FetchMacAddress();
    password_->setText(Q(Draft().password));
    hooks_.changed();
  });
  form->addRow(Q(200), password_);
  form->addRow(QString(), macButton_);
  group_ = new QComboBox(main);
  group_->setObjectName("CoGroup");
  group_->setFixedWidth(260);
  connect(group_, &QComboBox::activated, this, [this](int index) { GroupChosen(index); });
  form->addRow(Q(1976), group_);
  reportEmail_ = TextEdit(main, "EdReportEmail", [this](std::string text) {
    Draft().reportEmail = std::move(text);
    Edited();
  });
  form->addRow(Q(1980), reportEmail_);
  addresses_ = TextEdit(main, "EdClientAddresses", [this](std::string text) {
    Draft().clientAddresses = std::move(text);
    Edited();
  });
  form->addRow(Q(1143), addresses_);
  enabled_ = new QCheckBox(Q(1978), main);
  enabled_->setObjectName("CbEnabled");
  connect(enabled_, &QCheckBox::clicked, this, [this](bool checked) {
    Draft().disabled = !checked;
    Edited();
  });
  admin_ = new QCheckBox(Q(1979), main);
  admin_->setObjectName("CbAdmin");
  connect(admin_, &QCheckBox::clicked, this, [this](bool checked) {
    Draft().admin = checked;
    Edited();
  });
  form->addRow(enabled_);
  form->addRow(admin_);

  emails_ = new QListWidget(main);
  emails_->setObjectName("LbEMails");
  connect(emails_, &QListWidget::currentRowChanged, this, [this](int row) { editor_.Accounts().SelectEmail(row); });
  connect(emails_, &QListWidget::itemDoubleClicked, this, [this] { AskEmail(false); });
  auto* emailButtons = new QVBoxLayout;
  AddButton(main, emailButtons, 111, [this] { AskEmail(true); });
  AddButton(main, emailButtons, 112, [this] { AskEmail(false); });
  AddButton(main, emailButtons, 113, [this] {
    editor_.Accounts().DeleteEmail();
    ShowEmails();
    hooks_.changed();
  });
  emails_->setMinimumWidth(150);
  emailButtons->addStretch(1);
  auto* emailRow = new QHBoxLayout;
  emailRow->addWidget(emails_, 1);
  emailRow->addLayout(emailButtons);
  auto* emailColumn = new QVBoxLayout;
  emailColumn->addWidget(new QLabel(Q(1981), main));
  emailColumn->addLayout(emailRow, 1);
  auto* mainLayout = new QHBoxLayout(main);
  mainLayout->addLayout(form);
  mainLayout->addLayout(emailColumn, 1);
  tabs_->addTab(main, Q(1973));

  auto* limits = new QWidget(tabs_);
  rules_ = std::make_unique<RulesFields>(limits, [this](int bits) { Edited(bits); });
  auto* left = new QVBoxLayout;
  left->addWidget(rules_->Reports());
  left->addWidget(rules_->Directions());
  left->addWidget(rules_->Services());
  left->addStretch(1);
  auto* limitsLayout = new QHBoxLayout(limits);
  limitsLayout->addLayout(left);
  limitsLayout->addWidget(rules_->Limits(), 0, Qt::AlignTop);
  limitsLayout->addStretch(1);
  tabs_->addTab(limits, Q(1971));

  grid_ = AddScheduleTab(tabs_, editor_.Accounts(), [this] { hooks_.changed(); });
  filters_ = AddFilterTab(tabs_, Draft().denyFilter, Draft().allowFilter, [this](int bits) { Edited(bits); });

  auto* bottom = new QHBoxLayout;
  AddButton(this, bottom, 954, [this] {
    const EditorQuestion question = ApplyRulesToUserQuestion();
    if (QMessageBox::question(this, Q(question.caption), Q(question.text), QMessageBox::Yes | QMessageBox::No) !=
        QMessageBox::Yes)
      return;
    // A new user is stored first, as "Применить" would.
    if (editor_.Accounts().IsNew() && !hooks_.apply()) return;
    editor_.Accounts().ApplyGroupRulesToThisUser();
    Fill();
    hooks_.accountsChanged();
  });
  more_ = AddRestrictionsButton(this, bottom, hooks_, Draft().rules, false, [this] {
    rules_->Fill();
    Edited();
  });
  bottom->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tabs_, 1);
  layout->addLayout(bottom);
}

void UserPageWidget::Edited(int bits) {
  editor_.Accounts().Edited(bits);
  hooks_.changed();
}

void UserPageWidget::ShowAuthorisation() {
  // An address user's password field holds the MAC address, shown in clear.
  password_->setEchoMode(Draft().byAddress ? QLineEdit::Normal : QLineEdit::Password);
  macButton_->setEnabled(Draft().byAddress);
  logical_->setChecked(!Draft().byAddress);
  byAddress_->setChecked(Draft().byAddress);
}

void UserPageWidget::ShowEmails() {
  const QSignalBlocker block(emails_);
  emails_->clear();
  for (const std::string& email : Draft().emails) emails_->addItem(Q(email));
  emails_->setCurrentRow(editor_.Accounts().SelectedEmail());
}

void UserPageWidget::AskEmail(bool add) {
  const int selected = editor_.Accounts().SelectedEmail();
  const bool hasSelection = selected >= 0 && static_cast<size_t>(selected) < Draft().emails.size();
  if (!add && !hasSelection) return;
  const ListPrompt prompt = add ? AddPrompt("LbEMails") : EditPrompt("LbEMails");
  bool ok = false;
  const QString answer = QInputDialog::getText(this, Q(prompt.caption), Q(prompt.prompt), QLineEdit::Normal,
                                               add ? QString() : Q(Draft().emails[static_cast<size_t>(selected)]), &ok);
  if (!ok) return;
  AccountPageEditor& accounts = editor_.Accounts();
  const ConfigBox refusal = add ? accounts.AddEmail(answer.toStdString()) : accounts.EditEmail(answer.toStdString());
  if (!refusal.text.empty()) QMessageBox::information(this, Q(refusal.caption), Q(refusal.text));
  ShowEmails();
  hooks_.changed();
}

void UserPageWidget::GroupChosen(int index) {
  if (index < 0 || static_cast<size_t>(index) >= groupNumbers_.size()) return;
  AccountPageEditor& accounts = editor_.Accounts();
  const std::uint32_t number = groupNumbers_[static_cast<size_t>(index)];
  std::uint32_t shown = Draft().groupNumber;
  if (const std::optional<EditorQuestion> question = accounts.AskMoveUser(number)) {
    const bool yes = QMessageBox::question(this, Q(question->caption), Q(question->text),
                                           QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    shown = accounts.AnswerMoveUser(number, yes);
    if (yes) hooks_.accountsChanged();
  } else {
    shown = Draft().groupNumber;
  }
  for (size_t i = 0; i < groupNumbers_.size(); ++i)
    if (groupNumbers_[i] == shown) group_->setCurrentIndex(static_cast<int>(i));
  // The grey hours and highlighted limits follow the group now shown.
  rules_->Fill();
  grid_->update();
  hooks_.changed();
}

void UserPageWidget::Fill() {
  AccountPageEditor& accounts = editor_.Accounts();
  const bool isNew = accounts.IsNew();
  name_->setText(Q(Draft().name));
  login_->setText(Q(Draft().login));
  login_->setEnabled(isNew);
  logical_->setEnabled(isNew);
  byAddress_->setEnabled(isNew);
  password_->setText(Q(Draft().password));
  ShowAuthorisation();
  {
    const QSignalBlocker block(group_);
    group_->clear();
    groupNumbers_.clear();
    for (const ConsoleGroup& group : engine_.Users().groups) {
      group_->addItem(Q(group.name));
      groupNumbers_.push_back(group.number);
      if (group.number == Draft().groupNumber) group_->setCurrentIndex(group_->count() - 1);
    }
  }
  enabled_->setChecked(!Draft().disabled);
  admin_->setChecked(Draft().admin);
  reportEmail_->setText(Q(Draft().reportEmail));
  addresses_->setText(Q(Draft().clientAddresses));
  ShowEmails();
  rules_->Bind(&Draft().rules, &accounts.GroupOfUser().rules);
  rules_->Fill();
  grid_->Show(&Draft().schedule, &accounts.GroupOfUser().schedule);
  filters_->Editor().Load();
  more_->setEnabled(static_cast<bool>(hooks_.restrictions));
  if (isNew) {
    tabs_->setCurrentIndex(0);
    login_->setFocus();
  }
}

}  // namespace brindlex
