// The editing dialogs' and list pages' side of the in-process engine: the
// global filter, the mail relays, the port mappings and the subscriptions,
// each through the operations of its own module.
#include <mutex>

#include "console/local_engine.h"
#include "core/accounting.h"
#include "core/groups.h"
#include "core/monitor.h"
#include "core/own_address.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/url_filter.h"
#include "core/users.h"
#include "mail/mail_rule_editor.h"
#include "net/listener.h"
#include "portmap/port_map_storage.h"

namespace brindlex {

namespace {

// A stored (not deleted) user; records are never freed, so the pointer stays
// good after the lock.
UserRecord* LiveUser(std::uint32_t id) {
  std::lock_guard lock(AccountsLock());
  UserRecord* user = UserAt(id);
  return user && !user->deleted ? user : nullptr;
}

// Groups are freed only by this thread.
GroupRecord* LiveGroup(std::uint32_t number) {
  std::lock_guard lock(AccountsLock());
  return FindGroup(number);
}

// The subject's records: a user (and through it its group) or a group alone;
// neither for everybody.
struct SubjectRecords {
  UserRecord* user = nullptr;
  GroupRecord* group = nullptr;
};
SubjectRecords RecordsOf(StatisticsSubject subject, std::uint32_t id) {
  switch (subject) {
    case StatisticsSubject::kUser:
      return {LiveUser(id), nullptr};
    case StatisticsSubject::kGroup:
      return {nullptr, LiveGroup(id)};
    case StatisticsSubject::kAll:
      break;
  }
  return {};
}

FilterAdditionScope AdditionScopeOf(FilterScope scope) {
  switch (scope) {
    case FilterScope::User:
      return FilterAdditionScope::kUser;
    case FilterScope::Group:
      return FilterAdditionScope::kGroup;
    case FilterScope::Global:
      break;
  }
  return FilterAdditionScope::kGlobal;
}

FilterScope FilterScopeOf(FilterAdditionScope scope) {
  switch (scope) {
    case FilterAdditionScope::kUser:
      return FilterScope::User;
    case FilterAdditionScope::kGroup:
      return FilterScope::Group;
    case FilterAdditionScope::kGlobal:
      break;
  }
  return FilterScope::Global;
}

void ShowOnMonitor(const SubscriptionOutcome& outcome) {
  if (!outcome.monitorText.empty()) MonitorAppend(outcome.monitorText);
}

}  // namespace

ConsoleFilterLists LocalEngine::GlobalFilterLists() {
  FilterTexts texts;
  {
    std::lock_guard lock(AccountsLock());
    texts = GlobalFilters();
  }
  const FilterList deny = ParseFilterText(texts.denyFilter);
  const FilterList allow = ParseFilterText(texts.allowFilter);
  // The two texts are written with the same enabled value; an older file may
  // hold only one of them.
  return {deny.enabled || allow.enabled, deny.entries, allow.entries};
}

void LocalEngine::ApplyGlobalFilterLists(const ConsoleFilterLists& lists) {
  FilterTexts& global = GlobalFilters();
  ApplyFilterLists(kGlobalScopeKey, lists.enabled, lists.deny, lists.allow, global.denyFilter, global.allowFilter);
}

ConsoleFilterChoice LocalEngine::FilterChoice(StatisticsSubject subject, std::uint32_t id) {
  const SubjectRecords records = RecordsOf(subject, id);
  MonitorFilterChoice choice;
  {
    std::lock_guard lock(AccountsLock());
    choice = MonitorFilterDialog(records.user, records.group);
  }
  return {choice.userEnabled, choice.groupEnabled, AdditionScopeOf(choice.proposed), std::move(choice.userName),
          std::move(choice.groupName)};
}

bool LocalEngine::AddDenyFilter(StatisticsSubject subject, std::uint32_t id, FilterAdditionScope scope, int kind,
                                const std::string& pattern) {
  const SubjectRecords records = RecordsOf(subject, id);
  // A user or group that has gone since the dialog opened takes nothing.
  if (subject != StatisticsSubject::kAll && !records.user && !records.group) return false;
  return AddFilterFromMonitor(FilterScopeOf(scope), records.user, records.group, kind, pattern);
}

MailRuleList LocalEngine::MailRelays() { return *MailRules(); }

bool LocalEngine::ApplyMailRelays(const MailRuleList& rules) { return ApplyMailRules(rules); }

std::vector<PortMapRule> LocalEngine::PortMappings() {
  std::vector<PortMapRule> rules = PortMapRules();
  for (PortMapRule& rule : rules) rule.socket.reset();
  return rules;
}

std::vector<UserChoice> LocalEngine::PortMapUsers() {
  std::lock_guard lock(AccountsLock());
  return UserChoices(brindlex::Users());
}

std::vector<Ipv4> LocalEngine::LocalAddresses() { return InterfaceAddresses(); }

bool LocalEngine::ApplyPortMappings(const std::vector<PortMapRule>& rules) {
  if (!SavePortMapRules(SettingsPath(), rules)) return false;
  // The reload reads the rules back and hands over the sockets of those that
  // listen as before; the listener reopens the rest.
  applySettingsFile_(kReopenPortMapping);
  return true;
}

std::optional<ConsoleTicket> LocalEngine::Ticket(std::uint32_t userId) {
  UserRecord* user = LiveUser(userId);
  if (!user) return std::nullopt;
  const std::int64_t bytesPerMb = BytesPerMb();
  std::lock_guard lock(AccountsLock());
  return ConsoleTicket{user->name.empty() ? user->login : user->name,
                       user->login,
                       user->rules.prepaid,
                       user->ticket,
                       Remaining(*user),
                       bytesPerMb};
}

SubscriptionOutcome LocalEngine::ApplyTicket(std::uint32_t userId, TicketEntry& entry, bool editDirectly) {
  UserRecord* user = LiveUser(userId);
  if (!user) return {};
  SubscriptionOutcome outcome = ApplySubscription(*user, entry, editDirectly);
  ShowOnMonitor(outcome);
  return outcome;
}

SubscriptionOutcome LocalEngine::CloseTicket(std::uint32_t userId) {
  UserRecord* user = LiveUser(userId);
  if (!user) return {};
  SubscriptionOutcome outcome = CloseSubscription(*user);
  ShowOnMonitor(outcome);
  return outcome;
}

}  // namespace brindlex
