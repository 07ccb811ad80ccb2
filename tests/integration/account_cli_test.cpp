// The accounts commands of the real executable: users, groups and
// subscriptions changed from the command line, a running gateway told to
// re-read the file, and every refusal leaving the file exactly as it was.
#include <signal.h>

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "core/ini_file.h"
#include "core/strings.h"
#include "core/users.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs "brindlex ARGUMENTS" on the program folder; both streams apart.
CliRun Cli(const std::string& home, const std::vector<std::string>& arguments) {
  std::string command = "BRINDLEX_HOME=" + Quoted(home) + " " + Quoted(BRINDLEX_BINARY);
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  std::string errors = home + "/cli-stderr.txt";
  CliRun run;
  run.out = RunProgram("{ " + command + " 2>" + Quoted(errors) + "; }", &run.code);
  run.err = ReadFile(errors);
  std::remove(errors.c_str());
  return run;
}

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

// The stored user record, parsed; login empty when the file has none.
UserRecord StoredUser(const std::string& home, const std::string& login) {
  UserRecord user;
  IniDocument settings = LoadIniFile(home + "/Brindlex.ini");
  const std::string* value = FindValue(settings, kUsersSection, login);
  if (value) {
    ParseUserRecord(*value, user);
    user.login = login;
  }
  return user;
}

// curl's status code for the page as this user, retried until it is
// `expected` or five seconds pass: the gateway re-reads the file on its own
// thread after SIGHUP.
std::string StatusBecomes(const ProxyGateway& gateway, const std::string& url, const std::string& credentials,
                          const std::string& expected) {
  std::string status;
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  do {
    int rc = 0;
    status = Curl(gateway.Proxy(), url, &rc, "-o /dev/null -w '%{http_code}' -U " + credentials);
    if (status == expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < until);
  return status;
}

class AccountCliTest : public ::testing::Test {
 protected:
  void TearDown() override { RemoveFolder(home_); }
  std::string home_;
};

TEST_F(AccountCliTest, AnAddedUserFetchesIsRefusedOnceDisabledAndIsGoneOnceDeleted) {
  NginxOrigin origin;
  ASSERT_TRUE(origin.Start());
  origin.Serve("page.html", "hello from the origin");
  std::string url = "http://127.0.0.1:" + std::to_string(origin.port()) + "/page.html";
  ProxyGateway gateway("");
  ASSERT_TRUE(gateway.started) << gateway.process->Output();
  std::string sent = "Sent SIGHUP to the gateway (pid " + std::to_string(gateway.process->pid()) + ")";

  CliRun run = Cli(gateway.home, {"user", "add", "bob", "--password", "pw", "--name", "Bob Smith", "--daily-limit", "5",
                                  "--monthly-limit", "100"});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, sent)) << run.out;
  UserRecord stored = StoredUser(gateway.home, "bob");
  EXPECT_EQ(stored.password, "pw");
  EXPECT_EQ(stored.name, "Bob Smith");
  EXPECT_EQ(stored.rules.dayMb, 5);
  EXPECT_EQ(stored.rules.monthMb, 100);
  EXPECT_FALSE(stored.disabled);

  EXPECT_EQ(StatusBecomes(gateway, url, "bob:pw", "200"), "200") << "the reload serves the new user";

  run = Cli(gateway.home, {"user", "disable", "bob"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, sent)) << run.out;
  EXPECT_TRUE(StoredUser(gateway.home, "bob").disabled);
  EXPECT_EQ(StatusBecomes(gateway, url, "bob:pw", "407"), "407") << "a disabled user is refused after the reload";

  run = Cli(gateway.home, {"user", "enable", "bob"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(StatusBecomes(gateway, url, "bob:pw", "200"), "200");

  run = Cli(gateway.home, {"user", "set", "bob", "--password", "new"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(StatusBecomes(gateway, url, "bob:new", "200"), "200") << "the new password works after the reload";
  EXPECT_EQ(StatusBecomes(gateway, url, "bob:pw", "407"), "407") << "the old one no longer does";
  EXPECT_EQ(StoredUser(gateway.home, "bob").rules.dayMb, 5) << "what was not given stays";

  ASSERT_TRUE(Contains(Cli(gateway.home, {"user", "list"}).out, "\nbob\tBob Smith\tDefault\tlogin\tenabled\t5\t100\n"));
  run = Cli(gateway.home, {"user", "delete", "bob"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(StoredUser(gateway.home, "bob").login.empty());
  EXPECT_EQ(StatusBecomes(gateway, url, "bob:new", "407"), "407") << "a deleted user is refused after the reload";
  run = Cli(gateway.home, {"user", "list"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "login\tname\tgroup\tidentified by\tstate\tday MB\tmonth MB\n");
  EXPECT_EQ(gateway.process->Stop(SIGTERM), 0) << "the gateway ran on through every reload";
}

TEST_F(AccountCliTest, WithoutAGatewayTheChangeWaitsForTheNextStart) {
  home_ = MakeProgramFolder("[System]\r\nHttpPort=8080\r\n");
  CliRun run = Cli(home_, {"user", "add", "10.1.2.3", "--ip", "--disabled", "--name", "Printer"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "No gateway is running on " + home_ + ": the change applies at its next start."))
      << run.out;
  EXPECT_EQ(run.err, "");
  UserRecord stored = StoredUser(home_, "10.1.2.3");
  EXPECT_TRUE(stored.byAddress);
  EXPECT_TRUE(stored.disabled);
  EXPECT_EQ(Cli(home_, {"user", "list"}).out,
            "login\tname\tgroup\tidentified by\tstate\tday MB\tmonth MB\n"
            "10.1.2.3\tPrinter\tDefault\taddress\tdisabled\t0\t0\n");
}

TEST_F(AccountCliTest, GroupsAreAddedChangedAndDeletedAndUsersMoveBetweenThem) {
  home_ = MakeProgramFolder("[System]\r\nHttpPort=8080\r\n");
  CliRun run = Cli(home_, {"group", "add", "Office", "--daily-limit", "50"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Group Office added with number 1.")) << run.out;
  ASSERT_EQ(Cli(home_, {"user", "add", "bob", "--password", "pw", "--group", "Office"}).code, 0);
  EXPECT_EQ(StoredUser(home_, "bob").groupNumber, 1u);
  EXPECT_EQ(StoredUser(home_, "bob").rules.dayMb, 50) << "a new user starts with his group's rules";
  run = Cli(home_, {"group", "set", "Office", "--name", "Sales", "--monthly-limit", "9"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(Cli(home_, {"group", "list"}).out,
            "number\tname\tusers\tday MB\tmonth MB\n"
            "0\tDefault\t0\t0\t0\n"
            "1\tSales\t1\t50\t9\n");
  ASSERT_EQ(Cli(home_, {"user", "set", "bob", "--group", "0"}).code, 0) << "a group by its number";
  EXPECT_EQ(StoredUser(home_, "bob").groupNumber, 0u);
  run = Cli(home_, {"group", "delete", "Sales"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(FindValue(LoadIniFile(home_ + "/Brindlex.ini"), "Groups", "00000001"), nullptr);
  EXPECT_EQ(Cli(home_, {"group", "list"}).out, "number\tname\tusers\tday MB\tmonth MB\n0\tDefault\t1\t0\t0\n");
}

TEST_F(AccountCliTest, SubscriptionsAreOpenedToppedUpAndClosedButNotBesideARunningGateway) {
  int port = FreePort();
  home_ = MakeProgramFolder("[System]\r\nHttpPort=" + std::to_string(port) + "\r\n");
  ASSERT_EQ(Cli(home_, {"user", "add", "pre", "--password", "pw"}).code, 0);
  CliRun run = Cli(home_, {"ticket", "open", "pre", "--outgoing", "10", "--minutes", "30"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "OPEN_TICKET, pre, ")) << run.out;
  ASSERT_EQ(Cli(home_, {"ticket", "open", "pre", "--outgoing=5"}).code, 0);
  EXPECT_EQ(Cli(home_, {"ticket", "list"}).out,
            "login\tnumber\toutgoing MB\tincoming MB\ttime\tmoney\tnational money\n"
            "pre\t1\t0/15\t0/-\t0:00:00/0:30:00\t0/-\t0/-\n");
  run = Cli(home_, {"ticket", "close", "pre"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "CLOSE_TICKET, pre, ")) << run.out;
  EXPECT_EQ(Cli(home_, {"ticket", "list"}).out,
            "login\tnumber\toutgoing MB\tincoming MB\ttime\tmoney\tnational money\n");
  std::string log = ReadFile(home_ + "/Logging/Brindlex.lgt");
  EXPECT_TRUE(Contains(log, "OPEN_TICKET, pre, ") && Contains(log, "ADD_TICKET, pre, ") &&
              Contains(log, "CLOSE_TICKET, pre, "))
      << log;

  GatewayProcess gateway(home_);
  gateway.Start();
  ASSERT_TRUE(gateway.WaitForOutput(HttpOpenLine(port))) << gateway.Output();
  std::string before = ReadFile(home_ + "/Brindlex.ini");
  run = Cli(home_, {"ticket", "open", "pre", "--outgoing", "10"});
  EXPECT_EQ(run.code, 1);
  EXPECT_TRUE(Contains(run.err, "(pid " + std::to_string(gateway.pid()) + "); it keeps the subscriptions in memory"))
      << run.err;
  EXPECT_EQ(ReadFile(home_ + "/Brindlex.ini"), before);
  EXPECT_EQ(gateway.Stop(), 0);
}

TEST_F(AccountCliTest, EveryRefusalPrintsItsMessageExitsOneAndLeavesTheFileByteForByte) {
  home_ = MakeProgramFolder("[System]\r\nHttpPort=8080\r\n");
  ASSERT_EQ(Cli(home_, {"group", "add", "Office"}).code, 0);
  ASSERT_EQ(Cli(home_, {"user", "add", "bob", "--password", "pw", "--group", "Office"}).code, 0);
  std::string before = ReadFile(home_ + "/Brindlex.ini");
  auto oneLine = [](std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n")) text.replace(at, 2, " ");
    return text;
  };

  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{"user", "add", "BOB", "--password", "x"}, Str(1163)},
      {{"user", "add", "carol", "--name", "Carol, Jr"}, Str(1165)},
      {{"user", "add", "a=b"}, Str(1166)},
      {{"user", "add", " "}, Str(1162)},
      {{"user", "add", "300.1.2.3", "--ip"}, Str(781)},
      {{"user", "add", "carol", "--group", "Nowhere"}, "there is no group 'Nowhere'"},
      {{"user", "set", "bob", "--password", "changed", "--group", "Nowhere"}, "there is no group 'Nowhere'"},
      {{"user", "set", "bob", "--name", "x;y"}, Str(1165)},
      {{"user", "set", "nobody", "--password", "x"}, "there is no user 'nobody'"},
      {{"user", "disable", "nobody"}, "there is no user 'nobody'"},
      {{"user", "delete", "nobody"}, "there is no user 'nobody'"},
      {{"group", "add", "A,B"}, Str(1165)},
      {{"group", "add", "Office"}, "a group named 'Office' already exists"},
      {{"group", "set", "Office", "--name", "Default"}, "a group named 'Default' already exists"},
      {{"group", "set", "Office", "--name", "A;B"}, Str(1165)},
      {{"group", "delete", "Default"}, Str(1180)},
      {{"group", "delete", "Office"}, oneLine(Str(1181))},
      {{"group", "delete", "7"}, "there is no group '7'"},
      {{"ticket", "open", "bob", "--money", "abc"}, Str(780) + ": \"abc\"- " + Str(782)},
      {{"ticket", "open", "nobody"}, "there is no user 'nobody'"},
      {{"ticket", "close", "bob"}, "the user 'bob' has no open subscription"},
  };
  for (const Case& c : cases) {
    CliRun run = Cli(home_, c.arguments);
    std::string words = c.arguments[0] + " " + c.arguments[1] + " " + c.arguments[2];
    EXPECT_EQ(run.code, 1) << words << "\n" << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "brindlex: ") && Contains(run.err, c.message)) << words << "\n" << run.err;
    EXPECT_FALSE(Contains(run.out, "SIGHUP") || Contains(run.out, "next start")) << words << "\n" << run.out;
    EXPECT_EQ(ReadFile(home_ + "/Brindlex.ini"), before) << words;
  }
}

TEST_F(AccountCliTest, UsageMistakesExitTwoAndChangeNothing) {
  home_ = MakeProgramFolder("[System]\r\nHttpPort=8080\r\n");
  std::string before = ReadFile(home_ + "/Brindlex.ini");
  for (std::vector<std::string> arguments :
       std::vector<std::vector<std::string>>{{"user"},
                                             {"user", "add"},
                                             {"user", "add", "bob", "--colour", "red"},
                                             {"group", "rename", "x"},
                                             {"user", "add", "bob", "--daily-limit", "lots"},
                                             {"ticket", "close"}}) {
    CliRun run = Cli(home_, arguments);
    EXPECT_EQ(run.code, 2) << arguments.size() << run.err;
    EXPECT_TRUE(Contains(run.err, "see brindlex --help")) << run.err;
    EXPECT_EQ(ReadFile(home_ + "/Brindlex.ini"), before);
  }
}

}  // namespace
}  // namespace brindlex::testing
