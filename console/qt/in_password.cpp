#include "console/qt/in_password.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/editor_state.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {

TInPassword::TInPassword(QWidget* parent) : QDialog(parent) {
  setObjectName("TInPassword");
  const PasswordDialogTexts texts = AdminPasswordDialog();
  setWindowTitle(QString::fromStdString(texts.caption));
  edit_ = new QLineEdit(this);
  edit_->setObjectName("EdPassword");
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMinimumWidth(240);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QString::fromStdString(texts.ok), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QString::fromStdString(texts.cancel), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromStdString(texts.prompt), this));
  layout->addWidget(edit_);
  layout->addWidget(buttons);
}

std::string TInPassword::Ask() {
  edit_->clear();
  edit_->setFocus();
  answered_ = exec() == QDialog::Accepted;
  return answered_ ? edit_->text().toStdString() : std::string();
}

void TInPassword::TellRefused() {
  if (answered_) QMessageBox::warning(parentWidget(), kApplicationTitle, QString::fromStdString(Str(1412)));
}

}  // namespace brindlex
