#include "console/qt/settings_pages.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "console/config_editor.h"
#include "console/editor_pages.h"
#include "console/qt/file_dialogs.h"
#include "console/qt/range_form.h"
#include "core/program_folder.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {
namespace {

constexpr int kFieldWidth = 260;

QString Q(const std::string& text) { return QString::fromStdString(text); }

bool IsPassword(std::string_view name) { return name.find("Password") != std::string_view::npos; }

}  // namespace

SettingsPageWidget::SettingsPageWidget(int page, SettingsPageEditor& editor, std::function<void()> changed,
                                       QWidget* parent)
    : QWidget(parent), page_(page), editor_(editor), changed_(std::move(changed)) {
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  layout->addLayout(form);
  for (const PageControl& control : ConfigPageAt(page).controls) {
    const std::string name = control.name;
    const QString caption = Q(ControlCaption(control));
    switch (KindOfControl(name)) {
      case ControlKind::kCheckBox: {
        auto* box = new QCheckBox(caption, this);
        box->setObjectName(Q(name));
        connect(box, &QCheckBox::clicked, this, [this, name](bool checked) {
          editor_.SetChecked(name, checked);
          changed_();
        });
        form->addRow(box);
        break;
      }
      case ControlKind::kListBox:
        AddListBox(name, form);
        break;
      case ControlKind::kEdit:
      case ControlKind::kComboBox: {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(Q(name));
        edit->setFixedWidth(kFieldWidth);
        if (IsPassword(name)) edit->setEchoMode(QLineEdit::Password);
        connect(edit, &QLineEdit::textEdited, this, [this, name](const QString& text) {
          editor_.Edit(name, text.toStdString());
          changed_();
        });
        QWidget* field = edit;
        auto addButton = [&](int caption, void (SettingsPageWidget::*action)()) {
          auto* row = new QWidget(this);
          auto* rowLayout = new QHBoxLayout(row);
          rowLayout->setContentsMargins(0, 0, 0, 0);
          rowLayout->addWidget(edit);
          auto* button = new QPushButton(Q(Str(caption)), row);
          connect(button, &QPushButton::clicked, this, action);
          rowLayout->addWidget(button);
          field = row;
        };
        if (name == "EdBackground") addButton(1949, &SettingsPageWidget::ChooseBackground);
        if (name == "EdHostsFileName") addButton(1948, &SettingsPageWidget::OpenHostsFile);
        if (name == "EdDialUpConnection") addButton(1423, &SettingsPageWidget::ChooseDialUpEntry);
        form->addRow(caption, field);
        break;
      }
    }
  }
  slot_ = new QWidget(this);
  slot_->setObjectName("ListSlot");
  auto* slotLayout = new QVBoxLayout(slot_);
  slotLayout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(slot_, 1);
  if (ConfigPageAt(page).controls.empty() ||
      KindOfControl(ConfigPageAt(page).controls[0].name) != ControlKind::kListBox)
    layout->addStretch(0);
}

void SettingsPageWidget::AddListBox(const std::string& name, QFormLayout* form) {
  auto* row = new QWidget(this);
  auto* rowLayout = new QHBoxLayout(row);
  rowLayout->setContentsMargins(0, 0, 0, 0);
  auto* list = new QListWidget(row);
  list->setObjectName(Q(name));
  list->setMinimumWidth(kFieldWidth);
  rowLayout->addWidget(list, 1);
  auto* buttons = new QVBoxLayout;
  auto addButton = [&](int caption, std::function<void()> action) {
    auto* button = new QPushButton(Q(Str(caption)), row);
    connect(button, &QPushButton::clicked, this, std::move(action));
    buttons->addWidget(button);
  };
  addButton(111, [this, name] { AskListEntry(name, true); });
  addButton(112, [this, name] { AskListEntry(name, false); });
  addButton(113, [this, name] {
    editor_.DeleteFromList(name);
    ShowList(name);
    changed_();
  });
  buttons->addStretch(1);
  rowLayout->addLayout(buttons);
  connect(list, &QListWidget::currentRowChanged, this, [this, name](int row) { editor_.SelectInList(name, row); });
  connect(list, &QListWidget::itemDoubleClicked, this, [this, name] { AskListEntry(name, false); });
  form->addRow(row);
}

void SettingsPageWidget::ShowList(const std::string& name) {
  auto* list = findChild<QListWidget*>(Q(name));
  const TextList entries = editor_.List(name);
  const QSignalBlocker block(list);
  list->clear();
  for (const std::string& item : entries.items) list->addItem(Q(item));
  list->setCurrentRow(entries.selected);
}

void SettingsPageWidget::AskListEntry(const std::string& name, bool add) {
  const TextList entries = editor_.List(name);
  const bool hasSelection = entries.selected >= 0 && static_cast<size_t>(entries.selected) < entries.items.size();
  if (!add && !hasSelection) return;
  const ListPrompt prompt = add ? AddPrompt(name) : EditPrompt(name);
  const std::string current = add ? std::string() : entries.items[static_cast<size_t>(entries.selected)];
  std::optional<std::string> answer;
  if (name == "LbUsersAddrs") {
    // Client addresses are ranges: the range dialog checks both ends.
    answer = AskAddressRange(prompt, current, this);
  } else {
    bool ok = false;
    const QString text =
        QInputDialog::getText(this, Q(prompt.caption), Q(prompt.prompt), QLineEdit::Normal, Q(current), &ok);
    if (ok) answer = text.toStdString();
  }
  if (!answer) return;
  if (add)
    editor_.AddToList(name, *answer);
  else
    editor_.EditInList(name, *answer);
  ShowList(name);
  changed_();
}

void SettingsPageWidget::Fill() {
  for (const PageControl& control : ConfigPageAt(page_).controls) {
    const std::string name = control.name;
    switch (KindOfControl(name)) {
      case ControlKind::kCheckBox:
        findChild<QCheckBox*>(Q(name))->setChecked(editor_.Checked(name));
        break;
      case ControlKind::kListBox:
        ShowList(name);
        break;
      case ControlKind::kEdit:
      case ControlKind::kComboBox:
        findChild<QLineEdit*>(Q(name))->setText(Q(editor_.Text(name)));
        break;
    }
  }
}

void SettingsPageWidget::Focus(const std::string& control) {
  if (auto* widget = findChild<QWidget*>(Q(control))) {
    widget->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
  }
}

void SettingsPageWidget::ChooseBackground() {
  const std::string path = ChooseFile(this, BackgroundFileDialog(ProgramFolder()), false);
  if (path.empty()) return;
  findChild<QLineEdit*>("EdBackground")->setText(Q(path));
  editor_.Edit("EdBackground", path);
  changed_();
}

// The entries are those of the gateway's machine, where the dial happens.
void SettingsPageWidget::ChooseDialUpEntry() {
  const DialUpPhoneBook book = editor_.Engine().DialUpEntries();
  std::string refusal;
  if (!book.unusable.empty())
    refusal = StrWith(1421, book.unusable);
  else if (book.place.empty())
    refusal = Str(1425);
  else if (book.entries.empty())
    refusal = StrWith(1422, book.place);
  if (!refusal.empty()) {
    QMessageBox::warning(this, kApplicationTitle, Q(refusal));
    return;
  }
  auto* edit = findChild<QLineEdit*>("EdDialUpConnection");
  QStringList entries;
  for (const std::string& entry : book.entries) entries << Q(entry);
  bool ok = false;
  const QString chosen = QInputDialog::getItem(this, kApplicationTitle, Q(Str(1424)), entries,
                                               std::max<qsizetype>(entries.indexOf(edit->text()), 0), false, &ok);
  if (!ok || chosen == edit->text()) return;
  edit->setText(chosen);
  editor_.Edit("EdDialUpConnection", chosen.toStdString());
  changed_();
}

void SettingsPageWidget::OpenHostsFile() {
  const QString name = findChild<QLineEdit*>("EdHostsFileName")->text().trimmed();
  if (!name.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(name));
}

}  // namespace brindlex
