#include "tests/integration/account_sections.h"

#include <signal.h>

#include <chrono>
#include <thread>

#include "core/groups.h"
#include "core/strings.h"

namespace brindlex::testing {

namespace {

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

}  // namespace

UserRecord LoginUser(const std::string& login, const std::string& password) {
  UserRecord user;
  user.login = login;
  user.name = "User " + login;
  user.password = password;
  user.schedule = FullSchedule();
  return user;
}

UserRecord AddressUser(const std::string& address, const std::string& name) {
  UserRecord user;
  user.login = address;
  user.name = name;
  user.byAddress = true;
  user.schedule = FullSchedule();
  return user;
}

std::string AccountSections(const std::vector<UserRecord>& users) {
  IniDocument document;
  WriteGroup(MakeDefaultGroup(), document);
  for (const UserRecord& user : users) StoreUser(user, document);
  return FormatIni(document);
}

bool EditAndReload(const ProxyGateway& gateway, const std::function<void(IniDocument&)>& edit) {
  const std::string path = gateway.home + "/Brindlex.ini";
  IniDocument settings = LoadIniFile(path);
  edit(settings);
  WriteFile(path, FormatIni(settings));
  const std::string reloaded = Str(1230);
  const size_t before = Occurrences(gateway.process->Output(), reloaded);
  gateway.process->Signal(SIGHUP);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Occurrences(gateway.process->Output(), reloaded) == before) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace brindlex::testing
