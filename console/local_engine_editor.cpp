// The configuration page's side of the in-process engine: settings controls
// are checked and written to the file, which is then put in force in one
// step; groups, users and copies go through the account editor's operations.
#include <cstdio>
#include <mutex>

#include "console/editor_pages.h"
#include "console/local_engine.h"
#include "core/account_copy.h"
#include "core/account_editor.h"
#include "core/arp_table.h"
#include "core/clock.h"
#include "core/log_files.h"
#include "core/process_state.h"
#include "core/settings.h"
#include "net/listener.h"

namespace brindlex {

namespace {

constexpr SettingWrite kFileOnly = SettingWrite::kFileOnly;

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

// Writes one control to the file by the kind of its key; the texts are
// rewritten in their stored form.
EditOutcome WriteControl(const SettingInfo& info, ConfigControlValue& control) {
  const std::string& name = control.name;
  switch (KindOfControl(name)) {
    case ControlKind::kCheckBox:
      return WriteBooleanSetting(name, control.text == "1", kFileOnly);
    case ControlKind::kListBox:
      return WriteListSetting(name, control.items, kFileOnly);
    case ControlKind::kEdit:
    case ControlKind::kComboBox:
      break;
  }
  const std::string key = KeyFromControlName(name);
  switch (info.kind) {
    case SettingKind::Integer:
      return WriteIntegerSetting(name, control.text, kFileOnly);
    case SettingKind::Real:
      return WriteRealSetting(name, control.text, kFileOnly);
    case SettingKind::Ipv4Address:
      return WriteIpv4Setting(name, control.text, kFileOnly);
    case SettingKind::Boolean:
      return WriteBooleanSetting(name, control.text == "1", kFileOnly);
    case SettingKind::List:
      return WriteListSetting(name, control.items, kFileOnly);
    case SettingKind::Scrambled:
      if (key == "PasswordAdmin") return WriteAdminPassword(control.text, control.confirmation, kFileOnly);
      return WriteScrambledSetting(name, control.text, kFileOnly);
    case SettingKind::Text:
      if (key == "SpamTime") return WriteSpamTime(control.text, kFileOnly);
      if (key == "HttpPort") {
        if (EditOutcome checked = CheckHttpPortField(control.text); !checked.ok) return checked;
      }
      return WriteTextSetting(name, control.text, kFileOnly);
  }
  return {};
}

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
  ConfigApplyOutcome outcome;
  for (const ConfigControlValue& control : controls) {
    const SettingInfo* info = FindSetting(KeyFromControlName(control.name));
    // Only keys of the settings table are the editor's to write.
    if (!info) continue;
    ConfigControlValue stored = control;
    EditOutcome written = WriteControl(*info, stored);
    if (!written.ok) {
      outcome.ok = false;
      outcome.failedControl = control.name;
      outcome.box = {written.caption, written.message};
      break;
    }
    stored.confirmation.clear();
    outcome.saved.push_back(std::move(stored));
  }
  // What was stored is put in force even when a later control failed; only
  // a successful apply restarts services and deletes old logs.
  if (!outcome.saved.empty()) applySettingsFile_(outcome.ok ? ReopenMaskOf(changeMask) : 0);
  if (outcome.ok && (changeMask & kChangedLogKeeping)) PurgeOldLogs(ProgramClock().LocalNow());
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

void LocalEngine::LoadConfigCopy(const std::string& path) { LoadAccountsCopy(path); }

}  // namespace brindlex
