#include "app/account_arguments.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindlex {
namespace {

AccountCommand Parsed(const std::vector<std::string>& arguments) {
  AccountArguments parsed = ParseAccountArguments(arguments);
  EXPECT_TRUE(parsed.command.has_value()) << parsed.mistake;
  return parsed.command.value_or(AccountCommand{});
}

std::string Mistake(const std::vector<std::string>& arguments) {
  AccountArguments parsed = ParseAccountArguments(arguments);
  EXPECT_FALSE(parsed.command.has_value());
  EXPECT_FALSE(parsed.mistake.empty());
  return parsed.mistake;
}

TEST(AccountArguments, OnlyTheThreeTargetWordsAreAccountCommands) {
  EXPECT_TRUE(IsAccountTarget("user"));
  EXPECT_TRUE(IsAccountTarget("group"));
  EXPECT_TRUE(IsAccountTarget("ticket"));
  EXPECT_FALSE(IsAccountTarget("users"));
  EXPECT_FALSE(IsAccountTarget("--check"));
  EXPECT_FALSE(IsAccountTarget(""));
}

TEST(AccountArguments, UserAddReadsEveryOptionInBothForms) {
  AccountCommand c = Parsed({"user", "add", "bob", "--password", "pw", "--name=Bob Smith", "--group", "Office",
                             "--daily-limit", "5.5", "--monthly-limit=100", "--disabled"});
  EXPECT_EQ(c.target, AccountTarget::User);
  EXPECT_EQ(c.action, AccountAction::Add);
  EXPECT_EQ(c.subject, "bob");
  EXPECT_EQ(c.options.password, "pw");
  EXPECT_EQ(c.options.name, "Bob Smith");
  EXPECT_EQ(c.options.group, "Office");
  EXPECT_EQ(c.options.dayMb, 5.5);
  EXPECT_EQ(c.options.monthMb, 100.0);
  EXPECT_TRUE(c.options.disabled);
  EXPECT_FALSE(c.options.byAddress);
}

TEST(AccountArguments, OptionsNotGivenStayEmpty) {
  AccountCommand c = Parsed({"user", "set", "bob", "--daily-limit", "0"});
  EXPECT_EQ(c.action, AccountAction::Set);
  EXPECT_EQ(c.options.dayMb, 0.0) << "0 is given: it lifts the limit";
  EXPECT_FALSE(c.options.monthMb.has_value());
  EXPECT_FALSE(c.options.password.has_value());
  EXPECT_FALSE(c.options.name.has_value());
  EXPECT_FALSE(c.options.group.has_value());
}

TEST(AccountArguments, AnEmptyValueIsAValue) {
  AccountCommand c = Parsed({"user", "add", "10.0.0.5", "--ip", "--password="});
  EXPECT_TRUE(c.options.byAddress);
  EXPECT_EQ(c.options.password, "");
}

TEST(AccountArguments, EveryCommandWordMapsToItsAction) {
  struct Case {
    std::vector<std::string> arguments;
    AccountTarget target;
    AccountAction action;
    std::string subject;
  } cases[] = {
      {{"user", "disable", "bob"}, AccountTarget::User, AccountAction::Disable, "bob"},
      {{"user", "enable", "bob"}, AccountTarget::User, AccountAction::Enable, "bob"},
      {{"user", "delete", "bob"}, AccountTarget::User, AccountAction::Delete, "bob"},
      {{"user", "list"}, AccountTarget::User, AccountAction::List, ""},
      {{"group", "add", "Office"}, AccountTarget::Group, AccountAction::Add, "Office"},
      {{"group", "set", "3"}, AccountTarget::Group, AccountAction::Set, "3"},
      {{"group", "delete", "Office"}, AccountTarget::Group, AccountAction::Delete, "Office"},
      {{"group", "list"}, AccountTarget::Group, AccountAction::List, ""},
      {{"ticket", "open", "bob"}, AccountTarget::Ticket, AccountAction::Open, "bob"},
      {{"ticket", "close", "bob"}, AccountTarget::Ticket, AccountAction::Close, "bob"},
      {{"ticket", "list"}, AccountTarget::Ticket, AccountAction::List, ""},
  };
  for (const Case& c : cases) {
    AccountCommand command = Parsed(c.arguments);
    EXPECT_EQ(command.target, c.target) << c.arguments[0] << " " << c.arguments[1];
    EXPECT_EQ(command.action, c.action) << c.arguments[0] << " " << c.arguments[1];
    EXPECT_EQ(command.subject, c.subject) << c.arguments[0] << " " << c.arguments[1];
  }
}

TEST(AccountArguments, TicketAmountsStayTextsForTheSubscriptionToConvert) {
  AccountCommand c = Parsed({"ticket", "open", "bob", "--outgoing", "10", "--incoming=20.5", "--minutes", "60",
                             "--money", "abc", "--national-money", "7"});
  EXPECT_EQ(c.options.ticket.outgoingMb, "10");
  EXPECT_EQ(c.options.ticket.incomingMb, "20.5");
  EXPECT_EQ(c.options.ticket.minutes, "60");
  EXPECT_EQ(c.options.ticket.money, "abc") << "the subscription's own check refuses it";
  EXPECT_EQ(c.options.ticket.nationalMoney, "7");
  EXPECT_EQ(Parsed({"ticket", "open", "bob"}).options.ticket.outgoingMb, "");
}

TEST(AccountArguments, UsageMistakesNameWhatIsWrong) {
  EXPECT_NE(Mistake({"user"}).find("needs a command"), std::string::npos);
  EXPECT_NE(Mistake({"user", "rename", "bob"}).find("'user rename' is not a command"), std::string::npos);
  EXPECT_NE(Mistake({"user", "add"}).find("needs a login"), std::string::npos);
  EXPECT_NE(Mistake({"user", "add", "--password", "pw"}).find("needs a login"), std::string::npos);
  EXPECT_NE(Mistake({"group", "delete"}).find("needs a group"), std::string::npos);
  EXPECT_NE(Mistake({"user", "add", "bob", "--password"}).find("--password needs a value"), std::string::npos);
  EXPECT_NE(Mistake({"user", "add", "bob", "--ip=1"}).find("--ip takes no value"), std::string::npos);
  EXPECT_NE(Mistake({"user", "add", "bob", "--colour", "red"}).find("--colour is not an option"), std::string::npos);
  EXPECT_NE(Mistake({"user", "add", "bob", "extra"}).find("'extra' is not understood"), std::string::npos);
  EXPECT_NE(Mistake({"user", "list", "bob"}).find("'bob' is not understood"), std::string::npos);
  EXPECT_NE(Mistake({"user", "add", "bob", "--name", "a", "--name", "b"}).find("--name is given twice"),
            std::string::npos);
  for (const char* limit : {"-1", "abc", "5MB", "", "inf", "nan"})
    EXPECT_NE(Mistake({"user", "add", "bob", "--daily-limit", limit}).find("not a number of megabytes"),
              std::string::npos)
        << limit;
}

TEST(AccountArguments, EachCommandTakesOnlyItsOwnOptions) {
  EXPECT_NE(Mistake({"user", "set", "bob", "--ip"}).find("not an option of 'user set'"), std::string::npos)
      << "the identification kind is not the editor's to change";
  EXPECT_NE(Mistake({"user", "disable", "bob", "--password", "x"}).find("not an option"), std::string::npos);
  EXPECT_NE(Mistake({"group", "add", "Office", "--password", "x"}).find("not an option"), std::string::npos);
  EXPECT_NE(Mistake({"ticket", "open", "bob", "--daily-limit", "5"}).find("not an option"), std::string::npos);
  EXPECT_NE(Mistake({"user", "add", "bob", "--outgoing", "5"}).find("not an option"), std::string::npos);
}

TEST(AccountArguments, TheUsageListsEveryCommandAndOption) {
  std::string usage = AccountUsage();
  for (const char* word : {"user add",    "user set",     "user disable", "user enable",   "user delete",
                           "user list",   "group add",    "group set",    "group delete",  "group list",
                           "ticket open", "ticket close", "ticket list",  "--password",    "--name",
                           "--group",     "--ip",         "--disabled",   "--daily-limit", "--monthly-limit",
                           "--outgoing",  "--incoming",   "--minutes",    "--money",       "--national-money"})
    EXPECT_NE(usage.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace brindlex
