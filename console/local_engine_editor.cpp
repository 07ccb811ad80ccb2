// The configuration page's side of the in-process engine: settings controls
// are all checked, then written to the file, which is then put in force in
// one step; a loaded account copy takes the same way. Groups and users go
// through the account editor's operations.
#include <cstdio>
#include <mutex>

#include "console/editor_pages.h"
#include "console/local_engine.h"
#include "core/account_copy.h"
#include "core/account_editor.h"
#include "core/arp_table.h"
#include "core/clock.h"
#include "core/config_check.h"
#include "core/log_files.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "core/strings.h"
#include "core/users.h"
#include "net/listener.h"

namespace brindlex {

namespace {

// The listener's bits for the services the page's edits touched.
int ReopenMaskOf(int changeMask) {
  static constexpr std::pair<int, int> kBits[] = {
      {kChangedHttp, kReopenHttp}, {kChangedFtp, kReopenFtp},       {kChangedSmtp, kReopenSmtp},
      {kChangedPop3, kReopenPop3}, {kChangedSocks5, kReopenSocks5}, {kChangedPortMapping, kReopenPortMapping},
  };
  int reopen = 0;
  for (auto [changed, bit] : kBits)
    if (changeMask & changed) reopen |= bit;
  return reopen;
}

// Checks one control by the kind of its key, storing nothing: `stored` is
// the value the file would hold, and the control's text is rewritten as it
// will show. A value passes only when the configuration check (the one
// `--check` prints) has nothing to say of it either, and is refused in its
// words otherwise, so that the editor never stores what the check reports.
EditOutcome Prepare(const SettingInfo& info, ConfigControlValue& control, std::string& stored) {
  const std::string& name = control.name;
  EditOutcome outcome;
  switch (KindOfControl(name)) {
    case ControlKind::kCheckBox:
      stored = control.text == "1" ? "1" : "0";
      break;
    case ControlKind::kListBox:
      stored = JoinList(control.items);
      break;
    case ControlKind::kEdit:
    case ControlKind::kComboBox:
      if (EqualsNoCase(info.key, "PasswordAdmin")) outcome = ConfirmAdminPassword(control.text, control.confirmation);
      if (outcome.ok) outcome = PrepareSettingText(info.key, control.text, stored);
      break;
  }
  if (!outcome.ok) return outcome;
  const std::vector<std::string> problems = CheckSystemValue(info.key, stored);
  if (!problems.empty()) return {false, Str(780), problems.front()};
  return {};
}

ConfigEditOutcome Refused(int messageId) { return {false, {Str(1158), Str(messageId)}, 0}; }

ConfigEditOutcome Converted(const EditOutcome& outcome, std::uint32_t id = 0) {
  return {outcome.ok, {outcome.caption, outcome.message}, id};
}

ConsoleUserDraft DraftOf(const UserRecord& user) {
  return {user.groupNumber, user.name,        user.disabled,          user.admin,       user.login,
          user.password,    user.byAddress,   SplitList(user.emails), user.reportEmail, user.schedule,
          user.denyFilter,  user.allowFilter, user.clientAddresses,   user.rules};
}

void FillRecord(UserRecord& user, const ConsoleUserDraft& draft) {
  user.groupNumber = draft.groupNumber;
  user.name = draft.name;
  user.disabled = draft.disabled;
  user.admin = draft.admin;
  user.login = draft.login;
  user.password = draft.password;
  user.byAddress = draft.byAddress;
  user.emails = JoinList(draft.emails);
  user.reportEmail = draft.reportEmail;
  user.schedule = draft.schedule;
  user.denyFilter = draft.denyFilter;
  user.allowFilter = draft.allowFilter;
  user.clientAddresses = draft.clientAddresses;
  user.rules = draft.rules;
}

// The stored (not deleted) user at `id`, or nullptr. Records are never freed,
// and only this thread deletes users, so the pointer stays good after the lock.
UserRecord* StoredUser(std::uint32_t id) {
  std::lock_guard lock(AccountsLock());
  UserRecord* user = UserAt(id);
  return user && !user->deleted ? user : nullptr;
}

// Groups are freed only by this thread (the editor and a reload).
GroupRecord* GroupNumbered(std::uint32_t number) {
  std::lock_guard lock(AccountsLock());
  return FindGroup(number);
}

}  // namespace

std::vector<ConfigControlValue> LocalEngine::ConfigValues(const std::vector<std::string>& controlNames) {
  const auto settings = Settings();
  std::vector<ConfigControlValue> values;
  for (const std::string& name : controlNames) {
    SettingShown shown = ShownSetting(*settings, KeyFromControlName(name));
    values.push_back({name, std::move(shown.text), std::move(shown.items), {}});
  }
  return values;
}

ConfigApplyOutcome LocalEngine::ApplyConfigControls(const std::vector<ConfigControlValue>& controls, int changeMask) {
  // The whole change is checked before anything is stored: a refused apply
  // leaves the file, the settings in force and the open ports as they were.
  ConfigApplyOutcome outcome;
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<ConfigControlValue> saved;
  for (const ConfigControlValue& control : controls) {
    const SettingInfo* info = FindSetting(KeyFromControlName(control.name));
    // Only keys of the settings table are the editor's to write.
    if (!info) continue;
    ConfigControlValue shown = control;
    std::string stored;
    if (EditOutcome checked = Prepare(*info, shown, stored); !checked.ok) {
      outcome.ok = false;
      outcome.failedControl = control.name;
      outcome.box = {checked.caption, checked.message};
      return outcome;
    }
    shown.confirmation.clear();
    entries.emplace_back(info->key, std::move(stored));
    saved.push_back(std::move(shown));
  }
  if (!entries.empty()) {
    if (!StoreSystemTexts(entries)) {
      outcome.ok = false;
      outcome.box = {Str(1158), Str(1362)};
      return outcome;
    }
    // The file first, then the reload: the running gateway takes the
    // change as it would after any edit of the file.
    applySettingsFile_(ReopenMaskOf(changeMask));
  }
  outcome.saved = std::move(saved);
  if (changeMask & kChangedLogKeeping) PurgeOldLogs(ProgramClock().LocalNow());
  return outcome;
}

bool LocalEngine::AdminPasswordRequired() { return !Settings()->PasswordAdmin.empty(); }

bool LocalEngine::AdminPasswordMatches(const std::string& entered) { return entered == Settings()->PasswordAdmin; }

std::optional<GroupRecord> LocalEngine::ConfigGroup(std::uint32_t number) {
  std::lock_guard lock(AccountsLock());
  const GroupRecord* group = FindGroup(number);
  return group ? std::optional<GroupRecord>(*group) : std::nullopt;
}

GroupRecord LocalEngine::NewConfigGroup() {
  std::lock_guard lock(AccountsLock());
  return NewGroupDraft();
}

ConfigEditOutcome LocalEngine::SaveConfigGroup(const GroupRecord& draft, bool isNew) {
  if (isNew) {
    GroupRecord created = draft;
    EditOutcome outcome = ApplyNewGroup(created);
    return Converted(outcome, created.number);
  }
  GroupRecord* group = GroupNumbered(draft.number);
  if (!group) return {false, {}, draft.number};
  return Converted(SaveGroup(*group, draft), draft.number);
}

ConfigEditOutcome LocalEngine::CheckConfigGroupDeletion(std::uint32_t number) {
  std::lock_guard lock(AccountsLock());
  const GroupRecord* group = FindGroup(number);
  if (!group) return {false, {}, number};
  return Converted(CheckGroupDeletion(*group), number);
}

bool LocalEngine::DeleteConfigGroup(std::uint32_t number) { return DeleteGroup(number); }

void LocalEngine::ApplyGroupRulesToUsers(std::uint32_t number) {
  if (const GroupRecord* group = GroupNumbered(number)) brindlex::ApplyGroupRulesToUsers(*group);
}

std::optional<ConsoleUserDraft> LocalEngine::ConfigUser(std::uint32_t id) {
  std::lock_guard lock(AccountsLock());
  const UserRecord* user = UserAt(id);
  if (!user || user->deleted) return std::nullopt;
  return DraftOf(*user);
}

std::optional<ConsoleUserDraft> LocalEngine::NewConfigUser(std::uint32_t groupNumber) {
  std::lock_guard lock(AccountsLock());
  GroupRecord* group = FindGroup(groupNumber);
  if (!group) return std::nullopt;
  return DraftOf(NewUserDraft(*group));
}

ConfigEditOutcome LocalEngine::SaveConfigUser(const ConsoleUserDraft& draft, std::optional<std::uint32_t> id) {
  if (!id) {
    UserRecord record;
    FillRecord(record, draft);
    UserRecord* created = nullptr;
    EditOutcome outcome = ApplyNewUser(record, &created);
    if (!outcome.ok) return Converted(outcome);
    std::lock_guard lock(AccountsLock());
    const auto& users = brindlex::Users();
    std::uint32_t place = 0;
    while (place < users.size() && users[place].get() != created) ++place;
    return Converted(outcome, place);
  }
  UserRecord* user = StoredUser(*id);
  if (!user) return {false, {}, *id};
  UserRecord edited;
  {
    std::lock_guard lock(AccountsLock());
    edited = *user;
  }
  FillRecord(edited, draft);
  return Converted(SaveUser(*user, edited), *id);
}

bool LocalEngine::DeleteConfigUser(std::uint32_t id) {
  UserRecord* user = StoredUser(id);
  return user && DeleteUser(*user).ok;
}

void LocalEngine::MoveConfigUser(std::uint32_t id, std::uint32_t groupNumber) {
  UserRecord* user = StoredUser(id);
  const GroupRecord* group = GroupNumbered(groupNumber);
  if (user && group) MoveUserToGroup(*user, *group);
}

void LocalEngine::ApplyGroupRulesToUser(std::uint32_t id) {
  if (UserRecord* user = StoredUser(id)) brindlex::ApplyGroupRulesToUser(*user);
}

std::string LocalEngine::MacAddressOf(const std::string& address) {
  Ipv4 parsed = 0;
  if (!ParseDottedQuad(address, parsed) || parsed == kNoAddress) return {};
  const std::optional<MacAddress> mac = LookUpMac(parsed);
  if (!mac) return {};
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%012llX", static_cast<unsigned long long>(*mac));
  return digits;
}

bool LocalEngine::SaveConfigCopy(const std::string& path) { return SaveAccountsCopy(path); }

ConfigEditOutcome LocalEngine::LoadConfigCopy(const std::string& path) {
  switch (StoreAccountsCopy(path)) {
    case CopyLoad::kUnreadable:
      return Refused(1360);
    case CopyLoad::kNothingToLoad:
      return Refused(1361);
    case CopyLoad::kNotWritten:
      return Refused(1362);
    case CopyLoad::kWritten:
      break;
  }
  // The file first, then the reload, as for any other change.
  applySettingsFile_(0);
  return {};
}

}  // namespace brindlex
