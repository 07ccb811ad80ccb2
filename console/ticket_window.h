// The subscription window without its widgets: the caption, the dates, the
// three columns of the five amounts, whether the limits are edited directly,
// and the apply and close that go to the engine.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "console/console_engine.h"
#include "core/account_editor.h"

namespace brindlex {

inline constexpr int kTicketRows = 5;  // outgoing, incoming, time, money, national money

// The columns "Определено", "Остаток", "Добавить" and the rows' titles.
std::array<std::string, 3> TicketColumnTitles();
std::array<std::string, kTicketRows> TicketRowTitles();

class TicketWindow {
 public:
  TicketWindow(ConsoleEngine& engine, std::uint32_t userId) : engine_(engine), userId_(userId) {}

  // Takes the subscription again (the window does it every second); false
  // when the user is gone or no longer works by subscription: the window is
  // then not shown, or closed.
  bool Refresh();
  std::uint32_t UserId() const { return userId_; }
  bool Open() const { return ticket_ && ticket_->ticket.open; }

  // "Абонемент для 'name' №12", or "... (открыть)" when none is open.
  std::string Caption() const;
  // "Выдано" and "Последнее изменение": "-" when none is open.
  std::string OpenedText() const;
  std::string ChangedText() const;
  // A limit ("-" when unlimited) and what remains of it (empty when unlimited).
  std::string LimitText(int row) const;
  std::string RemainingText(int row) const;
  // The limits as they are entered (MB, minutes, base and national money),
  // for editing them directly.
  TicketEntry LimitsAsEntry() const;

  // "Редактировать": without an open subscription it is set and hidden, and
  // so is "Закрыть абонемент".
  bool EditDirectlyForced() const { return !Open(); }
  bool CloseOffered() const { return Open(); }

  // "Применить" and "OK": the entered values are added to the limits, or set
  // them when editing directly. A value that does not convert stops the apply
  // with the box in outcome.edit; the window is refreshed after a success.
  SubscriptionOutcome Apply(TicketEntry& entry, bool editDirectly);
  // "Закрыть абонемент", asked first; the window closes afterwards.
  static EditorQuestion CloseQuestion();
  SubscriptionOutcome Close();

 private:
  ConsoleEngine& engine_;
  std::uint32_t userId_;
  std::optional<ConsoleTicket> ticket_;
};

}  // namespace brindlex
