#include "console/qt/filter_form.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/qt/localise.h"

namespace brindlex {

namespace {

QLineEdit* NameEdit(const std::string& name, QWidget* parent) {
  auto* edit = new QLineEdit(QString::fromStdString(name), parent);
  edit->setReadOnly(true);
  return edit;
}

}  // namespace

TFormFilter::TFormFilter(const std::string& pattern, int kind, std::function<bool(const std::string&, int)> ok,
                         QWidget* parent)
    : QDialog(parent), ok_(std::move(ok)) {
  Build(false);
  pattern_->setText(QString::fromStdString(pattern));
  kind_->setCurrentIndex(kind >= 0 && kind < kind_->count() ? kind : 0);
}

TFormFilter::TFormFilter(std::unique_ptr<FilterAdditionDialog> addition, QWidget* parent)
    : QDialog(parent), addition_(std::move(addition)) {
  Build(true);
  pattern_->setText(QString::fromStdString(addition_->pattern));
  kind_->setCurrentIndex(addition_->kind >= 0 && addition_->kind < kind_->count() ? addition_->kind : 0);
}

TFormFilter::~TFormFilter() = default;

void TFormFilter::Build(bool withScopes) {
  setObjectName("TFormFilter");
  setWindowTitle("#1267");
  pattern_ = new QLineEdit(this);
  pattern_->setObjectName("EdPattern");
  pattern_->setMinimumWidth(360);
  kind_ = new QComboBox(this);
  kind_->setObjectName("CoKind");
  for (const std::string& name : FilterKindNames()) kind_->addItem(QString::fromStdString(name));
  auto* fields = new QFormLayout;
  fields->addRow("#1130", pattern_);
  fields->addRow("#1268", kind_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);

  if (withScopes) {
    const ConsoleFilterChoice& choice = addition_->Choice();
    auto* box = new QGroupBox(this);
    auto* grid = new QGridLayout(box);
    global_ = new QRadioButton("#1269", box);
    group_ = new QRadioButton("#1270", box);
    user_ = new QRadioButton("#1271", box);
    grid->addWidget(global_, 0, 0);
    grid->addWidget(group_, 1, 0);
    grid->addWidget(NameEdit(choice.groupName, box), 1, 1);
    grid->addWidget(user_, 2, 0);
    grid->addWidget(NameEdit(choice.userName, box), 2, 1);
    group_->setEnabled(choice.groupEnabled);
    user_->setEnabled(choice.userEnabled);
    ScopeButton(addition_->Scope())->setChecked(true);
    layout->addWidget(box);
  }

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("#202", QDialogButtonBox::AcceptRole)->setObjectName("OkButton");
  buttons->addButton("#203", QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &TFormFilter::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TFormFilter::reject);
  layout->addWidget(buttons);
  LocaliseCaptions(this);
}

QRadioButton* TFormFilter::ScopeButton(FilterAdditionScope scope) {
  switch (scope) {
    case FilterAdditionScope::kUser:
      return user_;
    case FilterAdditionScope::kGroup:
      return group_;
    case FilterAdditionScope::kGlobal:
      break;
  }
  return global_;
}

void TFormFilter::accept() {
  const std::string pattern = pattern_->text().toStdString();
  const int kind = kind_->currentIndex();
  bool done = false;
  if (addition_) {
    addition_->pattern = pattern;
    addition_->kind = kind;
    for (FilterAdditionScope scope :
         {FilterAdditionScope::kUser, FilterAdditionScope::kGroup, FilterAdditionScope::kGlobal})
      if (ScopeButton(scope)->isChecked()) addition_->Choose(scope);
    // A subject that has gone meanwhile takes nothing; the dialog closes all the same.
    done = addition_->Accept() != FilterAdditionDialog::Ok::kFocusPattern;
  } else {
    done = ok_(pattern, kind);
  }
  if (!done) {
    pattern_->setFocus();
    return;
  }
  QDialog::accept();
}

void OpenFilterAddition(ConsoleEngine& engine, const FilterAdditionRequest& request, QWidget* parent) {
  TFormFilter dialog(std::make_unique<FilterAdditionDialog>(engine, request), parent);
  dialog.exec();
}

}  // namespace brindlex
