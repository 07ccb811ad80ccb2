// The configuration editor's operations on groups and users, without any
// window: each validates, changes the tables (under the accounts lock),
// writes the settings file, and returns the texts of the box the console
// shows. Questions the console asks before an operation come from the
// *Question functions; the operation itself runs only on the answer Yes/OK.
//
// Threads: main thread only. The caller must not hold the accounts lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/groups.h"
#include "core/settings.h"
#include "core/users.h"

namespace brindlex {

// Caption and text of a confirmation box.
struct EditorQuestion {
  std::string caption;
  std::string text;
};

// Checks of typed texts that end up in records and log lines, where ',' and
// ';' separate fields. ok = true when the text may be stored.
EditOutcome CheckDisplayName(std::string_view name);
// The login is trimmed and lower-cased in place; for a user identified by
// address it must be a dotted IPv4 address and is rewritten in dotted form.
EditOutcome CheckLogin(std::string& login, bool byAddress);

// A new group as the editor first shows it: a copy of "Default" named
// "Группа " and the number it will get.
GroupRecord NewGroupDraft();
// Stores a new group: it takes 1 + the largest number in the table (written
// back into `draft`), is appended, and its filters, address list and record
// are written. `created` receives the table's record.
EditOutcome ApplyNewGroup(GroupRecord& draft, GroupRecord** created = nullptr);
// Stores the edited values of an existing group (its number stays).
EditOutcome SaveGroup(GroupRecord& group, const GroupRecord& edited);

// A new user as the editor first shows it, under `group`: named "Пользователь " and
// the table size plus one, the group's schedule and rules, everything else
// empty.
UserRecord NewUserDraft(GroupRecord& group);
// Stores a new user. The login must be given and not belong to a user that is
// not deleted; a deleted user's record with that login is taken over with its
// counters and subscription. `created` receives the table's record.
EditOutcome ApplyNewUser(UserRecord& draft, UserRecord** created = nullptr);
// Stores the edited values of an existing user; login, identification kind
// and group stay (MoveUserToGroup changes the group).
EditOutcome SaveUser(UserRecord& user, const UserRecord& edited);

// "Задать ограничения для пользователей группы": every user of the group that
// is not deleted gets the group's rules and is written.
EditorQuestion ApplyRulesToGroupUsersQuestion();
void ApplyGroupRulesToUsers(const GroupRecord& group);
// "Установить ограничения группы" for one user.
EditorQuestion ApplyRulesToUserQuestion();
void ApplyGroupRulesToUser(UserRecord& user);

// Moving a user to another group keeps its rules.
EditorQuestion MoveUserQuestion(const GroupRecord& target);
void MoveUserToGroup(UserRecord& user, const GroupRecord& target);

// Deleting a user removes its record and filters from the file and marks it
// deleted; the record stays in the table. Refused (ok = false, no text) for a
// user without login.
EditorQuestion DeleteUserQuestion();
EditOutcome DeleteUser(UserRecord& user);

// Whether a group may be deleted: refusals for "Default" and for a group with
// users that are not deleted (ok = false and the box), else ok = true with the
// question to ask in caption and message.
EditOutcome CheckGroupDeletion(const GroupRecord& group);
// Removes the group's keys and frees its record; deleted users that still
// pointed at it are moved to group 0. Returns false when the deletion is not
// allowed (CheckGroupDeletion) or the group does not exist.
bool DeleteGroup(std::uint32_t number);

}  // namespace brindlex
