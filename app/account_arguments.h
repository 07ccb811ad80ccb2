// The words of the accounts commands ("brindlex user add bob --password pw"),
// read into a command without touching any file, so that a mistake in them is
// told apart from a refusal of the editor: the first is a usage error, the
// second a problem with the accounts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/subscriptions.h"

namespace brindlex {

enum class AccountTarget { User, Group, Ticket };
enum class AccountAction { Add, Set, Disable, Enable, Delete, List, Open, Close };

// The options as given; one not given stays empty (or false).
struct AccountOptions {
  std::optional<std::string> password;
  std::optional<std::string> name;   // display name of a user, new name of a group
  std::optional<std::string> group;  // a group's name or number
  bool byAddress = false;            // the login is the user's IPv4 address
  bool disabled = false;
  std::optional<double> dayMb;  // 0 = no limit
  std::optional<double> monthMb;
  TicketEntry ticket;  // texts as typed; the subscription operation converts them
};

struct AccountCommand {
  AccountTarget target = AccountTarget::User;
  AccountAction action = AccountAction::List;
  std::string subject;  // the login or group; empty for list
  AccountOptions options;
};

// Either a command or the usage mistake that stopped the reading.
struct AccountArguments {
  std::optional<AccountCommand> command;
  std::string mistake;
};

// Whether the first argument names an accounts command ("user", "group",
// "ticket").
bool IsAccountTarget(std::string_view word);

// Reads the whole argument list, the target word first. An option is
// "--name VALUE" or "--name=VALUE"; each command takes only its own options
// (AccountUsage lists them), at most once each.
AccountArguments ParseAccountArguments(const std::vector<std::string>& arguments);

// The part of the usage text that lists the accounts commands and options.
const char* AccountUsage();

}  // namespace brindlex
