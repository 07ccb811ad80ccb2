// TInPassword: asks for the administrator's password before the
// configuration page shows.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <string>

namespace brindlex {

class TInPassword final : public QDialog {
  Q_OBJECT

 public:
  explicit TInPassword(QWidget* parent);
  // The text typed with "OK"; "Отмена" gives an empty text. The edit starts
  // empty and focused each time.
  std::string Ask();
  QLineEdit* Edit() { return edit_; }

 private:
  QLineEdit* edit_ = nullptr;
};

}  // namespace brindlex
