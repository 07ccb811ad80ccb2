#include "core/groups.h"

#include <algorithm>
#include <cstdio>

#include "core/chars.h"
#include "core/url_filter.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

std::string Tariff(double value) { return FormatNumberText(value, 3); }

std::int32_t ReadInt32(std::string_view text, int n) {
  std::int64_t value = ParseIntPrefix(RecordField(text, n));
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

std::string_view Bounded(const std::string& value, size_t limit) {
  return std::string_view(value).substr(0, std::min(value.size(), limit));
}

}  // namespace

std::vector<std::unique_ptr<GroupRecord>>& Groups() {
  static std::vector<std::unique_ptr<GroupRecord>> groups;
  return groups;
}

bool GroupNumberFromKey(std::string_view key, std::uint32_t& number) {
  if (key.empty() || key.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : key) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return false;
  number = static_cast<std::uint32_t>(value);
  return true;
}

std::string GroupKey(std::uint32_t number) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "%.8u", number);
  return buffer;
}

std::string GroupScopeKey(std::uint32_t number) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "g%.8u", number);
  return buffer;
}

GroupRecord MakeDefaultGroup() {
  GroupRecord group;
  group.number = 0;
  group.name = "Default";
  group.rules.countOutgoing = true;
  group.rules.countIncoming = true;
  group.schedule = FullSchedule();
  return group;
}

std::string FormatGroupRecord(const GroupRecord& g) {
  const AccessRules& r = g.rules;
  std::vector<std::string> f = {
      g.name,
      "",
      FormatNumberText(r.maxDocumentMb),
      FormatNumberText(r.monthMinutes),
      FormatNumberText(r.monthMb),
      FormatNumberText(r.dayMinutes),
      FormatNumberText(r.dayMb),
      FlagText(r.dailyReport),
      FlagText(r.monthlyReport),
      FormatSchedule(g.schedule),
      FormatNumberText(r.speedNormal),
      FormatNumberText(r.speedExceeded),
      Tariff(g.tariffIn),
      Tariff(g.tariffOut),
      Tariff(g.tariffHour),
      FormatNumberText(g.exchangeRate),
      std::to_string(g.sessionTimeout),
      FlagText(r.countOutgoing),
      FlagText(r.countIncoming),
  };
  for (bool allowed : r.allowedAfterExceed) f.push_back(FlagText(allowed));
  f.push_back(FormatNumberText(r.bigTransferMb));
  f.push_back(FormatNumberText(r.bigTransferSpeed));
  for (bool denied : r.protocolDenied) f.push_back(FlagText(denied));
  f.push_back(FlagText(r.finishTransfers));
  f.push_back(FlagText(r.passAuthToParent));
  f.push_back(FlagText(r.countCacheTraffic));
  f.push_back(FlagText(r.prepaid));
  f.push_back(FlagText(r.dialUpDenied));
  return JoinRecord(f);
}

void ParseGroupRecord(std::string_view t, GroupRecord& g) {
  AccessRules& r = g.rules;
  g.name = std::string(RecordField(t, 0));
  r.maxDocumentMb = RecordReal(t, 2);
  r.monthMinutes = RecordReal(t, 3);
  r.monthMb = RecordReal(t, 4);
  r.dayMinutes = RecordReal(t, 5);
  r.dayMb = RecordReal(t, 6);
  r.dailyReport = RecordFlag(t, 7);
  r.monthlyReport = RecordFlag(t, 8);
  g.schedule = ParseSchedule(RecordField(t, 9));
  r.speedNormal = RecordReal(t, 10);
  r.speedExceeded = RecordReal(t, 11);
  g.tariffIn = RecordReal(t, 12);
  g.tariffOut = RecordReal(t, 13);
  g.tariffHour = RecordReal(t, 14);
  g.exchangeRate = RecordReal(t, 15);
  g.sessionTimeout = ReadInt32(t, 16);
  r.countOutgoing = RecordFlag(t, 17);
  r.countIncoming = RecordFlag(t, 18);
  for (int k = 0; k < kServiceColumns; ++k) r.allowedAfterExceed[static_cast<size_t>(k)] = RecordFlag(t, 19 + k);
  r.bigTransferMb = RecordReal(t, 25);
  r.bigTransferSpeed = RecordReal(t, 26);
  for (int k = 0; k < kServiceColumns; ++k) r.protocolDenied[static_cast<size_t>(k)] = RecordFlag(t, 27 + k);
  r.finishTransfers = RecordFlag(t, 33);
  r.passAuthToParent = RecordFlag(t, 34);
  r.countCacheTraffic = RecordFlag(t, 35);
  r.prepaid = RecordFlag(t, 36);
  r.dialUpDenied = RecordFlag(t, 37);
}

GroupRecord* FindGroup(std::uint32_t number) {
  for (auto& group : Groups())
    if (group->number == number) return group.get();
  return nullptr;
}

std::uint32_t LargestGroupNumber() {
  std::uint32_t largest = 0;
  for (const auto& group : Groups()) largest = std::max(largest, group->number);
  return largest;
}

void ReadGroup(GroupRecord& group, AccountSource& source) {
  const std::string* record = FindValue(*source.source, kGroupsSection, GroupKey(group.number));
  if (!record) return;
  ParseGroupRecord(Bounded(*record, kRecordTextMax), group);
  std::string scope = GroupScopeKey(group.number);
  FilterTexts filters = LoadFilters(scope, source);
  group.denyFilter = std::move(filters.denyFilter);
  group.allowFilter = std::move(filters.allowFilter);
  // Copies saved by older versions carry no group address lists; reading
  // such a copy must not lift the group's address restriction.
  if (const std::string* addresses = FindValue(*source.source, kAddressesSection, scope))
    group.clientAddresses = std::string(Bounded(*addresses, kListTextMax));
}

std::vector<std::uint32_t> StoredGroupNumbers(const IniDocument& document) {
  std::vector<std::uint32_t> numbers;
  for (const IniLine& line : SectionEntries(document, kGroupsSection)) {
    if (numbers.size() >= kMaxGroups) break;
    std::uint32_t number = 0;
    if (!GroupNumberFromKey(line.key, number) || std::find(numbers.begin(), numbers.end(), number) != numbers.end())
      continue;
    numbers.push_back(number);
  }
  // "Default" must exist: a full file without it gives up its last group.
  if (numbers.size() >= kMaxGroups && std::find(numbers.begin(), numbers.end(), 0u) == numbers.end())
    numbers.pop_back();
  return numbers;
}

void ResetDefaultGroup(GroupRecord& group, AccountSource& source) {
  GroupRecord reset = MakeDefaultGroup();
  static_cast<GroupConsoleState&>(reset) = group;
  group = std::move(reset);
  WriteGroup(group, *source.settings);
  source.settingsChanged = true;
}

void LoadGroups(AccountSource& source) {
  auto& groups = Groups();
  groups.clear();
  for (std::uint32_t number : StoredGroupNumbers(*source.source)) {
    auto group = std::make_unique<GroupRecord>();
    group->number = number;
    ReadGroup(*group, source);
    groups.push_back(std::move(group));
  }
  if (!FindGroup(0)) {
    groups.push_back(std::make_unique<GroupRecord>());
    ResetDefaultGroup(*groups.back(), source);
  }
}

void WriteGroup(const GroupRecord& group, IniDocument& document) {
  SetValue(document, kGroupsSection, GroupKey(group.number), FormatGroupRecord(group));
}

void StoreGroup(const GroupRecord& group, IniDocument& document) {
  std::string scope = GroupScopeKey(group.number);
  SetValue(document, kDenyFiltersSection, scope, Trim(group.denyFilter));
  SetValue(document, kAllowFiltersSection, scope, Trim(group.allowFilter));
  SetValue(document, kAddressesSection, scope, Trim(group.clientAddresses));
  WriteGroup(group, document);
}

bool WriteGroup(const GroupRecord& group, const std::string& path) {
  return IniWriteString(path, kGroupsSection, GroupKey(group.number), FormatGroupRecord(group));
}

bool StoreGroup(const GroupRecord& group, const std::string& path) {
  std::string scope = GroupScopeKey(group.number);
  bool ok = IniWriteString(path, kDenyFiltersSection, scope, Trim(group.denyFilter));
  ok = IniWriteString(path, kAllowFiltersSection, scope, Trim(group.allowFilter)) && ok;
  ok = IniWriteString(path, kAddressesSection, scope, Trim(group.clientAddresses)) && ok;
  return WriteGroup(group, path) && ok;
}

}  // namespace brindlex
