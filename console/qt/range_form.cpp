#include "console/qt/range_form.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/qt/localise.h"

namespace brindlex {

TFormRangeA::TFormRangeA(const ListPrompt& prompt, std::string_view entry, QWidget* parent) : QDialog(parent) {
  setObjectName("TFormRangeA");
  setWindowTitle(QString::fromStdString(prompt.caption));
  const RangeFields fields = entry.empty() ? RangeFields{} : RangeFieldsOf(entry);
  from_ = new QLineEdit(QString::fromStdString(fields.from), this);
  from_->setObjectName("EdFrom");
  to_ = new QLineEdit(QString::fromStdString(fields.to), this);
  to_->setObjectName("EdTo");
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("#1278", this), 0, 0);
  grid->addWidget(from_, 0, 1);
  grid->addWidget(new QLabel("#1279", this), 0, 2);
  grid->addWidget(to_, 0, 3);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("#202", QDialogButtonBox::AcceptRole)->setObjectName("OkButton");
  buttons->addButton("#203", QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &TFormRangeA::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TFormRangeA::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromStdString(prompt.prompt), this));
  layout->addLayout(grid);
  layout->addWidget(buttons);
  LocaliseCaptions(this);
}

void TFormRangeA::accept() {
  RangeFields fields{from_->text().toStdString(), to_->text().toStdString()};
  const RangeCheck check = CheckRangeFields(fields);
  if (!check.outcome.ok) {
    (check.field == RangeField::kTo ? to_ : from_)->setFocus();
    QMessageBox::warning(this, QString::fromStdString(check.outcome.caption),
                         QString::fromStdString(check.outcome.message));
    return;
  }
  range_ = check.range;
  QDialog::accept();
}

std::optional<std::string> AskAddressRange(const ListPrompt& prompt, std::string_view entry, QWidget* parent) {
  TFormRangeA dialog(prompt, entry, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Range();
}

}  // namespace brindlex
