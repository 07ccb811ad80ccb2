// The configuration check names each plausible mistake by its line and key,
// and says nothing about a file that is right.
#include "core/config_check.h"

#include <gtest/gtest.h>
#include <string>

#include "core/groups.h"
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
      "10.0.0.0/8; 172.16.0.5\r\nCurIdCach=5\r\nHeadTimeout=0\r\n; a comment\r\n[Groups]\r\n" +
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

}  // namespace
}  // namespace brindlex
