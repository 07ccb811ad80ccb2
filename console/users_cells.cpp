#include "console/users_view.h"
#include "core/accounting.h"
#include "core/strings.h"
#include "core/value_codec.h"

// What a row of the users grid shows and allows: cell texts, their look and
// the commands of the row. The grid is built in users_view.cpp.

namespace brindlex {

namespace {

bool HasValue(std::int64_t value) { return value != kNoValue; }

}  // namespace

const CounterBlock* UsersGrid::BlockOf(std::size_t row) const {
  switch (rows_[row].kind) {
    case UsersRowKind::kUser:
      return &ViewBlock(*UserOf(row), options_.view);
    case UsersRowKind::kGroupTotal:
      return &entries_[places_[row].entry].totals;
    case UsersRowKind::kGrandTotal:
      return &grand_;
    case UsersRowKind::kGroupHeader:
      break;
  }
  return nullptr;
}

std::string UsersGrid::BlockCell(const CounterBlock& block, int column) const {
  const std::int64_t perMb = snapshot_.bytesPerMb;
  auto traffic = [&](std::int64_t bytes) {
    // The overhead is part of what the user is charged for, not of what is left.
    if (HasValue(bytes) && options_.view != UsersView::kTicketRemaining)
      bytes = CorrectedTraffic(bytes, snapshot_.trafficOverheadPercent);
    return FormatTrafficIn(bytes, options_.unit, perMb);
  };
  switch (column) {
    case kUsersTime:
      return FormatMilliseconds(block.timeMs);
    case kUsersOutgoing:
      return traffic(block.outgoing);
    case kUsersIncoming:
      return traffic(block.incoming);
    case kUsersMoney: {
      std::string text = FormatMoneyIn(block.nationalMoney, perMb);
      if (HasValue(block.money)) text += " (" + FormatMoneyIn(block.money, perMb) + Str(1155) + ")";
      return text;
    }
    case kUsersRating:
      if (!IsPeriodView(options_.view) || grand_.money == 0 || !HasValue(block.money)) return "";
      return FormatNumberText(static_cast<double>(block.money) * 100.0 / static_cast<double>(grand_.money));
    default:
      return "";
  }
}

std::string UsersGrid::Cell(std::size_t row, int column) const {
  if (row >= rows_.size()) return "";
  if (column == kUsersName) {
    switch (rows_[row].kind) {
      case UsersRowKind::kGroupHeader:
        return entries_[places_[row].entry].group.name;
      case UsersRowKind::kUser: {
        const ConsoleUser& user = *UserOf(row);
        return user.name.empty() ? user.login : user.name;
      }
      case UsersRowKind::kGroupTotal:
      case UsersRowKind::kGrandTotal:
        return Str(28);
    }
  }
  if (column == kUsersAddresses) {
    std::string text;
    if (const ConsoleUser* user = UserOf(row))
      for (Ipv4 address : user->activeAddresses) text += FormatIpv4(address) + "; ";
    return text;
  }
  const CounterBlock* block = BlockOf(row);
  return block ? BlockCell(*block, column) : "";
}

bool UsersGrid::Italic(const ConsoleUser& user, int column) const {
  if (user.hasTicket && user.ticketExhausted) return true;
  const ConsoleLimits& reached = user.limits;
  if (column == kUsersName) return reached.monthTraffic || reached.monthTime || reached.dayTraffic || reached.dayTime;
  bool time = false, traffic = false;
  if (options_.view == UsersView::kMonth) {
    time = reached.monthTime;
    traffic = reached.monthTraffic;
  } else if (options_.view == UsersView::kDay) {
    time = reached.dayTime;
    traffic = reached.dayTraffic;
  }
  switch (column) {
    case kUsersTime:
      return time;
    case kUsersOutgoing:
      return traffic && reached.countsOutgoing;
    case kUsersIncoming:
      return traffic && reached.countsIncoming;
    default:
      return false;
  }
}

UsersCellLook UsersGrid::Look(std::size_t row, int column) const {
  UsersCellLook look;
  if (row >= rows_.size()) return look;
  const bool first = column == kUsersName;
  switch (rows_[row].kind) {
    case UsersRowKind::kGroupHeader:
    case UsersRowKind::kGrandTotal:
      look.bold = first;
      break;
    case UsersRowKind::kGroupTotal:
      look.bold = first;
      look.indent = first ? kUsersIndent : 0;
      break;
    case UsersRowKind::kUser: {
      const ConsoleUser& user = *UserOf(row);
      look.indent = first && options_.showGroups ? kUsersIndent : 0;
      // A subscription user without an open subscription cannot work.
      look.grey = user.disabled || user.deleted || (user.hasTicket && !user.ticketOpen);
      look.italic = Italic(user, column);
      break;
    }
  }
  return look;
}

UsersRowCommands UsersGrid::Commands(std::size_t row) const {
  UsersRowCommands commands;
  if (row >= rows_.size()) return commands;
  const bool period = IsPeriodView(options_.view);
  switch (rows_[row].kind) {
    case UsersRowKind::kUser: {
      const ConsoleUser& user = *UserOf(row);
      // A deleted user is listed in the period views only for his figures.
      const bool live = !(period && user.deleted);
      commands.statistics = period || user.ticketOpen;
      commands.speed = live;
      commands.email = live && user.hasEmail;
      commands.closeSession = live && !user.activeAddresses.empty();
      commands.disable = live;
      commands.disabledMark = user.disabled;
      commands.ticket = user.hasTicket;
      break;
    }
    case UsersRowKind::kGroupTotal:
    case UsersRowKind::kGrandTotal:
      commands.statistics = period;
      commands.speed = true;
      break;
    case UsersRowKind::kGroupHeader:
      break;
  }
  return commands;
}

std::optional<SpeedTarget> UsersGrid::SpeedTargetOf(std::size_t row) const {
  if (row >= rows_.size()) return std::nullopt;
  switch (rows_[row].kind) {
    case UsersRowKind::kUser: {
      const ConsoleUser& user = *UserOf(row);
      return SpeedTarget{SpeedSubject::kUser, user.id, user.name};
    }
    case UsersRowKind::kGroupTotal: {
      const ConsoleGroup& group = entries_[places_[row].entry].group;
      return SpeedTarget{SpeedSubject::kGroup, group.number, group.name};
    }
    case UsersRowKind::kGrandTotal:
      return SpeedTarget{};
    case UsersRowKind::kGroupHeader:
      break;
  }
  return std::nullopt;
}

bool UsersGrid::CloseSession(ConsoleEngine& engine, std::size_t row) const {
  if (!Commands(row).closeSession) return false;
  engine.CloseUserSessions(rows_[row].userId);
  return true;
}

bool UsersGrid::ToggleDisabled(ConsoleEngine& engine, std::size_t row) const {
  if (!Commands(row).disable) return false;
  engine.ToggleUserDisabled(rows_[row].userId);
  return true;
}

}  // namespace brindlex
