#include "console/users_view.h"

#include <algorithm>

#include "core/chars.h"
#include "core/strings.h"

namespace brindlex {

namespace {

bool HasValue(std::int64_t value) { return value != kNoValue; }

// A no-value figure adds nothing: summing it would overflow.
void AddShown(CounterBlock& to, const CounterBlock& from) {
  auto add = [](std::int64_t& sum, std::int64_t value) {
    if (HasValue(value)) sum += value;
  };
  add(to.timeMs, from.timeMs);
  add(to.outgoing, from.outgoing);
  add(to.incoming, from.incoming);
  add(to.money, from.money);
  add(to.nationalMoney, from.nationalMoney);
}

bool HoldsNonZero(const CounterBlock& block) {
  for (std::int64_t value : {block.timeMs, block.outgoing, block.incoming, block.money, block.nationalMoney})
    if (HasValue(value) && value != 0) return true;
  return false;
}

// The totals of view 4 sum what was used: a remaining amount may be unlimited;
// so does the test of an idle user.
const CounterBlock& TotalledBlock(const ConsoleUser& user, UsersView view) {
  return view == UsersView::kTicketRemaining ? user.ticketUsed : ViewBlock(user, view);
}

bool Taken(const ConsoleUser& user, const UsersGridOptions& options) {
  if (IsPeriodView(options.view) ? user.hasTicket && !options.showTicketUsers : !user.hasTicket) return false;
  // A deleted user stays while the view has figures of his.
  if (user.deleted && !HoldsNonZero(ViewBlock(user, options.view))) return false;
  return !options.hideIdle || HoldsNonZero(TotalledBlock(user, options.view));
}

// The figure a sort column orders by; name columns have none.
std::optional<std::int64_t> SortValue(const CounterBlock& block, int column) {
  switch (column) {
    case kUsersTime:
      return block.timeMs;
    case kUsersOutgoing:
      return block.outgoing;
    case kUsersIncoming:
      return block.incoming;
    case kUsersMoney:
    case kUsersRating:
      return block.money;
    default:
      return std::nullopt;
  }
}

// Ascending by name: first without, then with regard to letter case.
bool NameBefore(const std::string& a, const std::string& b) {
  const int byLetters = LowerCase(a).compare(LowerCase(b));
  return byLetters != 0 ? byLetters < 0 : a < b;
}

// Larger figures first; equal figures and name columns by name.
bool Before(const CounterBlock& a, const std::string& aName, const CounterBlock& b, const std::string& bName,
            int column) {
  const auto first = SortValue(a, column), second = SortValue(b, column);
  if (first && *first != *second) return *first > *second;
  return NameBefore(aName, bName);
}

bool SameRecord(const UsersRow& a, const UsersRow& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case UsersRowKind::kUser:
      return a.userId == b.userId;
    case UsersRowKind::kGroupHeader:
    case UsersRowKind::kGroupTotal:
      return a.groupNumber == b.groupNumber;
    case UsersRowKind::kGrandTotal:
      break;
  }
  return true;
}

}  // namespace

std::vector<std::string> UsersColumnCaptions() {
  std::vector<std::string> captions;
  for (int column = 0; column < kUsersColumns; ++column) captions.push_back(Str(column));
  return captions;
}

const CounterBlock& ViewBlock(const ConsoleUser& user, UsersView view) {
  switch (view) {
    case UsersView::kMonth:
      return user.month;
    case UsersView::kDay:
      return user.day;
    case UsersView::kInterval:
      return user.period;
    case UsersView::kTicketUsed:
      return user.ticketUsed;
    case UsersView::kTicketRemaining:
      break;
  }
  return user.ticketRemaining;
}

void UsersGrid::Rebuild(UsersSnapshot snapshot, const UsersGridOptions& options) {
  std::optional<UsersRow> remembered;
  if (selected_) remembered = rows_[*selected_];
  snapshot_ = std::move(snapshot);
  options_ = options;
  entries_.clear();
  grand_ = {};

  const auto& users = snapshot_.users;
  for (std::size_t place = 0; place < users.size(); ++place) {
    const ConsoleUser& user = users[place];
    if (!Taken(user, options_)) continue;
    const auto group = std::find_if(snapshot_.groups.begin(), snapshot_.groups.end(),
                                    [&](const ConsoleGroup& g) { return g.number == user.groupNumber; });
    if (group == snapshot_.groups.end()) continue;
    auto entry = std::find_if(entries_.begin(), entries_.end(),
                              [&](const UsersGroupEntry& e) { return e.group.number == group->number; });
    if (!options_.showGroups && !entries_.empty()) entry = entries_.begin();
    if (entry == entries_.end()) entry = entries_.insert(entries_.end(), UsersGroupEntry{*group, {}, {}});
    entry->users.push_back(place);
    AddShown(entry->totals, TotalledBlock(user, options_.view));
    AddShown(grand_, TotalledBlock(user, options_.view));
  }

  const int column = options_.sortColumn;
  for (UsersGroupEntry& entry : entries_)
    std::stable_sort(entry.users.begin(), entry.users.end(), [&](std::size_t a, std::size_t b) {
      const UsersView view = options_.view;
      return Before(ViewBlock(users[a], view), users[a].name, ViewBlock(users[b], view), users[b].name, column);
    });
  std::stable_sort(entries_.begin(), entries_.end(), [&](const UsersGroupEntry& a, const UsersGroupEntry& b) {
    return Before(a.totals, a.group.name, b.totals, b.group.name, column);
  });

  rows_.clear();
  places_.clear();
  auto emit = [&](UsersRowKind kind, std::uint32_t group, std::uint32_t user, RowPlace place) {
    rows_.push_back({kind, group, user});
    places_.push_back(place);
  };
  for (std::size_t e = 0; e < entries_.size(); ++e) {
    const std::uint32_t number = entries_[e].group.number;
    if (options_.showGroups) emit(UsersRowKind::kGroupHeader, number, 0, {e, 0});
    for (std::size_t place : entries_[e].users)
      emit(UsersRowKind::kUser, users[place].groupNumber, users[place].id, {e, place});
    if (options_.showGroups && IsPeriodView(options_.view)) emit(UsersRowKind::kGroupTotal, number, 0, {e, 0});
  }
  if (IsPeriodView(options_.view)) emit(UsersRowKind::kGrandTotal, 0, 0, {});

  selected_.reset();
  if (rows_.empty()) return;
  selected_ = 0;
  if (!remembered) return;
  for (std::size_t row = 0; row < rows_.size(); ++row)
    if (SameRecord(rows_[row], *remembered)) selected_ = row;
}

void UsersGrid::Select(std::size_t row) {
  if (row < rows_.size()) selected_ = row;
}

const ConsoleUser* UsersGrid::UserOf(std::size_t row) const {
  if (row >= rows_.size() || rows_[row].kind != UsersRowKind::kUser) return nullptr;
  return &snapshot_.users[places_[row].user];
}

}  // namespace brindlex
