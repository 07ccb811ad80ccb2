#include "console/qt/restrictions_form.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/qt/localise.h"

namespace brindlex {

namespace {

QGroupBox* ServiceBox(const char* title, const ServiceFlags& flags, std::array<QCheckBox*, kServiceColumns>& boxes,
                      QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* grid = new QGridLayout(group);
  const std::vector<std::string> names = ServiceColumnNames();
  for (int column = 0; column < kServiceColumns; ++column) {
    const size_t i = static_cast<size_t>(column);
    boxes[i] = new QCheckBox(QString::fromStdString(names[i]), group);
    boxes[i]->setChecked(flags[i]);
    grid->addWidget(boxes[i], column / 3, column % 3);
  }
  return group;
}

QLineEdit* NumberEdit(const std::string& text, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(QString::fromStdString(text), parent);
  edit->setObjectName(name);
  edit->setMaximumWidth(90);
  return edit;
}

QCheckBox* Check(const char* caption, bool checked, QWidget* parent) {
  auto* box = new QCheckBox(caption, parent);
  box->setChecked(checked);
  return box;
}

}  // namespace

TAddRestF::TAddRestF(AccessRules& rules, QWidget* parent) : QDialog(parent), rules_(rules) {
  setObjectName("TAddRestF");
  setWindowTitle("#1320");
  const RestrictionFields fields = RestrictionFieldsOf(rules_);
  QGroupBox* allowed = ServiceBox("#1321", fields.allowed, allowed_, this);
  QGroupBox* afterExceed = ServiceBox("#1322", fields.allowedAfterExceed, afterExceed_, this);

  maxDocument_ = NumberEdit(fields.maxDocumentMb, "EdMaxDocumentMb", this);
  bigTransfer_ = NumberEdit(fields.bigTransferMb, "EdBigTransferMb", this);
  bigTransferSpeed_ = NumberEdit(fields.bigTransferSpeed, "EdBigTransferSpeed", this);
  auto* numbers = new QGridLayout;
  numbers->addWidget(new QLabel("#1323", this), 0, 0);
  numbers->addWidget(maxDocument_, 0, 1);
  numbers->addWidget(new QLabel("#1324", this), 1, 0);
  auto* bigRow = new QHBoxLayout;
  bigRow->addWidget(bigTransfer_);
  bigRow->addWidget(new QLabel("#1325", this));
  bigRow->addWidget(bigTransferSpeed_);
  numbers->addLayout(bigRow, 1, 1);
  numbers->setColumnStretch(2, 1);

  finishTransfers_ = Check("#1326", fields.finishTransfers, this);
  passAuth_ = Check("#1327", fields.passAuthToParent, this);
  cacheTraffic_ = Check("#1328", fields.countCacheTraffic, this);
  prepaid_ = Check("#1329", fields.prepaid, this);
  dialUp_ = Check("#1330", fields.dialUpAllowed, this);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("#202", QDialogButtonBox::AcceptRole)->setObjectName("OkButton");
  buttons->addButton("#203", QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &TAddRestF::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TAddRestF::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(allowed);
  layout->addWidget(afterExceed);
  layout->addLayout(numbers);
  for (QCheckBox* box : {finishTransfers_, passAuth_, cacheTraffic_, prepaid_, dialUp_}) layout->addWidget(box);
  layout->addWidget(buttons);
  LocaliseCaptions(this);
}

QLineEdit* TAddRestF::Field(RestrictionField field) {
  switch (field) {
    case RestrictionField::kBigTransferMb:
      return bigTransfer_;
    case RestrictionField::kBigTransferSpeed:
      return bigTransferSpeed_;
    case RestrictionField::kMaxDocumentMb:
    case RestrictionField::kNone:
      break;
  }
  return maxDocument_;
}

void TAddRestF::accept() {
  RestrictionFields fields;
  for (size_t i = 0; i < allowed_.size(); ++i) {
    fields.allowed[i] = allowed_[i]->isChecked();
    fields.allowedAfterExceed[i] = afterExceed_[i]->isChecked();
  }
  fields.maxDocumentMb = maxDocument_->text().toStdString();
  fields.bigTransferMb = bigTransfer_->text().toStdString();
  fields.bigTransferSpeed = bigTransferSpeed_->text().toStdString();
  fields.finishTransfers = finishTransfers_->isChecked();
  fields.passAuthToParent = passAuth_->isChecked();
  fields.countCacheTraffic = cacheTraffic_->isChecked();
  fields.prepaid = prepaid_->isChecked();
  fields.dialUpAllowed = dialUp_->isChecked();
  const RestrictionCheck check = ApplyRestrictionFields(fields, rules_);
  if (!check.outcome.ok) {
    Field(check.field)->setFocus();
    QMessageBox::warning(this, QString::fromStdString(check.outcome.caption),
                         QString::fromStdString(check.outcome.message));
    return;
  }
  QDialog::accept();
}

}  // namespace brindlex
