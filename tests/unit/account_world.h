// A fixture for tests of accounting, logs, identification and the main timer:
// a private program folder (settings file, Logging), a manual clock set to
// Monday 7 December 2026 at noon, the "Default" group, and verbs to add users
// and connections. Every table is emptied again afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/accounting.h"
#include "core/arp_table.h"
#include "core/clock.h"
#include "core/connection.h"
#include "core/groups.h"
#include "core/process_state.h"
#include "core/program_folder.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/users.h"

namespace brindlex::testing {

class AccountWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex-world-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    SetProgramFolder(folder_);
    SetSettingsPath(folder_ + "/Brindlex.ini");
    EnsureFolder(LoggingFolder());
    SetLocalTime(LocalSeconds(2026, 12, 7, 12, 0, 0));
    SetProgramClock(&clock_);
    PublishSettings(SystemSettings{});
    std::lock_guard<std::mutex> lock(AccountsLock());
    Groups().clear();
    Users().clear();
    SessionListLocked().clear();
    Groups().push_back(std::make_unique<GroupRecord>(MakeDefaultGroup()));
    group_ = Groups().back().get();
  }

  void TearDown() override {
    {
      std::lock_guard<std::mutex> lock(AccountsLock());
      for (ConnectionRecord* c : connections_) {
        UnlinkConnectionLocked(c);
        DeleteConnection(c);
      }
      SessionListLocked().clear();
      Users().clear();
      Groups().clear();
    }
    SetProgramClock(nullptr);
    SetSpeedSleep(nullptr);
    SetArpTablePath("");
    PublishSettings(SystemSettings{});
    std::filesystem::remove_all(folder_);
  }

  // The wall clock shows this local time; the counter goes on from where it is.
  void SetLocalTime(std::int64_t localSeconds) {
    clock_.localBase = localSeconds - clock_.counter / kPerformanceFrequency;
    clock_.local = localSeconds;
  }

  UserRecord* AddUser(const std::string& login, bool byAddress = false) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    Users().push_back(std::make_unique<UserRecord>());
    UserRecord* user = Users().back().get();
    user->login = login;
    user->name = login;
    user->byAddress = byAddress;
    user->deleted = false;
    user->schedule = FullSchedule();
    user->group = group_;
    return user;
  }

  // A connection of the user from the address, attached to its UserSession.
  ConnectionRecord* Connect(UserRecord* user, const char* address, std::uint8_t service = kServiceHttp) {
    std::lock_guard<std::mutex> lock(AccountsLock());
    ConnectionRecord* c = NewConnection(service);
    c->clientAddress = ParseIpv4(address);
    c->sessionRecord = FindOrCreateSessionLocked(c->clientAddress);
    AttachLocked(*c, user);
    connections_.push_back(c);
    return c;
  }

  static std::string ReadText(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
  }

  ManualClock clock_;
  GroupRecord* group_ = nullptr;
  std::string folder_;

 private:
  std::vector<ConnectionRecord*> connections_;
};

}  // namespace brindlex::testing
