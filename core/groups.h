// User groups: the record, the group table, the group's serial form in
// section "Groups" and its loading.
//
// A group carries the tariffs, the session time-out and a full set of default
// rules that its users copy. Group 0 is "Default" and always exists after
// LoadGroups.
//
// Threads: the table and the records change only under the accounts lock
// (loading, the configuration editor); other threads read them under the same
// lock. Records live behind stable pointers: a group is freed only when the
// editor deletes it or a reload finds it gone from the file, and users that
// pointed at it are moved to group 0 first (RemoveGroupLocked).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/access_rules.h"
#include "core/account_source.h"
#include "core/counters.h"
#include "core/ini_file.h"
#include "core/schedule.h"

namespace brindlex {

inline constexpr size_t kMaxGroups = 500;
inline constexpr int kSpeedHistorySlots = 300;

// What a group record holds for the console alone, never stored. Saving
// edited values keeps it.
struct GroupConsoleState {
  CounterBlock periodTotals;
  std::array<std::int32_t, kSpeedHistorySlots> speedHistory{};
  std::uint8_t viewFlags = 0;

  bool operator==(const GroupConsoleState&) const = default;
};

struct GroupRecord : GroupConsoleState {
  std::uint32_t number = 0;
  std::string name;
  Schedule schedule{};
  std::string denyFilter;
  std::string allowFilter;
  double tariffIn = 0;              // per MB incoming, base currency
  double tariffOut = 0;             // per MB outgoing
  double tariffHour = 0;            // per hour of connection time
  double exchangeRate = 0;          // national units per base unit
  std::int32_t sessionTimeout = 0;  // seconds
  std::string clientAddresses;
  AccessRules rules;

  bool operator==(const GroupRecord&) const = default;
};

// The group table, in load order (new groups at the end).
std::vector<std::unique_ptr<GroupRecord>>& Groups();

// "00000003": the key in "Groups". "g00000003": the key in "UsersAddr",
// "Filters" and "FiltersW".
std::string GroupKey(std::uint32_t number);
// A key of "Groups" names a group when it is a decimal number that fits.
bool GroupNumberFromKey(std::string_view key, std::uint32_t& number);
std::string GroupScopeKey(std::uint32_t number);

// The "Default" group as it is created when the file has none: every hour
// allowed, both directions counted, everything else zero.
GroupRecord MakeDefaultGroup();

// The serial form (fields joined by "; ") and its reading. Reading sets every
// serial field (a missing one reads empty, 0 or false) and nothing else.
std::string FormatGroupRecord(const GroupRecord& group);
void ParseGroupRecord(std::string_view text, GroupRecord& group);

// The first group with that number, or nullptr.
GroupRecord* FindGroup(std::uint32_t number);
// The largest number in the table (0 when empty).
std::uint32_t LargestGroupNumber();

// The numbers of the groups "Groups" holds, in file order, at most kMaxGroups
// counting the room "Default" needs when the file lacks it. Keys that are not
// a decimal group number, and repeated numbers, are skipped.
std::vector<std::uint32_t> StoredGroupNumbers(const IniDocument& document);

// Makes the record "Default" again (its console state stays) and writes it
// into the source's settings: what a file without group 0 gets.
void ResetDefaultGroup(GroupRecord& group, AccountSource& source);

// Clears the table and reads every group of StoredGroupNumbers. Creates and
// writes "Default" when no group 0 was read.
void LoadGroups(AccountSource& source);

// Re-reads one group from the source: record, filters and address list. When
// the source has no record for it, the group is left unchanged.
void ReadGroup(GroupRecord& group, AccountSource& source);

// Writes the record alone ("Groups"), or the record with its filters and
// address list ("Groups", "Filters", "FiltersW", "UsersAddr"), into a
// document or straight into a file. File writes return false when the file
// could not be written.
void WriteGroup(const GroupRecord& group, IniDocument& document);
void StoreGroup(const GroupRecord& group, IniDocument& document);
bool WriteGroup(const GroupRecord& group, const std::string& path);
bool StoreGroup(const GroupRecord& group, const std::string& path);

}  // namespace brindlex
