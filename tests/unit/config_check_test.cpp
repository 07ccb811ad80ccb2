// The configuration check names each plausible mistake by its line and key,
// and says nothing about a file that is right.
#include "core/config_check.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>
#include <string>

#include "core/account_source.h"
#include "core/groups.h"
#include "core/ini_file.h"
#include "core/process_state.h"
#include "core/schedule.h"
#include "core/users.h"

namespace brindlex {
namespace {

std::string GroupLine(GroupRecord group = MakeDefaultGroup()) { return "00000000=" + FormatGroupRecord(group); }

std::string UserLine(const std::string& login, const std::string& password, bool fullSchedule = true) {
  UserRecord user;
  user.login = login;
  user.name = "User " + login;
  user.password = password;
  if (fullSchedule) user.schedule = FullSchedule();
  return login + "=" + FormatUserRecord(user);
}

TEST(ConfigCheck, ACorrectFileHasNoProblem) {
  std::string text =
      "[System]\r\nEnableHTTP=1\r\nHttpPort=8080;3128\r\nUsersAddrs=192.168.0.1-192.168.0.254; "
      "10.0.0.0/8; 172.16.0.5\r\nCurIdCach=5\r\nHeadTimeout=0\r\nCachSizeMax=1000000000\r\nCachLengthMax=0\r\n; a comment\r\n[Groups]\r\n" +
      GroupLine() + "\r\n[Users]\r\n" + UserLine("ivan", "secret") + "\r\n";
  for (const ConfigProblem& p : CheckConfiguration(text)) ADD_FAILURE() << FormatConfigProblem("Brindlex.ini", p);
}

TEST(ConfigCheck, EachMistakeIsNamedByItsLineAndKey) {
  GroupRecord closedGroup = MakeDefaultGroup();
  closedGroup.schedule = Schedule{};
  struct Case {
    std::string text;
    int line;
    std::string key;  // empty: a section line, named by its text
  } cases[] = {
      {"[System]\nHttpPort=abc\n", 2, "HttpPort"},
      {"[System]\nHttpPort=99999\n", 2, "HttpPort"},
      {"[System]\nHttpPort=8080;x\n", 2, "HttpPort"},
      {"[System]\nHttpPort=1;2;3;4;5;6;7;8;9;10;11\n", 2, "HttpPort"},
      {"[System]\nEnableFtp=1\nFtpPort=-21\n", 3, "FtpPort"},
      {"[System]\nSocks5Port=70000\n", 2, "Socks5Port"},
      {"[System]\nHeadTimeout=-5\n", 2, "HeadTimeout"},
      {"[System]\nHeadTimeout=1 min\n", 2, "HeadTimeout"},
      {"[System]\nHttpPrt=8080\n", 2, "HttpPrt"},
      {"[System]\nCachSizeMax=1e300\n", 2, "CachSizeMax"},
      {"[System]\nCachLengthMax=-0.5\n", 2, "CachLengthMax"},
      {"[System]\nCachSizeMax=10\nCachLengthMax=1000000001\n", 3, "CachLengthMax"},
      {"[System\nHttpPort=8080\n", 1, ""},
      {"[System]\nUsersAddrs=127.0.0.0/33\n", 2, "UsersAddrs"},
      {"[System]\nUsersAddrs=lan\n", 2, "UsersAddrs"},
      {"[System]\nInInterface=eth0\n", 2, "InInterface"},
      {"[System]\nHttpPort=8080\nhttpport=3128\n", 3, "httpport"},
      {"[Users]\nivan=secret\n", 2, "ivan"},  // the natural guess: a name, no password, no schedule
      {"[Users]\n" + UserLine("ivan", "") + "\n", 2, "ivan"},
      {"[Users]\n" + UserLine("ivan", "pw", false) + "\n", 2, "ivan"},
      {"[Users]\n" + UserLine("ivan", "pw") + "\n[Groups]\n" + GroupLine(closedGroup) + "\n", 2, "ivan"},
      {"[Groups]\n00000000=Default; ; 0\n", 2, "00000000"},
  };
  for (const Case& c : cases) {
    std::vector<ConfigProblem> problems = CheckConfiguration(c.text);
    ASSERT_FALSE(problems.empty()) << c.text;
    EXPECT_EQ(problems[0].line, c.line) << c.text;
    EXPECT_EQ(problems[0].key, c.key) << c.text;
    EXPECT_FALSE(problems[0].message.empty());
  }
}

TEST(ConfigCheck, TheReportLineNamesFileLineSectionAndKey) {
  std::vector<ConfigProblem> problems = CheckConfiguration("[System]\r\nHttpPort=abc\r\n[Users\r\n");
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(FormatConfigProblem("Brindlex.ini", problems[0]).rfind("Brindlex.ini:2: [System] HttpPort: ", 0), 0u)
      << FormatConfigProblem("Brindlex.ini", problems[0]);
  EXPECT_NE(problems[0].message.find("abc"), std::string::npos) << "the value that is wrong is quoted";
  EXPECT_EQ(FormatConfigProblem("Brindlex.ini", problems[1]).rfind("Brindlex.ini:3: [Users: ", 0), 0u)
      << FormatConfigProblem("Brindlex.ini", problems[1]);
}

// The logins (or group names) the loaders took from `text`, in table order.
std::vector<std::string> Loaded(const std::string& text, bool groups) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  IniDocument document = ParseIni(text);
  AccountSource source{&document, &document};
  LoadGroups(source);
  LoadUsers(source);
  std::vector<std::string> names;
  if (groups) {
    for (const auto& group : Groups()) names.push_back(group->name);
  } else {
    for (const auto& user : Users()) names.push_back(user->login);
  }
  Users().clear();
  Groups().clear();
  return names;
}

TEST(ConfigCheck, UsersPastTheTablesSizeAreCountedAndTheFirstFewNamed) {
  for (size_t count : {kMaxUsers, kMaxUsers + 3, kMaxUsers + 7}) {
    std::string text = "[Groups]\n" + GroupLine() + "\n[Users]\n";
    for (size_t i = 0; i < count; ++i) text += UserLine("u" + std::to_string(i), "pw") + "\n";
    text += UserLine("U0", "pw") + "\n";  // the same login again takes no place
    std::vector<ConfigProblem> problems = CheckConfiguration(text);
    std::vector<std::string> loaded = Loaded(text, false);
    ASSERT_EQ(loaded.size(), kMaxUsers);
    EXPECT_EQ(loaded.back(), "u" + std::to_string(kMaxUsers - 1));
    std::vector<ConfigProblem> leftOut;
    for (const ConfigProblem& p : problems)
      if (p.message.find("500") != std::string::npos) leftOut.push_back(p);
    if (count == kMaxUsers) {
      EXPECT_TRUE(leftOut.empty()) << leftOut[0].message;
      continue;
    }
    ASSERT_EQ(leftOut.size(), 1u) << count;
    EXPECT_EQ(leftOut[0].line, static_cast<int>(4 + kMaxUsers)) << "at the first user left out";
    EXPECT_EQ(leftOut[0].key, "u500");
    const std::string& message = leftOut[0].message;
    EXPECT_NE(message.find(" " + std::to_string(count - kMaxUsers) + " "), std::string::npos) << message;
    EXPECT_NE(message.find("(u500, u501, u502"), std::string::npos) << message;
    if (count == kMaxUsers + 7) {
      EXPECT_NE(message.find("u504 и ещё 2)"), std::string::npos) << "five named, the rest counted: " << message;
      EXPECT_EQ(message.find("u505"), std::string::npos) << message;
    }
  }
}

TEST(ConfigCheck, GroupsPastTheTablesSizeAreNamedWithRoomKeptForDefault) {
  auto groupLine = [](std::uint32_t number) {
    GroupRecord group = MakeDefaultGroup();
    group.number = number;
    group.name = "G" + std::to_string(number);
    return GroupKey(number) + "=" + FormatGroupRecord(group) + "\n";
  };
  struct Case {
    std::string name;
    bool defaultFirst;
    size_t others;
    std::string firstLeftOut;  // empty: none
    size_t leftOut;
  } cases[] = {
      {"default and 499", true, kMaxGroups - 1, "", 0},
      {"default and 501", true, kMaxGroups + 1, "G500", 2},
      {"500 without default", false, kMaxGroups, "G500", 1},
      {"502 without default", false, kMaxGroups + 2, "G500", 3},
  };
  for (const Case& c : cases) {
    std::string text = "[Groups]\n";
    if (c.defaultFirst) text += groupLine(0);
    for (std::uint32_t n = 1; n <= c.others; ++n) text += groupLine(n);
    std::vector<std::string> loaded = Loaded(text, true);
    ASSERT_EQ(loaded.size(), std::min(kMaxGroups, c.others + 1)) << c.name;
    std::vector<ConfigProblem> problems = CheckConfiguration(text);
    if (c.leftOut == 0) {
      EXPECT_TRUE(problems.empty()) << c.name << ": " << problems[0].message;
      continue;
    }
    ASSERT_EQ(problems.size(), 1u) << c.name;
    EXPECT_EQ(problems[0].key, GroupKey(std::stoul(c.firstLeftOut.substr(1)))) << c.name;
    EXPECT_EQ(std::find(loaded.begin(), loaded.end(), c.firstLeftOut), loaded.end()) << c.name << ": really left out";
    EXPECT_NE(problems[0].message.find(" " + std::to_string(c.leftOut) + " (" + c.firstLeftOut), std::string::npos)
        << c.name << ": " << problems[0].message;
  }
}

}  // namespace
}  // namespace brindlex

namespace brindlex {
namespace {

TEST(ConfigCheck, MetricsAddressIsAnAddressInDigitsAndAPort) {
  for (const char* good : {"", "127.0.0.1:9469", "0.0.0.0:1", "192.168.0.1:65535"}) {
    std::string text = std::string("[System]\r\nMetricsAddress=") + good + "\r\n";
    for (const ConfigProblem& p : CheckConfiguration(text)) ADD_FAILURE() << good << ": " << p.message;
  }
  for (const char* bad : {"localhost:9469", "127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536",
                          "127.0.0.1:+80", ":9469", "127.0.0.1:9469:1", "127.0.0.256:80", "9469"}) {
    std::string text = std::string("[System]\r\nMetricsAddress=") + bad + "\r\n";
    std::vector<ConfigProblem> problems = CheckConfiguration(text);
    ASSERT_EQ(problems.size(), 1u) << bad;
    EXPECT_EQ(problems[0].key, "MetricsAddress");
    EXPECT_EQ(problems[0].line, 2);
    EXPECT_NE(problems[0].message.find(bad), std::string::npos) << problems[0].message;
  }
  std::uint32_t address = 0;
  int port = 0;
  ASSERT_TRUE(ParseAddressAndPort("10.1.2.3:9469", address, port));
  EXPECT_EQ(address, 0x0A010203u);
  EXPECT_EQ(port, 9469);
}

}  // namespace
}  // namespace brindlex
