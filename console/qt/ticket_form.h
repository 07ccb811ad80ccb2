// TTicketForm: the subscription window of a prepaid user, opened from the
// users page. It shows a TicketWindow: the limits, what remains (taken again
// every second) and the amounts to add, or the limits edited directly.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <functional>

#include "console/ticket_window.h"

namespace brindlex {

class TTicketForm final : public QDialog {
  Q_OBJECT

 public:
  // `changed` runs after an apply or a close (the users grid is rebuilt).
  TTicketForm(ConsoleEngine& engine, std::uint32_t userId, std::function<void()> changed, QWidget* parent);
  const TicketWindow& Window() const { return window_; }
  QLineEdit* AddEdit(int row) { return add_[static_cast<size_t>(row)]; }
  QLineEdit* LimitEdit(int row) { return limits_[static_cast<size_t>(row)]; }
  QCheckBox* EditDirectly() { return editDirectly_; }
  QPushButton* ApplyButton() { return apply_; }
  // Whether the window may be shown: the user exists and works by subscription.
  bool Usable() const { return usable_; }

 private:
  void Show();
  void ShowRemaining();
  bool Apply();
  void AskClose();

  TicketWindow window_;
  std::function<void()> changed_;
  bool usable_ = false;
  QLabel* opened_ = nullptr;
  QLabel* changedAt_ = nullptr;
  std::array<QLineEdit*, kTicketRows> limits_{};
  std::array<QLabel*, kTicketRows> remaining_{};
  std::array<QLineEdit*, kTicketRows> add_{};
  QCheckBox* editDirectly_ = nullptr;
  QPushButton* apply_ = nullptr;
  QPushButton* close_ = nullptr;
  QTimer second_;
};

// The users page's "Абонемент": the window of the user, modal.
void OpenTicketForm(ConsoleEngine& engine, std::uint32_t userId, std::function<void()> changed, QWidget* parent);

}  // namespace brindlex
