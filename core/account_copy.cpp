#include "core/account_copy.h"

#include <mutex>
#include <vector>

#include "core/file_io.h"
#include "core/groups.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/users.h"

namespace brindlex {

bool SaveAccountsCopy(const std::string& path) {
  IniDocument copy = LoadIniFile(path);
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (const auto& user : Users())
      if (!user->deleted) StoreUser(*user, copy);
    // The group address lists go into the copy too: loading a copy reads
    // them, and a copy without them would lift every group's restriction.
    for (const auto& group : Groups()) StoreGroup(*group, copy);
  }
  return SaveIniFile(path, copy);
}

CopyLoad StoreAccountsCopy(const std::string& path) {
  std::string text;
  if (!ReadFileBounded(path, kIniMaxFile, text)) return CopyLoad::kUnreadable;
  const IniDocument copy = ParseIni(text);
  // The records are read into copies of the tables' records under the lock,
  // and the file is written after it is released: workers never wait on the
  // accounts lock for a file write.
  std::vector<GroupRecord> groups;
  std::vector<UserRecord> users;
  {
    IniDocument scratch = LoadIniFile(SettingsPath());
    AccountSource source{&copy, &scratch};
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (const auto& group : Groups()) {
      if (!FindValue(copy, kGroupsSection, GroupKey(group->number))) continue;
      groups.push_back(*group);
      ReadGroup(groups.back(), source);
    }
    for (const auto& user : Users()) {
      if (user->deleted || !FindValue(copy, kUsersSection, user->login)) continue;
      users.push_back(*user);
      ReadUser(users.back(), source);
    }
  }
  if (groups.empty() && users.empty()) return CopyLoad::kNothingToLoad;
  const bool written = IniChangeFile(SettingsPath(), [&](IniDocument& settings) {
    for (const GroupRecord& group : groups) StoreGroup(group, settings);
    for (const UserRecord& user : users) StoreUser(user, settings);
    return true;
  });
  return written ? CopyLoad::kWritten : CopyLoad::kNotWritten;
}

}  // namespace brindlex
