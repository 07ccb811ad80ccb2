#include "console/ticket_window.h"

#include "core/date_time.h"
#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

std::int64_t Amount(const CounterBlock& block, int row) {
  switch (row) {
    case 0:
      return block.outgoing;
    case 1:
      return block.incoming;
    case 2:
      return block.timeMs;
    case 3:
      return block.money;
    default:
      return block.nationalMoney;
  }
}

std::string AmountText(std::int64_t amount, int row, std::int64_t bytesPerMb) {
  if (row < 2) return FormatTrafficIn(amount, TrafficUnit::Mb, bytesPerMb);
  if (row == 2) return FormatMilliseconds(amount);
  return FormatMoneyIn(amount, bytesPerMb);
}

}  // namespace

std::array<std::string, 3> TicketColumnTitles() { return {Str(1304), Str(1305), Str(1306)}; }

std::array<std::string, kTicketRows> TicketRowTitles() {
  return {Str(1307), Str(1308), Str(1309), Str(1310), Str(1311)};
}

bool TicketWindow::Refresh() {
  ticket_ = engine_.Ticket(userId_);
  if (ticket_ && !ticket_->prepaid) ticket_.reset();
  return ticket_.has_value();
}

std::string TicketWindow::Caption() const {
  std::string caption = Str(1300) + " '" + (ticket_ ? ticket_->userName : std::string()) + "'";
  if (Open()) return caption + " №" + std::to_string(ticket_->ticket.number);
  return caption + " " + Str(1301);
}

std::string TicketWindow::OpenedText() const {
  return Open() ? FormatDateAndTime(DateTimeToLocalSeconds(ticket_->ticket.openedAt)) : "-";
}

std::string TicketWindow::ChangedText() const {
  return Open() ? FormatDateAndTime(DateTimeToLocalSeconds(ticket_->ticket.changedAt)) : "-";
}

std::string TicketWindow::LimitText(int row) const {
  if (!Open()) return "-";
  const std::int64_t limit = Amount(ticket_->ticket.limit, row);
  return limit == 0 ? "-" : AmountText(limit, row, ticket_->bytesPerMb);
}

std::string TicketWindow::RemainingText(int row) const {
  if (!Open()) return {};
  const std::int64_t remaining = Amount(ticket_->remaining, row);
  return remaining == kNoValue ? std::string() : AmountText(remaining, row, ticket_->bytesPerMb);
}

TicketEntry TicketWindow::LimitsAsEntry() const {
  if (!Open()) return {"0", "0", "0", "0", "0"};
  const CounterBlock& limit = ticket_->ticket.limit;
  const double mb = static_cast<double>(ticket_->bytesPerMb);
  return {FormatNumberText(static_cast<double>(limit.outgoing) / mb),
          FormatNumberText(static_cast<double>(limit.incoming) / mb),
          FormatNumberText(static_cast<double>(limit.timeMs) / 60000.0),
          FormatNumberText(static_cast<double>(limit.money) / (mb * 1000)),
          FormatNumberText(static_cast<double>(limit.nationalMoney) / (mb * 1000))};
}

SubscriptionOutcome TicketWindow::Apply(TicketEntry& entry, bool editDirectly) {
  SubscriptionOutcome outcome = engine_.ApplyTicket(userId_, entry, editDirectly || EditDirectlyForced());
  if (outcome.edit.ok) Refresh();
  return outcome;
}

EditorQuestion TicketWindow::CloseQuestion() { return {Str(961), Str(1314)}; }

SubscriptionOutcome TicketWindow::Close() {
  SubscriptionOutcome outcome = engine_.CloseTicket(userId_);
  Refresh();
  return outcome;
}

}  // namespace brindlex
