#include "core/users.h"

#include <mutex>

#include "core/process_state.h"
#include "core/url_filter.h"

namespace brindlex {

namespace {

std::string_view Bounded(const std::string* value, size_t limit) {
  if (!value) return {};
  return std::string_view(*value).substr(0, std::min(value->size(), limit));
}

}  // namespace

std::vector<std::unique_ptr<UserRecord>>& Users() {
  static std::vector<std::unique_ptr<UserRecord>> users;
  return users;
}

std::string FormatUserRecord(const UserRecord& u) {
  const AccessRules& r = u.rules;
  std::vector<std::string> f = {
      u.name,
      Scramble(u.password),
      u.reportEmail,
      FormatNumberText(r.maxDocumentMb),
      FormatNumberText(r.monthMinutes),
      FormatNumberText(r.monthMb),
      FormatNumberText(r.dayMinutes),
      FormatNumberText(r.dayMb),
      FlagText(r.dailyReport),
      FlagText(r.monthlyReport),
      FormatSchedule(u.schedule),
      FormatNumberText(r.speedNormal),
      FormatNumberText(r.speedExceeded),
      std::to_string(u.groupNumber),
      FlagText(u.admin),
      FlagText(u.disabled),
      FlagText(u.byAddress),
  };
  for (bool denied : r.protocolDenied) f.push_back(FlagText(denied));
  f.push_back(FlagText(r.finishTransfers));
  f.push_back(FlagText(r.passAuthToParent));
  f.push_back(FlagText(r.countCacheTraffic));
  f.push_back(FlagText(r.prepaid));
  f.push_back(FormatNumberText(r.bigTransferMb));
  f.push_back(FormatNumberText(r.bigTransferSpeed));
  f.push_back(FlagText(r.countOutgoing));
  f.push_back(FlagText(r.countIncoming));
  for (bool allowed : r.allowedAfterExceed) f.push_back(FlagText(allowed));
  f.push_back(FlagText(r.dialUpDenied));
  return JoinRecord(f);
}

void ParseUserRecord(std::string_view t, UserRecord& u) {
  AccessRules& r = u.rules;
  u.name = std::string(RecordField(t, 0));
  u.password = Unscramble(RecordField(t, 1));
  u.reportEmail = std::string(RecordField(t, 2));
  r.maxDocumentMb = RecordReal(t, 3);
  r.monthMinutes = RecordReal(t, 4);
  r.monthMb = RecordReal(t, 5);
  r.dayMinutes = RecordReal(t, 6);
  r.dayMb = RecordReal(t, 7);
  r.dailyReport = RecordFlag(t, 8);
  r.monthlyReport = RecordFlag(t, 9);
  u.schedule = ParseSchedule(RecordField(t, 10));
  r.speedNormal = RecordReal(t, 11);
  r.speedExceeded = RecordReal(t, 12);
  std::int64_t groupNumber = ParseIntPrefix(RecordField(t, 13));
  u.groupNumber = groupNumber >= 0 && groupNumber <= UINT32_MAX ? static_cast<std::uint32_t>(groupNumber) : 0;
  u.admin = RecordFlag(t, 14);
  u.disabled = RecordFlag(t, 15);
  std::string_view byAddress = RecordField(t, 16);
  u.byAddress = byAddress.empty() ? ParseIpv4(u.login) != kNoAddress : ParseIntPrefix(byAddress) != 0;
  for (int k = 0; k < kServiceColumns; ++k) r.protocolDenied[static_cast<size_t>(k)] = RecordFlag(t, 17 + k);
  r.finishTransfers = RecordFlag(t, 23);
  r.passAuthToParent = RecordFlag(t, 24);
  r.countCacheTraffic = RecordFlag(t, 25);
  r.prepaid = RecordFlag(t, 26);
  r.bigTransferMb = RecordReal(t, 27);
  r.bigTransferSpeed = RecordReal(t, 28);
  r.countOutgoing = RecordFlag(t, 29);
  r.countIncoming = RecordFlag(t, 30);
  for (int k = 0; k < kServiceColumns; ++k) r.allowedAfterExceed[static_cast<size_t>(k)] = RecordFlag(t, 31 + k);
  r.dialUpDenied = RecordFlag(t, 37);
}

UserRecord* FindUser(std::string_view login) {
  for (auto& user : Users())
    if (EqualsNoCase(user->login, login)) return user.get();
  return nullptr;
}

UserRecord* FindActiveUser(std::string_view login) {
  for (auto& user : Users())
    if (!user->deleted && EqualsNoCase(user->login, login)) return user.get();
  return nullptr;
}

UserRecord* UserAt(std::uint32_t id) {
  auto& users = Users();
  return id < users.size() ? users[id].get() : nullptr;
}

UserRecord* FindOrCreateUser(std::string_view login) {
  if (login.empty()) return nullptr;
  if (UserRecord* user = FindUser(login)) return user;
  if (Users().size() >= kMaxUsers) return nullptr;
  auto user = std::make_unique<UserRecord>();
  user->login = std::string(login);
  user->speedHistory.fill(-1);
  Users().push_back(std::move(user));
  return Users().back().get();
}

void ResolveUserGroup(UserRecord& user) {
  user.group = FindGroup(user.groupNumber);
  if (!user.group) {
    user.groupNumber = 0;
    user.group = FindGroup(0);
  }
}

void RemoveGroupLocked(std::uint32_t number) {
  const GroupRecord* group = FindGroup(number);
  if (!group || number == 0) return;
  for (auto& user : Users())
    if (user->group == group || user->groupNumber == number) {
      user->groupNumber = 0;
      user->group = FindGroup(0);
    }
  auto& groups = Groups();
  for (size_t i = 0; i < groups.size(); ++i) {
    if (groups[i].get() != group) continue;
    groups.erase(groups.begin() + static_cast<std::ptrdiff_t>(i));
    break;
  }
}

void ReadUser(UserRecord& user, AccountSource& source) {
  const std::string* record = FindValue(*source.source, kUsersSection, user.login);
  if (!record) return;
  ParseUserRecord(Bounded(record, kRecordTextMax), user);
  ResolveUserGroup(user);
  FilterTexts filters = LoadFilters(user.login, source);
  user.denyFilter = std::move(filters.denyFilter);
  user.allowFilter = std::move(filters.allowFilter);
  user.emails = std::string(Bounded(FindValue(*source.source, kEmailsSection, user.login), kListTextMax));
  user.clientAddresses = std::string(Bounded(FindValue(*source.source, kAddressesSection, user.login), kListTextMax));
  user.deleted = false;
}

void LoadUsers(AccountSource& source) {
  Users().clear();
  for (const IniLine& line : SectionEntries(*source.source, kUsersSection)) {
    UserRecord* user = FindOrCreateUser(line.key);
    if (!user) break;  // the table is full
    ReadUser(*user, source);
  }
}

void WriteUser(const UserRecord& user, IniDocument& document) {
  SetValue(document, kUsersSection, user.login, FormatUserRecord(user));
}

void StoreUser(const UserRecord& user, IniDocument& document) {
  WriteUser(user, document);
  SetValue(document, kDenyFiltersSection, user.login, Trim(user.denyFilter));
  SetValue(document, kAllowFiltersSection, user.login, Trim(user.allowFilter));
  SetValue(document, kEmailsSection, user.login, Trim(user.emails));
  SetValue(document, kAddressesSection, user.login, Trim(user.clientAddresses));
}

bool WriteUser(const UserRecord& user, const std::string& path) {
  return IniWriteString(path, kUsersSection, user.login, FormatUserRecord(user));
}

bool StoreUser(const UserRecord& user, const std::string& path) {
  bool ok = WriteUser(user, path);
  ok = IniWriteString(path, kDenyFiltersSection, user.login, Trim(user.denyFilter)) && ok;
  ok = IniWriteString(path, kAllowFiltersSection, user.login, Trim(user.allowFilter)) && ok;
  ok = IniWriteString(path, kEmailsSection, user.login, Trim(user.emails)) && ok;
  return IniWriteString(path, kAddressesSection, user.login, Trim(user.clientAddresses)) && ok;
}

void LoadAccounts(const std::string& path) {
  std::lock_guard<std::mutex> lock(AccountsLock());
  IniDocument document = LoadIniFile(path);
  AccountSource source{&document, &document};
  LoadGroups(source);
  LoadUsers(source);
  LoadGlobalFilters(source);
  if (source.settingsChanged) SaveIniFile(path, document);
}

bool DiffersFromGroup(const UserRecord& user) { return user.group && user.rules != user.group->rules; }

}  // namespace brindlex
