// TAddRestF: the additional restrictions of a group or a user
// ("Дополнительно"). Its OK writes the fields into the rules it was given
// only when every number converts; the caller marks its page changed when
// the dialog returns Accepted.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <array>

#include "console/restrictions.h"

namespace brindlex {

class TAddRestF final : public QDialog {
  Q_OBJECT

 public:
  TAddRestF(AccessRules& rules, QWidget* parent);
  QCheckBox* Allowed(int column) { return allowed_[static_cast<size_t>(column)]; }
  QCheckBox* AfterExceed(int column) { return afterExceed_[static_cast<size_t>(column)]; }
  QLineEdit* Field(RestrictionField field);

 public slots:
  void accept() override;

 private:
  AccessRules& rules_;
  std::array<QCheckBox*, kServiceColumns> allowed_{};
  std::array<QCheckBox*, kServiceColumns> afterExceed_{};
  QLineEdit* maxDocument_ = nullptr;
  QLineEdit* bigTransfer_ = nullptr;
  QLineEdit* bigTransferSpeed_ = nullptr;
  QCheckBox* finishTransfers_ = nullptr;
  QCheckBox* passAuth_ = nullptr;
  QCheckBox* cacheTraffic_ = nullptr;
  QCheckBox* prepaid_ = nullptr;
  QCheckBox* dialUp_ = nullptr;
};

}  // namespace brindlex
