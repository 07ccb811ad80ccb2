#include "app/account_cli.h"

#include <signal.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/startup.h"
#include "core/account_editor.h"
#include "core/display_forms.h"
#include "core/ini_file.h"
#include "core/program_folder.h"
#include "core/settings.h"
#include "core/subscriptions.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;

// What a command did: its exit code and whether it changed the file.
struct Result {
  int code = kDone;
  bool changed = false;
};

// " (pid N)" for a holder whose pid is known.
std::string HolderText(pid_t holder) { return holder > 0 ? " (pid " + std::to_string(holder) + ")" : std::string(); }

// Tells the gateway holding the folder's instance lock to re-read the file.
void NotifyGateway(const std::string& folder, std::FILE* out, std::FILE* err) {
  pid_t holder = InstanceLockHolder(folder);
  if (holder == 0) {
    std::fprintf(out, "No gateway is running on %s: the change applies at its next start.\n", folder.c_str());
  } else if (holder == kInstanceHolderUnknown) {
    std::fprintf(err, "brindlex: a gateway runs on %s but its pid cannot be seen from here: send it SIGHUP\n",
                 folder.c_str());
  } else if (::kill(holder, SIGHUP) != 0) {
    std::fprintf(err, "brindlex: the gateway (pid %d) could not be sent SIGHUP: %s\n", static_cast<int>(holder),
                 std::strerror(errno));
  } else {
    std::fprintf(out, "Sent SIGHUP to the gateway (pid %d): it re-reads the file.\n", static_cast<int>(holder));
  }
}

class Runner {
 public:
  Runner(const std::string& folder, std::FILE* out, std::FILE* err) : folder_(folder), out_(out), err_(err) {}

  Result Run(const AccountCommand& command) {
    switch (command.target) {
      case AccountTarget::User:
        return RunUser(command);
      case AccountTarget::Group:
        return RunGroup(command);
      case AccountTarget::Ticket:
        return RunTicket(command);
    }
    return Refuse("the command is not known");
  }

 private:
  Result Refuse(const std::string& text) {
    std::fprintf(err_, "brindlex: %s\n", text.c_str());
    return Result{kRefused, false};
  }

  // The editor's box as one line: its caption, then its text.
  Result Refuse(const EditOutcome& outcome) {
    std::string text = outcome.caption.empty() ? outcome.message : outcome.caption + ": " + outcome.message;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.replace(at, 2, " ");
    return Refuse(text);
  }

  Result Done(const std::string& text) {
    std::fprintf(out_, "%s\n", text.c_str());
    return Result{kDone, true};
  }

  // ---- users ----

  Result RunUser(const AccountCommand& command) {
    if (command.action == AccountAction::List) return ListUsers();
    if (command.action == AccountAction::Add) return AddUser(command.subject, command.options);
    UserRecord* user = FindActiveUser(Trim(command.subject));
    if (!user) return Refuse("there is no user '" + command.subject + "'");
    switch (command.action) {
      case AccountAction::Set:
        return SetUser(*user, command.options);
      case AccountAction::Disable:
      case AccountAction::Enable: {
        UserRecord edited = *user;
        edited.disabled = command.action == AccountAction::Disable;
        EditOutcome saved = SaveUser(*user, edited);
        if (!saved.ok) return Refuse(saved);
        return Done("User " + user->login + (user->disabled ? " disabled." : " enabled."));
      }
      case AccountAction::Delete: {
        EditOutcome deleted = DeleteUser(*user);
        if (!deleted.ok) return Refuse(deleted);
        return Done("User " + user->login + " deleted.");
      }
      default:
        return Refuse("the command is not known");
    }
  }

  static void ApplyLimits(const AccountOptions& options, AccessRules& rules) {
    if (options.dayMb) rules.dayMb = *options.dayMb;
    if (options.monthMb) rules.monthMb = *options.monthMb;
  }

  Result AddUser(const std::string& login, const AccountOptions& options) {
    GroupRecord* group = options.group ? FindGroupNamed(*options.group) : FindGroup(0);
    if (!group) return Result{kRefused, false};
    UserRecord draft = NewUserDraft(*group);
    draft.login = login;
    draft.byAddress = options.byAddress;
    draft.disabled = options.disabled;
    if (options.password) draft.password = *options.password;
    if (options.name) draft.name = *options.name;
    ApplyLimits(options, draft.rules);
    UserRecord* created = nullptr;
    EditOutcome added = ApplyNewUser(draft, &created);
    if (!added.ok) return Refuse(added);
    return Done("User " + created->login + " added to group " + group->name + ".");
  }

  Result SetUser(UserRecord& user, const AccountOptions& options) {
    // The group is found before anything is written, so that a group that
    // does not exist leaves the whole change undone.
    GroupRecord* target = nullptr;
    if (options.group && !(target = FindGroupNamed(*options.group))) return Result{kRefused, false};
    UserRecord edited = user;
    if (options.password) edited.password = *options.password;
    if (options.name) edited.name = *options.name;
    ApplyLimits(options, edited.rules);
    EditOutcome saved = SaveUser(user, edited);
    if (!saved.ok) return Refuse(saved);
    if (target && target->number != user.groupNumber) MoveUserToGroup(user, *target);
    return Done("User " + user.login + " saved.");
  }

  Result ListUsers() {
    std::fprintf(out_, "login\tname\tgroup\tidentified by\tstate\tday MB\tmonth MB\n");
    for (const auto& user : Users()) {
      if (user->deleted) continue;
      std::fprintf(out_, "%s\t%s\t%s\t%s\t%s\t%s\t%s\n", user->login.c_str(), user->name.c_str(),
                   user->group ? user->group->name.c_str() : "", user->byAddress ? "address" : "login",
                   user->disabled ? "disabled" : "enabled", FormatNumberText(user->rules.dayMb).c_str(),
                   FormatNumberText(user->rules.monthMb).c_str());
    }
    return Result{};
  }

  // ---- groups ----

  // The group with this name; else, for a number, the group with that number.
  // A name that several groups share is refused: which one is meant is not
  // known. Prints the refusal itself.
  GroupRecord* FindGroupNamed(const std::string& nameOrNumber) {
    std::vector<GroupRecord*> named;
    for (const auto& group : Groups())
      if (group->name == nameOrNumber) named.push_back(group.get());
    if (named.size() == 1) return named.front();
    if (named.size() > 1) {
      Refuse("several groups are named '" + nameOrNumber + "': give the group's number");
      return nullptr;
    }
    std::int64_t number = 0;
    if (ParseWholeInt(nameOrNumber, number) && number >= 0 && number <= UINT32_MAX)
      if (GroupRecord* group = FindGroup(static_cast<std::uint32_t>(number))) return group;
    Refuse("there is no group '" + nameOrNumber + "'");
    return nullptr;
  }

  Result RunGroup(const AccountCommand& command) {
    if (command.action == AccountAction::List) return ListGroups();
    if (command.action == AccountAction::Add) return AddGroup(command.subject, command.options);
    GroupRecord* group = FindGroupNamed(command.subject);
    if (!group) return Result{kRefused, false};
    if (command.action == AccountAction::Set) {
      const std::optional<std::string>& name = command.options.name;
      if (name && *name != group->name && NameTaken(*name)) return Refuse(NameTakenText(*name));
      GroupRecord edited = *group;
      if (command.options.name) edited.name = *command.options.name;
      ApplyLimits(command.options, edited.rules);
      EditOutcome saved = SaveGroup(*group, edited);
      if (!saved.ok) return Refuse(saved);
      return Done("Group " + group->name + " saved.");
    }
    EditOutcome allowed = CheckGroupDeletion(*group);
    if (!allowed.ok) return Refuse(allowed);
    std::string name = group->name;
    if (!DeleteGroup(group->number)) return Refuse("the group '" + name + "' could not be deleted");
    return Done("Group " + name + " deleted.");
  }

  // Groups are found by name here, so no two may share one.
  static bool NameTaken(const std::string& name) {
    for (const auto& group : Groups())
      if (group->name == name) return true;
    return false;
  }
  static std::string NameTakenText(const std::string& name) { return "a group named '" + name + "' already exists"; }

  Result AddGroup(const std::string& name, const AccountOptions& options) {
    if (NameTaken(name)) return Refuse(NameTakenText(name));
    GroupRecord draft = NewGroupDraft();
    draft.name = name;
    ApplyLimits(options, draft.rules);
    GroupRecord* created = nullptr;
    EditOutcome added = ApplyNewGroup(draft, &created);
    if (!added.ok) return Refuse(added);
    return Done("Group " + created->name + " added with number " + std::to_string(created->number) + ".");
  }

  Result ListGroups() {
    std::fprintf(out_, "number\tname\tusers\tday MB\tmonth MB\n");
    for (const auto& group : Groups()) {
      int members = 0;
      for (const auto& user : Users())
        if (!user->deleted && user->groupNumber == group->number) ++members;
      std::fprintf(out_, "%u\t%s\t%d\t%s\t%s\n", group->number, group->name.c_str(), members,
                   FormatNumberText(group->rules.dayMb).c_str(), FormatNumberText(group->rules.monthMb).c_str());
    }
    return Result{};
  }

  // ---- subscriptions ----

  Result RunTicket(const AccountCommand& command) {
    if (command.action == AccountAction::List) return ListTickets();
    // The gateway charges subscriptions in memory and saves them every few
    // seconds: it would write its own copy over any change made here.
    if (pid_t holder = InstanceLockHolder(folder_))
      return Refuse("a gateway is running on " + folder_ + HolderText(holder) +
                    "; it keeps the subscriptions in memory: stop it first");
    UserRecord* user = FindActiveUser(Trim(command.subject));
    if (!user) return Refuse("there is no user '" + command.subject + "'");
    if (command.action == AccountAction::Open) {
      TicketEntry entry = command.options.ticket;
      SubscriptionOutcome applied = ApplySubscription(*user, entry, false);
      if (!applied.edit.ok) return Refuse(applied.edit);
      return Done(applied.monitorText);
    }
    SubscriptionOutcome closed = CloseSubscription(*user);
    if (closed.event.empty()) return Refuse("the user '" + user->login + "' has no open subscription");
    return Done(closed.monitorText);
  }

  static std::string Amount(std::int64_t used, std::int64_t limit, std::string (*format)(std::int64_t)) {
    return format(used) + "/" + (limit == 0 ? std::string("-") : format(limit));
  }
  static std::string Megabytes(std::int64_t bytes) { return FormatTraffic(bytes, TrafficUnit::Mb); }

  Result ListTickets() {
    std::fprintf(out_, "login\tnumber\toutgoing MB\tincoming MB\ttime\tmoney\tnational money\n");
    for (const auto& user : Users()) {
      if (user->deleted || !user->ticket.open) continue;
      const TicketRecord& t = user->ticket;
      std::fprintf(out_, "%s\t%d\t%s\t%s\t%s\t%s\t%s\n", user->login.c_str(), t.number,
                   Amount(t.used.outgoing, t.limit.outgoing, Megabytes).c_str(),
                   Amount(t.used.incoming, t.limit.incoming, Megabytes).c_str(),
                   Amount(t.used.timeMs, t.limit.timeMs, FormatMilliseconds).c_str(),
                   Amount(t.used.money, t.limit.money, FormatMoney).c_str(),
                   Amount(t.used.nationalMoney, t.limit.nationalMoney, FormatMoney).c_str());
    }
    return Result{};
  }

  const std::string& folder_;
  std::FILE* out_;
  std::FILE* err_;
};

}  // namespace

int RunAccountCommand(const AccountCommand& command, std::FILE* out, std::FILE* err) {
  int stepMarker = 0;
  LoadSettingsFile(stepMarker);
  Result result = Runner(ProgramFolder(), out, err).Run(command);
  if (result.changed) NotifyGateway(ProgramFolder(), out, err);
  return result.code;
}

}  // namespace brindlex
