// The users page without its widgets: which users a view takes, how they are
// grouped, totalled and ordered, the text and look of every cell, which
// commands a row allows, and the dates the period views cover. The grid works
// on a UsersSnapshot only, so the Qt grid and the export show the same rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/console_engine.h"

namespace brindlex {

// The period tabs; 3 and 4 are the two sub-tabs of the subscription tab.
enum class UsersView { kMonth = 0, kDay = 1, kInterval = 2, kTicketUsed = 3, kTicketRemaining = 4 };
// Views 0-2 show counters of a date span; 3-4 those of the subscriptions.
constexpr bool IsPeriodView(UsersView view) { return view <= UsersView::kInterval; }

enum class UsersRowKind { kGroupHeader = 0, kUser = 1, kGroupTotal = 2, kGrandTotal = 3 };

// What a row stands for: the group (header and group total rows), the user
// (user rows; groupNumber is then the user's group) or the whole program.
struct UsersRow {
  UsersRowKind kind = UsersRowKind::kGrandTotal;
  std::uint32_t groupNumber = 0;
  std::uint32_t userId = 0;
  bool operator==(const UsersRow&) const = default;
};

inline constexpr int kUsersColumns = 7;
enum UsersColumn {
  kUsersName = 0,
  kUsersAddresses = 1,
  kUsersTime = 2,
  kUsersOutgoing = 3,
  kUsersIncoming = 4,
  kUsersMoney = 5,
  kUsersRating = 6
};
std::vector<std::string> UsersColumnCaptions();

struct UsersGridOptions {
  UsersView view = UsersView::kMonth;
  int sortColumn = kUsersName;
  bool showGroups = true;
  bool showTicketUsers = true;  // subscription users also in the period views
  // Every user is listed, the idle too (one added a minute ago is found);
  // this leaves out those with nothing counted in the view.
  bool hideIdle = false;
  TrafficUnit unit = TrafficUnit::KbAndMb;
};

// One group of the grid, its users in shown order (places in the snapshot's
// user list) and their summed counters. With groups hidden the one entry
// carries the group of the first user taken.
struct UsersGroupEntry {
  ConsoleGroup group;
  CounterBlock totals;
  std::vector<std::size_t> users;
};

inline constexpr int kUsersIndent = 16;  // pixels, in column 0

struct UsersCellLook {
  bool grey = false;
  bool italic = false;
  bool bold = false;
  int indent = 0;
};

// The commands the page offers for a row.
struct UsersRowCommands {
  bool statistics = false;
  bool speed = false;
  bool email = false;
  bool closeSession = false;
  bool disable = false;
  bool disabledMark = false;  // the check mark of "disable"
  bool ticket = false;
};

// Whose speed window a row opens, and the name its caption quotes.
struct SpeedTarget {
  SpeedSubject subject = SpeedSubject::kProgram;
  std::uint32_t id = 0;
  std::string name;
};

class UsersGrid {
 public:
  // Takes the users, totals and orders them and lists the rows again. The
  // selected row stays selected when its record is still listed; otherwise
  // the first row is.
  void Rebuild(UsersSnapshot snapshot, const UsersGridOptions& options);

  const UsersGridOptions& Options() const { return options_; }
  const UsersSnapshot& Snapshot() const { return snapshot_; }
  const std::vector<UsersGroupEntry>& Entries() const { return entries_; }
  const CounterBlock& GrandTotal() const { return grand_; }
  const std::vector<UsersRow>& Rows() const { return rows_; }

  std::string Cell(std::size_t row, int column) const;
  UsersCellLook Look(std::size_t row, int column) const;
  UsersRowCommands Commands(std::size_t row) const;
  // Nothing for a group header.
  std::optional<SpeedTarget> SpeedTargetOf(std::size_t row) const;
  // The user of a user row; nullptr for the other kinds.
  const ConsoleUser* UserOf(std::size_t row) const;

  std::optional<std::size_t> Selected() const { return selected_; }
  void Select(std::size_t row);

  // The row's commands, given only when the row allows them; false otherwise.
  bool CloseSession(ConsoleEngine& engine, std::size_t row) const;
  bool ToggleDisabled(ConsoleEngine& engine, std::size_t row) const;

 private:
  // The counters a cell of the row shows: the user's block of the view, or
  // the totals of its group or of the program; nullptr for a header.
  const CounterBlock* BlockOf(std::size_t row) const;
  std::string BlockCell(const CounterBlock& block, int column) const;
  bool Italic(const ConsoleUser& user, int column) const;

  UsersSnapshot snapshot_;
  UsersGridOptions options_;
  std::vector<UsersGroupEntry> entries_;
  CounterBlock grand_;
  std::vector<UsersRow> rows_;
  // Where each row's records are: its group entry and, on a user row, the
  // user's place in the snapshot.
  struct RowPlace {
    std::size_t entry = 0;
    std::size_t user = 0;
  };
  std::vector<RowPlace> places_;
  std::optional<std::size_t> selected_;
};

// The counter block of a user that a view shows.
const CounterBlock& ViewBlock(const ConsoleUser& user, UsersView view);

}  // namespace brindlex
