// TFormRangeA: the address range dialog of the client address lists,
// captioned "Добавить" or "Изменить" with "Введите диапазон адресов:" and the
// fields "от" and "до". Its OK checks both addresses; the range it gives is
// then added to or changed in the list by the list's own logic.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <optional>
#include <string>

#include "console/range_dialog.h"
#include "console/text_list.h"

namespace brindlex {

class TFormRangeA final : public QDialog {
  Q_OBJECT

 public:
  // `entry` is the range being edited, or empty for a new one.
  TFormRangeA(const ListPrompt& prompt, std::string_view entry, QWidget* parent);
  QLineEdit* From() { return from_; }
  QLineEdit* To() { return to_; }
  // "a.b.c.d-e.f.g.h" after an accepted OK.
  const std::string& Range() const { return range_; }

 public slots:
  void accept() override;

 private:
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  std::string range_;
};

// Asks for a range with the dialog; nothing when it was cancelled.
std::optional<std::string> AskAddressRange(const ListPrompt& prompt, std::string_view entry, QWidget* parent);

}  // namespace brindlex
