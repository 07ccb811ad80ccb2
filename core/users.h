// Users: the record, the user table, the serial form in section "Users",
// loading, and the rules a user copies from its group.
//
// A user is keyed by its login (lower-case; for a user identified by address
// the dotted IPv4 address). A record is never freed while the program runs:
// deleting a user only marks it deleted, so that its counters still show and a
// new user with the same login takes the record back.
//
// Threads: the table and the records change only under the accounts lock
// (loading, a reload, the configuration editor, accounting); other threads read them
// under the same lock. Records live behind stable pointers.
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
#include "core/groups.h"
#include "core/schedule.h"
#include "core/ticket.h"
#include "core/value_codec.h"

namespace brindlex {

inline constexpr size_t kMaxUsers = 500;

// What a user record holds beyond its stored fields: the accounting state,
// never stored and changed under the accounts lock. Saving edited values, and
// taking a deleted user's record back, keep it.
struct UserRuntimeState {
  CounterBlock monthCounters;
  CounterBlock dayCounters;
  CounterBlock periodCounters;
  TicketRecord ticket;
  std::vector<Ipv4> activeAddresses;                            // client addresses with an open session
  std::array<std::int32_t, kSpeedHistorySlots> speedHistory{};  // bytes per second, -1 = no data

  bool operator==(const UserRuntimeState&) const = default;
};

struct UserRecord : UserRuntimeState {
  std::uint32_t groupNumber = 0;
  std::string name;
  bool disabled = false;
  bool admin = false;
  std::string login;
  std::string password;  // plain; a MAC address (12 hex digits) for an address user
  bool byAddress = false;
  std::string emails;  // list text
  std::string reportEmail;
  Schedule schedule{};
  std::string denyFilter;
  std::string allowFilter;
  std::string clientAddresses;  // list text of address ranges
  AccessRules rules;            // a copy of the group's, or the user's own

  GroupRecord* group = nullptr;  // the group of groupNumber, resolved at load
  bool deleted = true;           // not stored: removed, or known only from the logs

  bool operator==(const UserRecord&) const = default;
};

// The user table, in load order (new users at the end).
std::vector<std::unique_ptr<UserRecord>>& Users();

// The serial form and its reading. Reading sets every serial field (a missing
// one reads empty, 0 or false); byAddress, when its field is empty (records of
// older files), is taken from whether the login is an IPv4 address.
std::string FormatUserRecord(const UserRecord& user);
void ParseUserRecord(std::string_view text, UserRecord& user);

// The user with this login (any case), deleted ones included, or nullptr.
UserRecord* FindUser(std::string_view login);
// Same, but only a user that is not deleted.
UserRecord* FindActiveUser(std::string_view login);
// The user at place `id` of the table, or nullptr. Caller holds the accounts
// lock.
UserRecord* UserAt(std::uint32_t id);

// The user with this login, or a new zero-filled, deleted record appended
// with it (speed history empty). nullptr for an empty login, or when the
// table is full and the login is not in it.
UserRecord* FindOrCreateUser(std::string_view login);

// Points the user at the group of its groupNumber; a user whose group does
// not exist goes to group 0.
void ResolveUserGroup(UserRecord& user);

// Frees the group's record after moving every user that pointed at it, deleted
// ones too, to group 0, so that no record is left pointing at freed memory.
// Nothing for group 0 or a number not in the table. Caller holds the accounts
// lock.
void RemoveGroupLocked(std::uint32_t number);

// Re-reads one user from the source: record, filters, e-mails and address
// list, and marks it stored (not deleted). When the source has no record for
// the login, the user is left unchanged.
void ReadUser(UserRecord& user, AccountSource& source);

// Clears the table and reads every login of "Users" in file order, at most
// kMaxUsers. The groups must be loaded first.
void LoadUsers(AccountSource& source);

// Writes the record alone ("Users"), or with its filters, e-mails and address
// list ("Users", "Filters", "FiltersW", "Emails", "UsersAddr"), into a
// document or straight into a file.
void WriteUser(const UserRecord& user, IniDocument& document);
void StoreUser(const UserRecord& user, IniDocument& document);
bool WriteUser(const UserRecord& user, const std::string& path);
bool StoreUser(const UserRecord& user, const std::string& path);

// Loads groups, users and the global filters from the settings file at
// `path`, and writes back what loading created or converted. Takes the
// accounts lock.
void LoadAccounts(const std::string& path);

// Whether any of the user's access rules differs from its group's (reals
// exactly). False for a user without group.
bool DiffersFromGroup(const UserRecord& user);

}  // namespace brindlex
