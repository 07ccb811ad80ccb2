#include "app/account_arguments.h"

#include <cmath>

#include "core/value_codec.h"

namespace brindlex {

namespace {

enum Option : unsigned {
  kPassword = 1u << 0,
  kName = 1u << 1,
  kGroup = 1u << 2,
  kIp = 1u << 3,
  kDisabled = 1u << 4,
  kDailyLimit = 1u << 5,
  kMonthlyLimit = 1u << 6,
  kOutgoing = 1u << 7,
  kIncoming = 1u << 8,
  kMinutes = 1u << 9,
  kMoney = 1u << 10,
  kNationalMoney = 1u << 11,
};
constexpr unsigned kLimits = kDailyLimit | kMonthlyLimit;
constexpr unsigned kAmounts = kOutgoing | kIncoming | kMinutes | kMoney | kNationalMoney;

struct OptionEntry {
  std::string_view name;
  Option option;
  bool takesValue;
};

constexpr OptionEntry kOptions[] = {
    {"password", kPassword, true},
    {"name", kName, true},
    {"group", kGroup, true},
    {"ip", kIp, false},
    {"disabled", kDisabled, false},
    {"daily-limit", kDailyLimit, true},
    {"monthly-limit", kMonthlyLimit, true},
    {"outgoing", kOutgoing, true},
    {"incoming", kIncoming, true},
    {"minutes", kMinutes, true},
    {"money", kMoney, true},
    {"national-money", kNationalMoney, true},
};

struct CommandEntry {
  AccountTarget target;
  std::string_view targetWord;
  AccountAction action;
  std::string_view actionWord;
  std::string_view subject;  // what the word after the command names; empty: none
  unsigned options;
};

using T = AccountTarget;
using A = AccountAction;
constexpr CommandEntry kCommands[] = {
    {T::User, "user", A::Add, "add", "a login", kPassword | kName | kGroup | kIp | kDisabled | kLimits},
    {T::User, "user", A::Set, "set", "a login", kPassword | kName | kGroup | kLimits},
    {T::User, "user", A::Disable, "disable", "a login", 0},
    {T::User, "user", A::Enable, "enable", "a login", 0},
    {T::User, "user", A::Delete, "delete", "a login", 0},
    {T::User, "user", A::List, "list", "", 0},
    {T::Group, "group", A::Add, "add", "a group name", kLimits},
    {T::Group, "group", A::Set, "set", "a group", kName | kLimits},
    {T::Group, "group", A::Delete, "delete", "a group", 0},
    {T::Group, "group", A::List, "list", "", 0},
    {T::Ticket, "ticket", A::Open, "open", "a login", kAmounts},
    {T::Ticket, "ticket", A::Close, "close", "a login", 0},
    {T::Ticket, "ticket", A::List, "list", "", 0},
};

AccountArguments Mistake(std::string text) { return {std::nullopt, std::move(text)}; }

const CommandEntry* FindCommand(std::string_view target, std::string_view action) {
  for (const CommandEntry& entry : kCommands)
    if (entry.targetWord == target && entry.actionWord == action) return &entry;
  return nullptr;
}

const OptionEntry* FindOption(std::string_view name) {
  for (const OptionEntry& entry : kOptions)
    if (entry.name == name) return &entry;
  return nullptr;
}

// A limit in megabytes: one real number, not negative.
bool ReadMegabytes(const std::string& text, std::optional<double>& megabytes) {
  double value = 0;
  if (!ParseWholeReal(text, value) || !std::isfinite(value) || value < 0) return false;
  megabytes = value;
  return true;
}

// Stores one option's value; returns the mistake, or "" when it is stored.
std::string Store(const OptionEntry& entry, const std::string& value, AccountOptions& options) {
  switch (entry.option) {
    case kPassword:
      options.password = value;
      break;
    case kName:
      options.name = value;
      break;
    case kGroup:
      options.group = value;
      break;
    case kIp:
      options.byAddress = true;
      break;
    case kDisabled:
      options.disabled = true;
      break;
    case kDailyLimit:
    case kMonthlyLimit:
      if (!ReadMegabytes(value, entry.option == kDailyLimit ? options.dayMb : options.monthMb))
        return "--" + std::string(entry.name) + ": '" + value + "' is not a number of megabytes (0 = no limit)";
      break;
    case kOutgoing:
      options.ticket.outgoingMb = value;
      break;
    case kIncoming:
      options.ticket.incomingMb = value;
      break;
    case kMinutes:
      options.ticket.minutes = value;
      break;
    case kMoney:
      options.ticket.money = value;
      break;
    case kNationalMoney:
      options.ticket.nationalMoney = value;
      break;
  }
  return {};
}

}  // namespace

bool IsAccountTarget(std::string_view word) { return word == "user" || word == "group" || word == "ticket"; }

AccountArguments ParseAccountArguments(const std::vector<std::string>& arguments) {
  if (arguments.empty() || !IsAccountTarget(arguments[0])) return Mistake("expected user, group or ticket");
  if (arguments.size() < 2) return Mistake("'" + arguments[0] + "' needs a command");
  const CommandEntry* entry = FindCommand(arguments[0], arguments[1]);
  if (!entry) return Mistake("'" + arguments[0] + " " + arguments[1] + "' is not a command");
  std::string words = arguments[0] + " " + arguments[1];

  AccountCommand command;
  command.target = entry->target;
  command.action = entry->action;
  size_t i = 2;
  if (!entry->subject.empty()) {
    if (i >= arguments.size() || arguments[i].starts_with("--"))
      return Mistake("'" + words + "' needs " + std::string(entry->subject));
    command.subject = arguments[i++];
  }

  unsigned seen = 0;
  for (; i < arguments.size(); ++i) {
    std::string_view word = arguments[i];
    if (!word.starts_with("--")) return Mistake("'" + arguments[i] + "' is not understood after '" + words + "'");
    word.remove_prefix(2);
    std::optional<std::string> inlineValue;
    if (size_t eq = word.find('='); eq != std::string_view::npos) {
      inlineValue = std::string(word.substr(eq + 1));
      word = word.substr(0, eq);
    }
    std::string name = "--" + std::string(word);
    const OptionEntry* option = FindOption(word);
    if (!option || !(entry->options & option->option)) return Mistake(name + " is not an option of '" + words + "'");
    if (seen & option->option) return Mistake(name + " is given twice");
    seen |= option->option;
    std::string value;
    if (option->takesValue && inlineValue) {
      value = *inlineValue;
    } else if (option->takesValue) {
      if (i + 1 >= arguments.size()) return Mistake(name + " needs a value");
      value = arguments[++i];
    } else if (inlineValue) {
      return Mistake(name + " takes no value");
    }
    std::string mistake = Store(*option, value, command.options);
    if (!mistake.empty()) return Mistake(mistake);
  }
  return {std::move(command), {}};
}

const char* AccountUsage() {
  return "Accounts (the file is changed at once; a running gateway on the same program\n"
         "folder is sent SIGHUP):\n"
         "  user add LOGIN [--password P] [--name N] [--group G] [--ip] [--disabled]\n"
         "                 [--daily-limit MB] [--monthly-limit MB]\n"
         "  user set LOGIN [--password P] [--name N] [--group G]\n"
         "                 [--daily-limit MB] [--monthly-limit MB]\n"
         "  user disable LOGIN | user enable LOGIN | user delete LOGIN | user list\n"
         "  group add NAME [--daily-limit MB] [--monthly-limit MB]\n"
         "  group set GROUP [--name N] [--daily-limit MB] [--monthly-limit MB]\n"
         "  group delete GROUP | group list\n"
         "  ticket open LOGIN [--outgoing MB] [--incoming MB] [--minutes M] [--money X]\n"
         "                    [--national-money X]\n"
         "  ticket close LOGIN | ticket list\n"
         "\n"
         "  --password P       the password (for a user identified by address: his MAC\n"
         "                     address, 12 hex digits, or empty)\n"
         "  --name N           the name shown in logs (no ',' or ';'); for a group, its\n"
         "                     new name\n"
         "  --group G          the group, by name or number (default: Default)\n"
         "  --ip               LOGIN is the user's IPv4 address: identified by address\n"
         "  --disabled         the user is added disabled\n"
         "  --daily-limit MB, --monthly-limit MB\n"
         "                     traffic limits in megabytes; 0 = no limit\n"
         "  --outgoing, --incoming, --minutes, --money, --national-money\n"
         "                     amounts added to the subscription (opened when none is)\n"
         "A refusal (a login taken, a name with ',', a group or user that does not\n"
         "exist) is printed on standard error, the file is left as it was, exit code 1.\n"
         "Subscriptions cannot be changed while a gateway runs: it keeps them in memory.\n";
}

}  // namespace brindlex
