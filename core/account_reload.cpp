#include "core/account_reload.h"

#include <algorithm>
#include <mutex>

#include "core/groups.h"
#include "core/process_state.h"
#include "core/subscriptions.h"
#include "core/url_filter.h"
#include "core/users.h"

namespace brindlex {

namespace {

void ReloadGroupsLocked(AccountSource& source) {
  const std::vector<std::uint32_t> numbers = StoredGroupNumbers(*source.source);
  auto stored = [&](std::uint32_t number) {
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
  };
  std::vector<std::uint32_t> removed;
  for (const auto& group : Groups())
    if (!stored(group->number)) removed.push_back(group->number);
  for (std::uint32_t number : removed) RemoveGroupLocked(number);
  for (std::uint32_t number : numbers) {
    GroupRecord* group = FindGroup(number);
    if (!group) {
      Groups().push_back(std::make_unique<GroupRecord>());
      group = Groups().back().get();
      group->number = number;
    }
    // Only saved copies of older versions lack a group's address list; in the
    // settings file itself a missing list is no restriction.
    group->clientAddresses.clear();
    ReadGroup(*group, source);
  }
  if (!stored(0)) ResetDefaultGroup(*FindGroup(0), source);
}

void ReloadUsersLocked(AccountSource& source) {
  for (auto& user : Users())
    if (!user->deleted && !FindValue(*source.source, kUsersSection, user->login)) user->deleted = true;
  for (const IniLine& line : SectionEntries(*source.source, kUsersSection)) {
    UserRecord* user = FindOrCreateUser(line.key);
    if (!user) continue;  // the table is full; logins already in it still count
    ReadUser(*user, source);
    // An open subscription stays as it is in memory, where charging has moved
    // it on since the file was written; a new user, or one known only from the
    // logs, gets the one the file holds.
    if (!user->ticket.open) ReadSubscription(*user, *source.source);
  }
}

}  // namespace

void ReloadAccounts(AccountSource& source) {
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ReloadGroupsLocked(source);
    ReloadUsersLocked(source);
    LoadGlobalFilters(source);
  }
  Flags().treeDirty = true;
}

}  // namespace brindlex
