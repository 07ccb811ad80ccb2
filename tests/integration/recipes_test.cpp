// The recipes of docs/configuration.md do what their text says: each block
// marked "<!-- recipe: name -->" is taken from the document as it stands,
// written into a program folder of its own and tried with curl through the
// real gateway. The recipes speak of the LAN 192.168.0.0/24; here loopback
// plays it (192.168.0.x becomes 127.0.0.x), and curl picks its source address
// with --interface. Also the commented example configuration in docs/.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/config_check.h"
#include "core/ini_file.h"
#include "core/log_files.h"
#include "tests/integration/harness.h"
#include "tests/integration/origin.h"

namespace brindlex::testing {
namespace {

using Seconds = std::chrono::duration<double>;

const std::string kDocument = std::string(BRINDLEX_SOURCE_DIR) + "/docs/configuration.md";

// Every recipe block of the document by name: the lines between the fence
// that follows the marker and the closing fence.
std::map<std::string, std::string> ReadRecipes() {
  const std::string text = ReadFile(kDocument);
  const std::string marker = "<!-- recipe: ";
  std::map<std::string, std::string> recipes;
  for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
    size_t nameEnd = text.find(" -->\n", at);
    std::string name = text.substr(at + marker.size(), nameEnd - at - marker.size());
    size_t open = nameEnd + 5;
    if (text.compare(open, 7, "```ini\n") != 0) {
      ADD_FAILURE() << "recipe " << name << " is not followed by an ini fence";
      continue;
    }
    size_t body = open + 7;
    size_t close = text.find("\n```\n", body);
    recipes[name] = text.substr(body, close + 1 - body);
  }
  return recipes;
}

// The recipe with the document's LAN moved onto loopback.
std::string OnLoopback(std::string recipe) {
  for (size_t at; (at = recipe.find("192.168.0.")) != std::string::npos;) recipe.replace(at, 10, "127.0.0.");
  return recipe;
}

std::string Bytes(size_t size) {
  std::mt19937 generator(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>('a' + generator() % 26);
  return bytes;
}

// The text of a numbered refusal message as installed.
bool Refused(const std::string& answer, int message) {
  return answer.find(InstalledMessage(message)) != std::string::npos;
}

// The SIGUSR1 figures line of a user ("login: day ..."), or "" when none came.
std::string FiguresOf(GatewayProcess& process, const std::string& login) {
  size_t seen = process.Output().size();
  process.Signal(SIGUSR1);
  std::string marker = "\n" + login + ": day ";
  for (int i = 0; i < 100; ++i) {
    std::string output = "\n" + process.Output().substr(seen);
    size_t at = output.find(marker);
    size_t end = at == std::string::npos ? at : output.find('\n', at + 1);
    if (end != std::string::npos) return output.substr(at + 1, end - at - 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

// The number after `label` in a figures line ("in 1024 (1)" gives 1024).
double Figure(const std::string& figures, const std::string& label) {
  size_t at = figures.find(", " + label + " ");
  return at == std::string::npos ? -1 : std::stod(figures.substr(at + label.size() + 3));
}

class RecipesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { recipes_ = ReadRecipes(); }

  void SetUp() override {
    origin_.Serve("page.html", Bytes(1000));
    origin_.Serve("ads/banner.gif", Bytes(500));
    origin_.Serve("150k.bin", Bytes(150 * 1024));
    origin_.Serve("600k.bin", Bytes(600 * 1024));
    origin_.Serve("1m.bin", Bytes(1024 * 1024));
    origin_.Serve("4m.bin", Bytes(4 * 1024 * 1024));
    ASSERT_TRUE(origin_.Start()) << ReadFile(origin_.folder() + "/error.log");
  }

  // The named recipes on loopback, in one file, after the check found
  // nothing wrong with them.
  static std::string Recipe(const std::string& name) {
    auto found = recipes_.find(name);
    if (found == recipes_.end()) {
      ADD_FAILURE() << "docs/configuration.md has no recipe " << name;
      return "";
    }
    for (const ConfigProblem& problem : CheckConfiguration(found->second))
      ADD_FAILURE() << "recipe " << name << ": " << FormatConfigProblem("Brindlex.ini", problem);
    return OnLoopback(found->second);
  }

  // A gateway on the lines of one or more recipes, a section that stands in
  // several of them made one. The [System] lines join the gateway's own; the
  // origin on 127.0.0.1 is a target users may reach.
  static std::unique_ptr<ProxyGateway> Start(const std::string& recipes) {
    IniDocument document = ParseIni(recipes);
    std::vector<std::pair<std::string, std::string>> sections;
    for (size_t i = 1; i < document.sections.size(); ++i) {
      const IniSection& section = document.sections[i];
      auto same =
          std::find_if(sections.begin(), sections.end(), [&](const auto& s) { return s.first == section.name; });
      if (same == sections.end()) same = sections.insert(sections.end(), {section.name, ""});
      for (const IniLine& line : section.lines) same->second += line.raw + "\r\n";
    }
    std::string systemLines = "EnableLoopbackTargets=1\r\n";
    std::string others;
    for (const auto& [name, lines] : sections) {
      if (name == "System")
        systemLines += lines;
      else
        others += "[" + name + "]\r\n" + lines;
    }
    auto gateway = std::make_unique<ProxyGateway>(systemLines, others);
    EXPECT_TRUE(gateway->started) << gateway->process->Output();
    return gateway;
  }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(origin_.port()) + path; }

  // curl through the gateway from `source`, with credentials when given.
  std::string Fetch(const ProxyGateway& gateway, const std::string& path, const std::string& credentials,
                    const std::string& source = "127.0.0.1", int* exitCode = nullptr, const std::string& options = "") {
    int rc = 0;
    std::string all = options + " --interface " + source + (credentials.empty() ? "" : " -U " + credentials);
    std::string body = Curl(gateway.Proxy(), Url(path), &rc, all);
    if (exitCode) *exitCode = rc;
    return body;
  }
  // The status code of the answer to a request for a small page.
  std::string Status(const ProxyGateway& gateway, const std::string& credentials, const std::string& source) {
    return Fetch(gateway, "/page.html", credentials, source, nullptr, "-o /dev/null -w '%{http_code}'");
  }

  static std::map<std::string, std::string> recipes_;
  NginxOrigin origin_;
};

std::map<std::string, std::string> RecipesTest::recipes_;

TEST_F(RecipesTest, EveryRecipeTheDocumentNamesIsHere) {
  std::vector<std::string> names;
  for (const auto& recipe : recipes_) names.push_back(recipe.first);
  EXPECT_EQ(names, (std::vector<std::string>{"after-quota-speed", "group-tariff", "ip-user", "lan", "login-user",
                                             "mac-user", "prepaid", "url-filter"}));
}

TEST_F(RecipesTest, TheLanIsLetInAndAnyOtherAddressClosedAtOnce) {
  auto gateway = Start(Recipe("lan") + Recipe("login-user"));
  EXPECT_EQ(Fetch(*gateway, "/page.html", "ivan:secret", "127.0.0.1"), Bytes(1000));
  EXPECT_EQ(Fetch(*gateway, "/page.html", "ivan:secret", "127.0.0.200"), Bytes(1000));
  int rc = 0;
  EXPECT_EQ(Fetch(*gateway, "/page.html", "ivan:secret", "127.0.1.1", &rc), "");
  EXPECT_NE(rc, 0) << "127.0.1.1 is outside the LAN: closed without an answer";
}

TEST_F(RecipesTest, TheLoginUserFetchesWithHisPasswordAndIsRefusedOverHisDailyLimit) {
  auto gateway = Start(Recipe("login-user"));
  EXPECT_EQ(Status(*gateway, "ivan:wrong", "127.0.0.1"), "407");
  EXPECT_EQ(Status(*gateway, "", "127.0.0.1"), "407");
  // 10 MB a day: two 4 MB downloads pass, the third crosses the limit.
  EXPECT_EQ(Fetch(*gateway, "/4m.bin", "ivan:secret"), Bytes(4 * 1024 * 1024));
  EXPECT_EQ(Fetch(*gateway, "/4m.bin", "ivan:secret"), Bytes(4 * 1024 * 1024));
  Fetch(*gateway, "/4m.bin", "ivan:secret");
  std::string refused = Fetch(*gateway, "/page.html", "ivan:secret");
  EXPECT_TRUE(Refused(refused, 489)) << refused.substr(0, 300);
  EXPECT_GE(Figure(FiguresOf(*gateway->process, "ivan"), "in"), 10 * 1024) << "KB received today";
}

TEST_F(RecipesTest, TheAddressUserIsRecognisedByHisAddressAlone) {
  auto gateway = Start(Recipe("ip-user"));
  EXPECT_EQ(Fetch(*gateway, "/page.html", "", "127.0.0.10"), Bytes(1000));
  EXPECT_EQ(Status(*gateway, "", "127.0.0.12"), "407") << "another address is nobody";
  EXPECT_GE(Figure(FiguresOf(*gateway->process, "127.0.0.10"), "in"), 0) << "counted as his";
  ASSERT_EQ(gateway->process->Stop(SIGTERM), 0);
  std::string log = ReadFile(gateway->home + "/Logging/" + ConnectionLogName(SystemClock().LocalNow()));
  EXPECT_EQ(log.rfind("HTTP, Reception PC, 127.0.0.10, 127.0.0.10, ", 0), 0u) << log;
}

// Loopback has no ARP table entries, so the MAC can never be confirmed here:
// what can be shown is that the MAC field is what stops the address alone,
// since the same line without it admits that address.
TEST_F(RecipesTest, TheMacCheckedUserIsNotTakenOnHisAddressAlone) {
  const std::string recipe = Recipe("mac-user");
  ASSERT_NE(recipe.find("; 00163e5a1b2c; "), std::string::npos);
  {
    auto gateway = Start(recipe);
    EXPECT_EQ(Status(*gateway, "", "127.0.0.11"), "407");
  }
  std::string withoutMac = recipe;
  withoutMac.replace(withoutMac.find("; 00163e5a1b2c; "), 16, "; ; ");
  auto gateway = Start(withoutMac);
  EXPECT_EQ(Status(*gateway, "", "127.0.0.11"), "200");
}

TEST_F(RecipesTest, TheGroupsTariffChargesItsUserPerMegabyteReceived) {
  auto gateway = Start(Recipe("group-tariff"));
  EXPECT_EQ(Fetch(*gateway, "/1m.bin", "anna:flower"), Bytes(1024 * 1024));
  std::string figures = FiguresOf(*gateway->process, "anna");
  double money = Figure(figures, "money");
  EXPECT_GE(money, 2.0) << figures;
  EXPECT_LT(money, 2.01) << "2.000 per MB, the response head on top: " << figures;
  EXPECT_EQ(Figure(figures, "national"), money) << "at an exchange rate of 1";
}

TEST_F(RecipesTest, AfterHisQuotaTheUserIsSlowedNotRefused) {
  auto gateway = Start(Recipe("after-quota-speed"));
  auto timed = [&](double& seconds) {
    auto start = std::chrono::steady_clock::now();
    std::string body = Fetch(*gateway, "/150k.bin", "petr:tulip");
    seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    return body;
  };
  double seconds = 0;
  EXPECT_EQ(timed(seconds), Bytes(150 * 1024));
  EXPECT_LT(seconds, 150.0 / 48) << "full speed within the quota";
  // Today's log says he already received 6 MB of his 5; the counters are
  // rebuilt from the logs when the gateway starts.
  ASSERT_EQ(gateway->process->Stop(SIGTERM), 0);
  WriteFile(gateway->home + "/Logging/" + SessionLogName(SystemClock().LocalNow()),
            "Petr Ivanov, petr, 127.0.0.1, 01.01.26, 10:00:00, 1000, 6291456, 0, 0, 0\r\n");
  gateway->process = std::make_unique<GatewayProcess>(gateway->home);
  gateway->process->Start();
  ASSERT_TRUE(gateway->process->WaitForOutput(HttpOpenLine(gateway->port)));
  EXPECT_EQ(timed(seconds), Bytes(150 * 1024)) << "not refused";
  double rate = 150 / seconds;
  EXPECT_LT(rate, 32 * 1.5) << seconds << " s";
  EXPECT_GT(rate, 32 / 3.0) << seconds << " s";
}

TEST_F(RecipesTest, TheFilterRefusesItsUrlsToEveryUser) {
  auto gateway = Start(Recipe("url-filter") + Recipe("login-user") + Recipe("ip-user"));
  std::string refused = Fetch(*gateway, "/ads/banner.gif", "ivan:secret");
  EXPECT_TRUE(Refused(refused, 493)) << refused.substr(0, 300);
  refused = Fetch(*gateway, "/ads/banner.gif", "", "127.0.0.10");
  EXPECT_TRUE(Refused(refused, 493)) << refused.substr(0, 300);
  EXPECT_EQ(Fetch(*gateway, "/page.html", "ivan:secret"), Bytes(1000));
}

TEST_F(RecipesTest, ThePrepaidUserWorksUntilHisSubscriptionIsUsedUp) {
  auto gateway = Start(Recipe("prepaid"));
  EXPECT_EQ(Fetch(*gateway, "/600k.bin", "olga:birch"), Bytes(600 * 1024));
  Fetch(*gateway, "/600k.bin", "olga:birch");  // passes 1 MB on the way
  std::string refused = Fetch(*gateway, "/page.html", "olga:birch");
  EXPECT_TRUE(Refused(refused, 497)) << refused.substr(0, 300);
  ASSERT_EQ(gateway->process->Stop(SIGTERM), 0);
  // The amount used is kept with the subscription.
  std::string ticket = IniReadString(gateway->home + "/Brindlex.ini", "Tickets", "olga", "");
  ASSERT_EQ(ticket.rfind("1; ", 0), 0u) << ticket;
  // Number, two dates, five limits, then the amounts used: sent, received...
  size_t usedIncoming = 0;
  for (int field = 0; field < 9 && usedIncoming != std::string::npos; ++field)
    usedIncoming = ticket.find(';', usedIncoming + (field > 0));
  ASSERT_NE(usedIncoming, std::string::npos) << ticket;
  EXPECT_GE(std::stoll(ticket.substr(usedIncoming + 1)), 1024 * 1024) << ticket;

  // Without a subscription the same user is refused from the start.
  std::string recipe = Recipe("prepaid");
  auto without = Start(recipe.substr(0, recipe.find("[Tickets]")));
  refused = Fetch(*without, "/page.html", "olga:birch");
  EXPECT_TRUE(Refused(refused, 497)) << refused.substr(0, 300);
}

TEST_F(RecipesTest, TheExampleConfigurationChecksCleanAndStartsAsItIs) {
  std::string example = ReadFile(std::string(BRINDLEX_SOURCE_DIR) + "/docs/example-brindlex.ini");
  ASSERT_NE(example.find("\nHttpPort=8080\n"), std::string::npos);
  int port = FreePort();
  example.replace(example.find("\nHttpPort=8080\n"), 15, "\nHttpPort=" + std::to_string(port) + "\n");
  std::string home = MakeProgramFolder(example);
  int rc = -1;
  std::string out = RunProgram("BRINDLEX_HOME='" + home + "' '" + BRINDLEX_BINARY + "' --check 2>&1", &rc);
  EXPECT_EQ(rc, 0) << out;
  {
    GatewayProcess gateway(home);
    gateway.Start();
    EXPECT_TRUE(gateway.WaitForOutput(HttpOpenLine(port))) << gateway.Output();
    EXPECT_EQ(gateway.Output().find("Brindlex.ini:"), std::string::npos) << "no problem reported: " << gateway.Output();
    EXPECT_EQ(gateway.Stop(SIGTERM), 0) << gateway.Output();
  }
  RemoveFolder(home);
}

}  // namespace
}  // namespace brindlex::testing
