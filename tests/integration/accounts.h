// Users for the integration tests: a login user with a full schedule, and the
// [Groups] and [Users] sections (with filters) that carry a list of them.
#pragma once

#include <string>
#include <vector>

#include "core/groups.h"
#include "core/ini_file.h"
#include "core/schedule.h"
#include "core/users.h"

namespace brindlex::testing {

inline UserRecord LoginUser(const std::string& login, const std::string& password) {
  UserRecord user;
  user.login = login;
  user.name = "User " + login;
  user.password = password;
  user.schedule = FullSchedule();
  return user;
}

inline std::string AccountSections(const std::vector<UserRecord>& users) {
  IniDocument document;
  WriteGroup(MakeDefaultGroup(), document);
  for (const UserRecord& user : users) StoreUser(user, document);
  return FormatIni(document);
}

}  // namespace brindlex::testing
