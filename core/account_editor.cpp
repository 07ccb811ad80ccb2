#include "core/account_editor.h"

#include <mutex>

#include "core/chars.h"
#include "core/process_state.h"
#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr int kWarning = 18;
constexpr int kDeleteUserText = 21;
constexpr int kConversionError = 780;
constexpr int kAddressFormat = 781;
constexpr int kPasswordControl = 790;
constexpr int kRulesToUsers = 1160;
constexpr int kRulesToUser = 1161;
constexpr int kLoginRequired = 1162;
constexpr int kUserExists = 1163;
constexpr int kBadName = 1165;
constexpr int kBadLogin = 1166;
constexpr int kUsersFull = 1168;
constexpr int kNewGroupName = 1435;
constexpr int kNewUserName = 1436;
constexpr int kGroupsFull = 1169;
constexpr int kBadReportEmail = 1170;
constexpr int kCannotDeleteDefault = 1180;
constexpr int kGroupHasUsers = 1181;
constexpr int kDeleteGroupText = 1182;
constexpr int kMoveUserText = 1183;

EditOutcome Refusal(int caption, int text) { return EditOutcome{false, Str(caption), Str(text)}; }

bool IsControl(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

bool HasAny(std::string_view text, std::string_view characters) {
  return text.find_first_of(characters) != std::string_view::npos;
}

bool HasControl(std::string_view text) {
  for (char c : text)
    if (IsControl(c)) return true;
  return false;
}

EditOutcome CheckUserTexts(const UserRecord& user) {
  EditOutcome name = CheckDisplayName(user.name);
  if (!name.ok) return name;
  if (HasControl(user.password)) return Refusal(kConversionError, kPasswordControl);
  if (HasAny(user.reportEmail, ";") || HasControl(user.reportEmail)) return Refusal(kWarning, kBadReportEmail);
  return EditOutcome{};
}

}  // namespace

EditOutcome CheckDisplayName(std::string_view name) {
  if (HasAny(name, ",;") || HasControl(name)) return Refusal(kWarning, kBadName);
  return EditOutcome{};
}

EditOutcome CheckLogin(std::string& login, bool byAddress) {
  login = LowerCase(Trim(login));
  if (login.empty()) return Refusal(kWarning, kLoginRequired);
  if (HasAny(login, ",;=[]") || HasControl(login)) return Refusal(kWarning, kBadLogin);
  if (byAddress) {
    Ipv4 address = ParseIpv4(login);
    if (address == kNoAddress) return Refusal(kConversionError, kAddressFormat);
    login = FormatIpv4(address);
  }
  return EditOutcome{};
}

GroupRecord NewGroupDraft() {
  const GroupRecord* base = FindGroup(0);
  GroupRecord draft = base ? *base : MakeDefaultGroup();
  draft.number = LargestGroupNumber() + 1;
  draft.name = StrWith(kNewGroupName, std::to_string(draft.number));
  static_cast<GroupConsoleState&>(draft) = GroupConsoleState{};
  return draft;
}

EditOutcome ApplyNewGroup(GroupRecord& draft, GroupRecord** created) {
  EditOutcome check = CheckDisplayName(draft.name);
  if (!check.ok) return check;
  GroupRecord* group = nullptr;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (Groups().size() >= kMaxGroups) return Refusal(kWarning, kGroupsFull);
    draft.number = LargestGroupNumber() + 1;
    Groups().push_back(std::make_unique<GroupRecord>(draft));
    group = Groups().back().get();
  }
  StoreGroup(*group, SettingsPath());
  if (created) *created = group;
  return EditOutcome{};
}

EditOutcome SaveGroup(GroupRecord& group, const GroupRecord& edited) {
  EditOutcome check = CheckDisplayName(edited.name);
  if (!check.ok) return check;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    GroupRecord merged = edited;
    merged.number = group.number;
    static_cast<GroupConsoleState&>(merged) = group;
    group = std::move(merged);
  }
  StoreGroup(group, SettingsPath());
  return EditOutcome{};
}

UserRecord NewUserDraft(GroupRecord& group) {
  UserRecord draft;
  draft.name = StrWith(kNewUserName, std::to_string(Users().size() + 1));
  draft.groupNumber = group.number;
  draft.group = &group;
  draft.schedule = group.schedule;
  draft.rules = group.rules;
  draft.speedHistory.fill(-1);
  return draft;
}

EditOutcome ApplyNewUser(UserRecord& draft, UserRecord** created) {
  EditOutcome check = CheckLogin(draft.login, draft.byAddress);
  if (!check.ok) return check;
  check = CheckUserTexts(draft);
  if (!check.ok) return check;
  UserRecord* user = nullptr;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (FindActiveUser(draft.login)) return Refusal(kWarning, kUserExists);
    user = FindOrCreateUser(draft.login);
    if (!user) return Refusal(kWarning, kUsersFull);
    // A deleted user's record keeps its counters and subscription; only
    // what the editor shows is replaced.
    UserRecord merged = draft;
    static_cast<UserRuntimeState&>(merged) = *user;
    ResolveUserGroup(merged);
    merged.deleted = false;
    *user = std::move(merged);
  }
  StoreUser(*user, SettingsPath());
  if (created) *created = user;
  return EditOutcome{};
}

EditOutcome SaveUser(UserRecord& user, const UserRecord& edited) {
  EditOutcome check = CheckUserTexts(edited);
  if (!check.ok) return check;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    // Login, identification kind and group are not the editor's to change
    // here; the accounting state is never the editor's.
    UserRecord merged = edited;
    merged.login = user.login;
    merged.byAddress = user.byAddress;
    merged.groupNumber = user.groupNumber;
    merged.group = user.group;
    static_cast<UserRuntimeState&>(merged) = user;
    merged.deleted = false;
    user = std::move(merged);
  }
  StoreUser(user, SettingsPath());
  return EditOutcome{};
}

EditorQuestion ApplyRulesToGroupUsersQuestion() { return {Str(kWarning), Str(kRulesToUsers)}; }

void ApplyGroupRulesToUsers(const GroupRecord& group) {
  std::vector<UserRecord*> changed;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    for (auto& user : Users()) {
      if (user->deleted || user->groupNumber != group.number) continue;
      user->rules = group.rules;
      changed.push_back(user.get());
    }
  }
  for (UserRecord* user : changed) WriteUser(*user, SettingsPath());
}

EditorQuestion ApplyRulesToUserQuestion() { return {Str(kWarning), Str(kRulesToUser)}; }

void ApplyGroupRulesToUser(UserRecord& user) {
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    if (!user.group) ResolveUserGroup(user);
    if (!user.group) return;
    user.rules = user.group->rules;
  }
  WriteUser(user, SettingsPath());
}

EditorQuestion MoveUserQuestion(const GroupRecord& target) {
  return {Str(kWarning), Str(kMoveUserText) + target.name + "\"?"};
}

void MoveUserToGroup(UserRecord& user, const GroupRecord& target) {
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    user.groupNumber = target.number;
    ResolveUserGroup(user);
  }
  WriteUser(user, SettingsPath());
}

EditorQuestion DeleteUserQuestion() { return {Str(kWarning), Str(kDeleteUserText)}; }

EditOutcome DeleteUser(UserRecord& user) {
  if (user.login.empty()) return EditOutcome{false, "", ""};
  IniDeleteKey(SettingsPath(), kUsersSection, user.login);
  IniDeleteKey(SettingsPath(), kDenyFiltersSection, user.login);
  IniDeleteKey(SettingsPath(), kAllowFiltersSection, user.login);
  std::lock_guard<std::mutex> lock(AccountsLock());
  user.deleted = true;
  return EditOutcome{};
}

EditOutcome CheckGroupDeletion(const GroupRecord& group) {
  if (group.number == 0) return Refusal(kWarning, kCannotDeleteDefault);
  for (const auto& user : Users())
    if (!user->deleted && user->groupNumber == group.number) return Refusal(kWarning, kGroupHasUsers);
  return EditOutcome{true, Str(kWarning), Str(kDeleteGroupText)};
}

bool DeleteGroup(std::uint32_t number) {
  const GroupRecord* group = FindGroup(number);
  if (!group || !CheckGroupDeletion(*group).ok) return false;
  std::string scope = GroupScopeKey(number);
  IniDeleteKey(SettingsPath(), kGroupsSection, GroupKey(number));
  IniDeleteKey(SettingsPath(), kDenyFiltersSection, scope);
  IniDeleteKey(SettingsPath(), kAllowFiltersSection, scope);
  IniDeleteKey(SettingsPath(), kAddressesSection, scope);
  // Deleted users keep showing in the views; they must not point at freed memory.
  std::lock_guard<std::mutex> lock(AccountsLock());
  RemoveGroupLocked(number);
  return true;
}

}  // namespace brindlex
