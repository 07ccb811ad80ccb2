#include "core/users.h"

#include <mutex>

#include "core/process_state.h"
#include "core/url_filter.h"

namespace brindlex {

namespace {

std::string Flag(bool value) { return value ? "1" : "0"; }
std::string Real(double value) { return FormatNumberText(value, 2); }
bool ReadFlag(std::string_view text, int n) { return ParseIntPrefix(RecordField(text, n)) != 0; }
double ReadReal(std::string_view text, int n) { return ParseRealPrefix(RecordField(text, n)); }

std::string_view Bounded(const std::string* value, size_t limit) {
  if (!value) return {};
  return std::string_view(*value).substr(0, std::min(value->size(), limit));
}

// The rules a user takes from its group, as pairs of fields. One list serves
// both copying and comparing, so the two can never disagree.
template <typename User, typename Group, typename Visit>
void ForEachRule(User& user, Group& group, Visit visit) {
  visit(user.dailyReport, group.dailyReport);
  visit(user.monthlyReport, group.monthlyReport);
  visit(user.countOutgoing, group.countOutgoing);
  visit(user.countIncoming, group.countIncoming);
  visit(user.monthMb, group.monthMb);
  visit(user.monthMinutes, group.monthMinutes);
  visit(user.dayMb, group.dayMb);
  visit(user.dayMinutes, group.dayMinutes);
  visit(user.speedNormal, group.speedNormal);
  visit(user.speedExceeded, group.speedExceeded);
  visit(user.protocolDenied, group.protocolDenied);
  visit(user.allowedAfterExceed, group.allowedAfterExceed);
  visit(user.maxDocumentMb, group.maxDocumentMb);
  visit(user.bigTransferMb, group.bigTransferMb);
  visit(user.bigTransferSpeed, group.bigTransferSpeed);
  visit(user.finishTransfers, group.finishTransfers);
  visit(user.passAuthToParent, group.passAuthToParent);
  visit(user.countCacheTraffic, group.countCacheTraffic);
  visit(user.prepaid, group.prepaid);
  visit(user.dialUpDenied, group.dialUpDenied);
}

}  // namespace

std::vector<std::unique_ptr<UserRecord>>& Users() {
  static std::vector<std::unique_ptr<UserRecord>> users;
  return users;
}

std::string FormatUserRecord(const UserRecord& u) {
  std::vector<std::string> f = {
      u.name,
      Scramble(u.password),
      u.reportEmail,
      Real(u.maxDocumentMb),
      Real(u.monthMinutes),
      Real(u.monthMb),
      Real(u.dayMinutes),
      Real(u.dayMb),
      Flag(u.dailyReport),
      Flag(u.monthlyReport),
      FormatSchedule(u.schedule),
      Real(u.speedNormal),
      Real(u.speedExceeded),
      std::to_string(u.groupNumber),
      Flag(u.admin),
      Flag(u.disabled),
      Flag(u.byAddress),
  };
  for (bool denied : u.protocolDenied) f.push_back(Flag(denied));
  f.push_back(Flag(u.finishTransfers));
  f.push_back(Flag(u.passAuthToParent));
  f.push_back(Flag(u.countCacheTraffic));
  f.push_back(Flag(u.prepaid));
  f.push_back(Real(u.bigTransferMb));
  f.push_back(Real(u.bigTransferSpeed));
  f.push_back(Flag(u.countOutgoing));
  f.push_back(Flag(u.countIncoming));
  for (bool allowed : u.allowedAfterExceed) f.push_back(Flag(allowed));
  f.push_back(Flag(u.dialUpDenied));
  return JoinRecord(f);
}

void ParseUserRecord(std::string_view t, UserRecord& u) {
  u.name = std::string(RecordField(t, 0));
  u.password = Unscramble(RecordField(t, 1));
  u.reportEmail = std::string(RecordField(t, 2));
  u.maxDocumentMb = ReadReal(t, 3);
  u.monthMinutes = ReadReal(t, 4);
  u.monthMb = ReadReal(t, 5);
  u.dayMinutes = ReadReal(t, 6);
  u.dayMb = ReadReal(t, 7);
  u.dailyReport = ReadFlag(t, 8);
  u.monthlyReport = ReadFlag(t, 9);
  u.schedule = ParseSchedule(RecordField(t, 10));
  u.speedNormal = ReadReal(t, 11);
  u.speedExceeded = ReadReal(t, 12);
  std::int64_t groupNumber = ParseIntPrefix(RecordField(t, 13));
  u.groupNumber = groupNumber >= 0 && groupNumber <= UINT32_MAX ? static_cast<std::uint32_t>(groupNumber) : 0;
  u.admin = ReadFlag(t, 14);
  u.disabled = ReadFlag(t, 15);
  std::string_view byAddress = RecordField(t, 16);
  u.byAddress = byAddress.empty() ? ParseIpv4(u.login) != kNoAddress : ParseIntPrefix(byAddress) != 0;
  for (int k = 0; k < kServiceColumns; ++k) u.protocolDenied[static_cast<size_t>(k)] = ReadFlag(t, 17 + k);
  u.finishTransfers = ReadFlag(t, 23);
  u.passAuthToParent = ReadFlag(t, 24);
  u.countCacheTraffic = ReadFlag(t, 25);
  u.prepaid = ReadFlag(t, 26);
  u.bigTransferMb = ReadReal(t, 27);
  u.bigTransferSpeed = ReadReal(t, 28);
  u.countOutgoing = ReadFlag(t, 29);
  u.countIncoming = ReadFlag(t, 30);
  for (int k = 0; k < kServiceColumns; ++k) u.allowedAfterExceed[static_cast<size_t>(k)] = ReadFlag(t, 31 + k);
  u.dialUpDenied = ReadFlag(t, 37);
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

void CopyGroupRulesToUser(UserRecord& user, const GroupRecord& group) {
  ForEachRule(user, group, [](auto& mine, const auto& theirs) { mine = theirs; });
}

bool DiffersFromGroup(const UserRecord& user) {
  if (!user.group) return false;
  bool differs = false;
  ForEachRule(user, *user.group, [&](const auto& mine, const auto& theirs) { differs = differs || mine != theirs; });
  return differs;
}

}  // namespace brindlex
