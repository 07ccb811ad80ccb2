// TCalendarForm: picks a date from a month page (year, month, six weeks with
// Monday first); the chosen day is highlighted.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QSpinBox>
#include <QTableWidget>
#include <array>
#include <cstdint>
#include <optional>

#include "console/calendar_month.h"

namespace brindlex {

class TCalendarForm final : public QDialog {
  Q_OBJECT

 public:
  explicit TCalendarForm(QWidget* parent);
  // Shows the month of `date` (local seconds) modally; the day taken with
  // OK, nothing on cancel.
  std::optional<std::int64_t> Pick(std::int64_t date);

 private:
  void ShowMonth();

  QSpinBox* year_ = nullptr;
  QComboBox* month_ = nullptr;
  QTableWidget* days_ = nullptr;
  std::array<std::int64_t, kCalendarCells> cells_{};
  std::int64_t chosen_ = 0;
};

}  // namespace brindlex
