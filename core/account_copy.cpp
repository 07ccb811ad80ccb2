#include "core/account_copy.h"

#include <mutex>

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

void LoadAccountsCopy(const std::string& path) {
  IniDocument copy = LoadIniFile(path);
  IniDocument settings = LoadIniFile(SettingsPath());
  AccountSource source{&copy, &settings};
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (auto& group : Groups()) ReadGroup(*group, source);
    for (auto& user : Users())
      if (!user->deleted) ReadUser(*user, source);
  }
  if (source.settingsChanged) SaveIniFile(SettingsPath(), settings);
}

}  // namespace brindlex
