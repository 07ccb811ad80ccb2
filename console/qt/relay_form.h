// TFormRelayEdit: the mail domain dialog ("Назначение почтового домена").
// Its OK hands the fields to the relay page's logic; a refusal shows the
// warning box and keeps the dialog open on the field it names.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <functional>

#include "mail/mail_rule_editor.h"

namespace brindlex {

class TFormRelayEdit final : public QDialog {
  Q_OBJECT

 public:
  TFormRelayEdit(const MailRuleFields& fields, std::function<MailRuleCheck(MailRuleFields&)> ok, QWidget* parent);
  QLineEdit* Field(MailRuleField field);

 public slots:
  void accept() override;

 private:
  std::function<MailRuleCheck(MailRuleFields&)> ok_;
  QLineEdit* domain_ = nullptr;
  QLineEdit* smtpServer_ = nullptr;
  QLineEdit* smtpPort_ = nullptr;
  QLineEdit* popServer_ = nullptr;
  QLineEdit* popPort_ = nullptr;
};

}  // namespace brindlex
