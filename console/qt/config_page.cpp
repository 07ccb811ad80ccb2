#include "console/qt/config_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QVBoxLayout>

#include "console/qt/file_dialogs.h"
#include "console/qt/group_pages.h"
#include "console/qt/in_password.h"
#include "console/qt/number_edits.h"
#include "console/qt/settings_pages.h"
#include "console/qt/user_page.h"
#include "core/program_folder.h"

namespace brindlex {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

constexpr int kNodeKindRole = Qt::UserRole;
constexpr int kNodeIdRole = Qt::UserRole + 1;

EditorNode NodeOf(const QTreeWidgetItem* item) {
  return {static_cast<NodeKind>(item->data(0, kNodeKindRole).toInt()), item->data(0, kNodeIdRole).toUInt()};
}

QTreeWidgetItem* MakeItem(const TreeItem& item) {
  auto* shown = new QTreeWidgetItem(QStringList(Q(item.text)));
  shown->setData(0, kNodeKindRole, static_cast<int>(item.node.kind));
  shown->setData(0, kNodeIdRole, item.node.id);
  for (const TreeItem& child : item.children) shown->addChild(MakeItem(child));
  return shown;
}

QTreeWidgetItem* FindItem(QTreeWidgetItem* item, const EditorNode& node) {
  if (NodeOf(item) == node) return item;
  for (int i = 0; i < item->childCount(); ++i)
    if (QTreeWidgetItem* found = FindItem(item->child(i), node)) return found;
  return nullptr;
}

}  // namespace

ConfigPage::ConfigPage(ConsoleEngine& engine, std::function<void()> usersChanged, QWidget* parent)
    : QWidget(parent), engine_(engine), usersChanged_(std::move(usersChanged)), editor_(engine) {
  setObjectName("ConfigPage");
  hooks_.changed = [this] { UpdateButtons(); };
  hooks_.select = [this](const EditorNode& node) { SelectNode(node); };
  hooks_.addGroup = [this] {
    if (!MayLeaveNode()) return;
    editor_.AddGroup();
    BuildTree();
    ShowSelected();
  };
  hooks_.addUser = [this](std::uint32_t group) {
    if (!MayLeaveNode() || !editor_.AddUser(group)) return;
    BuildTree();
    ShowSelected();
  };
  hooks_.accountsChanged = [this] { AccountsChanged(); };
  hooks_.apply = [this] { return Apply(); };

  tree_ = new QTreeWidget(this);
  tree_->setObjectName("ConfigTree");
  tree_->header()->hide();
  // A long name widens the column, and the tree scrolls, rather than cut it.
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tree_->header()->setStretchLastSection(false);
  tree_->setFixedWidth(230);
  connect(tree_, &QTreeWidget::currentItemChanged, this, &ConfigPage::NodeChosen);
  auto* saveCopy = new QPushButton("#933", this);
  auto* loadCopy = new QPushButton("#934", this);
  connect(saveCopy, &QPushButton::clicked, this, &ConfigPage::SaveCopy);
  connect(loadCopy, &QPushButton::clicked, this, &ConfigPage::LoadCopy);
  auto* left = new QVBoxLayout;
  left->addWidget(tree_, 1);
  left->addWidget(saveCopy);
  left->addWidget(loadCopy);

  header_ = new QLabel(this);
  header_->setObjectName("ConfigHeader");
  QFont bold = header_->font();
  bold.setBold(true);
  header_->setFont(bold);
  stack_ = new QStackedWidget(this);
  for (int page = 0; page < kConfigPageCount; ++page) {
    const PageContent content = ConfigPageAt(page).content;
    if (content == PageContent::kSettings) {
      pages_[static_cast<size_t>(page)] = new SettingsPageWidget(
          page, editor_.Settings(), [this] { UpdateButtons(); }, stack_);
    } else if (content == PageContent::kGroups) {
      groupList_ = new GroupListWidget(editor_, engine_, hooks_, stack_);
      pages_[static_cast<size_t>(page)] = groupList_;
    } else {
      QWidget* slot = new QWidget(stack_);
      slot->setObjectName("ListSlot");
      new QVBoxLayout(slot);
      pages_[static_cast<size_t>(page)] = slot;
    }
    stack_->addWidget(pages_[static_cast<size_t>(page)]);
  }
  groupPage_ = new GroupPageWidget(editor_, engine_, hooks_, stack_);
  userPage_ = new UserPageWidget(editor_, engine_, hooks_, stack_);
  stack_->addWidget(groupPage_);
  stack_->addWidget(userPage_);

  apply_ = new QPushButton("#100", this);
  apply_->setObjectName("ApplyButton");
  cancel_ = new QPushButton("#101", this);
  cancel_->setObjectName("CancelButton");
  connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });
  connect(cancel_, &QPushButton::clicked, this, &ConfigPage::Cancel);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(apply_);
  buttons->addWidget(cancel_);
  auto* right = new QVBoxLayout;
  right->addWidget(header_);
  right->addWidget(stack_, 1);
  right->addLayout(buttons);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left);
  layout->addLayout(right, 1);
  password_ = new TInPassword(this);
  UpdateButtons();
}

ConfigPage::~ConfigPage() = default;

bool ConfigPage::Enter() {
  if (!ConfigPageUnlocked(engine_, [this] { return password_->Ask(); })) {
    password_->TellRefused();
    return false;
  }
  if (QWidget* window = this->window(); window != this)
    window->resize(std::max(window->width(), 630), std::max(window->height(), 460));
  editor_.Select({NodeKind::kPage, kPageUsers});
  BuildTree();
  ShowSelected();
  return true;
}

bool ConfigPage::Leave() {
  if (!MayLeaveNode()) return false;
  BuildTree();
  ShowSelected();
  return true;
}

void ConfigPage::SetListPage(int page, QWidget* widget, std::function<void()> reload) {
  QWidget* slot = pages_.at(static_cast<size_t>(page));
  if (auto* settings = qobject_cast<SettingsPageWidget*>(slot)) slot = settings->Slot();
  widget->setParent(slot);
  slot->layout()->addWidget(widget);
  reloads_.at(static_cast<size_t>(page)) = std::move(reload);
}

void ConfigPage::ListPageChanged(int bits) {
  editor_.MarkChanged(bits);
  UpdateButtons();
}

void ConfigPage::SetRestrictionsDialog(std::function<bool(AccessRules&, bool)> dialog) {
  hooks_.restrictions = std::move(dialog);
}

void ConfigPage::SelectNode(const EditorNode& node) {
  QTreeWidgetItem* found = nullptr;
  for (int i = 0; i < tree_->topLevelItemCount() && !found; ++i) found = FindItem(tree_->topLevelItem(i), node);
  if (found) tree_->setCurrentItem(found);
}

void ConfigPage::BuildTree() {
  const QSignalBlocker block(tree_);
  choosing_ = true;
  tree_->clear();
  std::vector<TreeItem> items = ConfigTree(engine_.Users());
  // A group or user not yet applied has its node only here, until apply or cancel.
  if (editor_.SelectedIsNew()) {
    const EditorNode selected = editor_.Selected();
    AccountPageEditor& accounts = editor_.Accounts();
    TreeItem added{selected, selected.kind == NodeKind::kGroup ? accounts.Group().name : accounts.User().name, {}};
    std::vector<TreeItem>& groups = items[kPageUsers].children;
    if (selected.kind == NodeKind::kGroup) groups.push_back(added);
    for (TreeItem& group : groups)
      if (selected.kind == NodeKind::kUser && group.node.id == accounts.User().groupNumber)
        group.children.push_back(added);
  }
  for (const TreeItem& item : items) tree_->addTopLevelItem(MakeItem(item));
  tree_->topLevelItem(kPageUsers)->setExpanded(true);
  SelectNode(editor_.Selected());
  if (QTreeWidgetItem* current = tree_->currentItem())
    for (QTreeWidgetItem* up = current->parent(); up; up = up->parent()) up->setExpanded(true);
  choosing_ = false;
}

void ConfigPage::NodeChosen(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
  if (choosing_ || current == nullptr) return;
  const EditorNode node = NodeOf(current);
  if (node == editor_.Selected()) return;
  if (!MayLeaveNode()) {
    // The page stays: so does its node.
    const QSignalBlocker block(tree_);
    if (previous) tree_->setCurrentItem(previous);
    return;
  }
  if (!editor_.Select(node)) editor_.Select({NodeKind::kPage, kPageUsers});
  // Cancelling a new node removed it: the tree is built again.
  BuildTree();
  ShowSelected();
}

bool ConfigPage::MayLeaveNode() {
  const std::optional<EditorQuestion> question = editor_.LeaveQuestion();
  if (!question) return true;
  const auto answer =
      QMessageBox::question(this, Q(question->caption), Q(question->text), QMessageBox::Yes | QMessageBox::No);
  if (answer == QMessageBox::Yes) return Apply();
  editor_.Leave(false);
  return true;
}

void ConfigPage::ShowSelected() {
  const EditorNode node = editor_.Selected();
  switch (node.kind) {
    case NodeKind::kPage: {
      QWidget* page = pages_.at(node.id);
      stack_->setCurrentWidget(page);
      if (auto* settings = qobject_cast<SettingsPageWidget*>(page)) settings->Fill();
      if (page == groupList_) groupList_->Fill();
      if (reloads_.at(node.id)) reloads_.at(node.id)();
      break;
    }
    case NodeKind::kGroup:
      stack_->setCurrentWidget(groupPage_);
      groupPage_->Fill();
      break;
    case NodeKind::kUser:
      stack_->setCurrentWidget(userPage_);
      userPage_->Fill();
      break;
  }
  UpdateButtons();
}

bool ConfigPage::Apply() {
  const NodeKind kind = editor_.Selected().kind;
  ConfigBox typed;
  if (kind == NodeKind::kGroup) typed = groupPage_->Commit();
  if (kind == NodeKind::kUser) typed = userPage_->Commit();
  if (!typed.text.empty()) {
    QMessageBox::warning(this, Q(typed.caption), Q(typed.text));
    return false;
  }
  const EditorApplyResult result = editor_.Apply();
  if (!result.ok) {
    // A password its confirmation did not match is cleared: the page shows it so.
    if (auto* settings = qobject_cast<SettingsPageWidget*>(stack_->currentWidget())) settings->Fill();
    if (!result.box.text.empty()) QMessageBox::warning(this, Q(result.box.caption), Q(result.box.text));
    if (!result.focusControl.empty())
      if (auto* control = stack_->currentWidget()->findChild<QWidget*>(Q(result.focusControl))) RevealAndFocus(control);
    UpdateButtons();
    return false;
  }
  if (result.appliedMask & kChangedUsersView) usersChanged_();
  BuildTree();
  ShowSelected();
  return true;
}

void ConfigPage::Cancel() {
  editor_.Cancel();
  BuildTree();
  ShowSelected();
}

void ConfigPage::UpdateButtons() {
  const bool dirty = editor_.Mask().Dirty();
  apply_->setEnabled(dirty);
  cancel_->setEnabled(dirty);
  header_->setText(Q(editor_.Header()));
}

void ConfigPage::AccountsChanged() {
  BuildTree();
  usersChanged_();
}

void ConfigPage::SaveCopy() {
  const std::string path = ChooseFile(this, AccountCopyDialog(ProgramFolder()), true);
  if (!path.empty()) editor_.SaveCopy(path);
}

void ConfigPage::LoadCopy() {
  const std::string path = ChooseFile(this, AccountCopyDialog(ProgramFolder()), false);
  if (path.empty()) return;
  const ConfigEditOutcome loaded = editor_.LoadCopy(path);
  if (!loaded.ok) {
    if (!loaded.box.text.empty()) QMessageBox::warning(this, Q(loaded.box.caption), Q(loaded.box.text));
    return;
  }
  BuildTree();
  if (!editor_.Mask().Dirty()) ShowSelected();
  usersChanged_();
}

}  // namespace brindlex
