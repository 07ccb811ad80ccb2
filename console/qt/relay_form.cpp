#include "console/qt/relay_form.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QMessageBox>
#include <QPushButton>

#include "console/qt/localise.h"

namespace brindlex {

namespace {

QLineEdit* Edit(const std::string& text, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(QString::fromStdString(text), parent);
  edit->setObjectName(name);
  return edit;
}

}  // namespace

TFormRelayEdit::TFormRelayEdit(const MailRuleFields& fields, std::function<MailRuleCheck(MailRuleFields&)> ok,
                               QWidget* parent)
    : QDialog(parent), ok_(std::move(ok)) {
  setObjectName("TFormRelayEdit");
  setWindowTitle("#1263");
  domain_ = Edit(fields.domain, "EdDomain", this);
  smtpServer_ = Edit(fields.smtpServer, "EdSmtpServer", this);
  smtpPort_ = Edit(fields.smtpPort, "EdSmtpPort", this);
  popServer_ = Edit(fields.popServer, "EdPopServer", this);
  popPort_ = Edit(fields.popPort, "EdPopPort", this);
  domain_->setMinimumWidth(260);
  auto* form = new QFormLayout(this);
  form->addRow("#1264", domain_);
  form->addRow("#1289", smtpServer_);
  form->addRow("#1290", smtpPort_);
  form->addRow("#1291", popServer_);
  form->addRow("#1292", popPort_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("#202", QDialogButtonBox::AcceptRole)->setObjectName("OkButton");
  buttons->addButton("#203", QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &TFormRelayEdit::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TFormRelayEdit::reject);
  form->addRow(buttons);
  LocaliseCaptions(this);
}

QLineEdit* TFormRelayEdit::Field(MailRuleField field) {
  switch (field) {
    case MailRuleField::kSmtpServer:
      return smtpServer_;
    case MailRuleField::kSmtpPort:
      return smtpPort_;
    case MailRuleField::kPopServer:
      return popServer_;
    case MailRuleField::kPopPort:
      return popPort_;
    case MailRuleField::kDomain:
    case MailRuleField::kNone:
      break;
  }
  return domain_;
}

void TFormRelayEdit::accept() {
  MailRuleFields fields{domain_->text().toStdString(), smtpServer_->text().toStdString(),
                        smtpPort_->text().toStdString(), popServer_->text().toStdString(),
                        popPort_->text().toStdString()};
  const MailRuleCheck check = ok_(fields);
  // The domain comes back lower-cased, the texts trimmed.
  domain_->setText(QString::fromStdString(fields.domain));
  smtpServer_->setText(QString::fromStdString(fields.smtpServer));
  smtpPort_->setText(QString::fromStdString(fields.smtpPort));
  popServer_->setText(QString::fromStdString(fields.popServer));
  popPort_->setText(QString::fromStdString(fields.popPort));
  if (!check.outcome.ok) {
    Field(check.field)->setFocus();
    QMessageBox::warning(this, QString::fromStdString(check.outcome.caption),
                         QString::fromStdString(check.outcome.message));
    return;
  }
  QDialog::accept();
}

}  // namespace brindlex
