// TInPassword: asks for the administrator's password before the
// configuration page shows, and says so when the password typed was wrong.
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
  // The text of the last Ask was not the password: a box says so, unless
  // the administrator had cancelled.
  void TellRefused();
  QLineEdit* Edit() { return edit_; }

 private:
  QLineEdit* edit_ = nullptr;
  bool answered_ = false;
};

}  // namespace brindlex
