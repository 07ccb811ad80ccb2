#include "core/url_filter.h"

#include <cstdio>
#include <mutex>

#include "core/groups.h"
#include "core/process_state.h"
#include "core/strings.h"
#include "core/users.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

constexpr size_t kOldListMax = 4096;
constexpr size_t kImportFileMax = 16u << 20;
constexpr int kAppTitle = 961;
constexpr int kCannotOpenFile = 1167;

std::uint8_t KindOf(int kind) {
  return kind >= 0 && kind <= 255 ? static_cast<std::uint8_t>(kind) : std::uint8_t{kFilterUrl};
}

std::string_view Bounded(const std::string* value, size_t limit) {
  if (!value) return {};
  return std::string_view(*value).substr(0, std::min(value->size(), limit));
}

// The old per-scope list: split at ';', leading blanks skipped, up to the
// first empty element.
std::vector<std::string> SplitOldList(std::string_view text) {
  std::vector<std::string> items;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string item = SanitizePattern(text.substr(pos, end - pos));
    if (item.empty()) break;
    items.push_back(std::move(item));
    pos = end + 1;
  }
  return items;
}

bool ReadFile(const std::string& path, std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "rbe");
  if (!file) return false;
  char buffer[65536];
  size_t n = 0;
  while (text.size() < kImportFileMax && (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (text.size() > kImportFileMax) text.resize(kImportFileMax);
  return !failed;
}

}  // namespace

FilterTexts& GlobalFilters() {
  static FilterTexts texts;
  return texts;
}

FilterVerdict FilterRequest(const FilterScopes& scopes, std::string_view url) {
  struct List {
    std::string_view text;
    FilterVerdict onMatch;
  };
  const List lists[] = {
      {scopes.userAllow, FilterVerdict::Allow},   {scopes.userDeny, FilterVerdict::Refuse},
      {scopes.groupAllow, FilterVerdict::Allow},  {scopes.groupDeny, FilterVerdict::Refuse},
      {scopes.globalAllow, FilterVerdict::Allow}, {scopes.globalDeny, FilterVerdict::Refuse},
  };
  bool any = false;
  for (const List& list : lists) any = any || !list.text.empty();
  if (!any) return FilterVerdict::Allow;
  UrlParts parts = SplitUrl(url);
  for (const List& list : lists)
    if (!list.text.empty() && FilterListMatches(list.text, parts)) return list.onMatch;
  return FilterVerdict::Allow;
}

FilterVerdict FilterRequest(const UserRecord& user, std::string_view url) {
  std::string texts[6];
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    FilterScopes held = FilterScopesOfLocked(user);
    const std::string_view views[6] = {held.userAllow, held.userDeny,    held.groupAllow,
                                       held.groupDeny, held.globalAllow, held.globalDeny};
    for (int i = 0; i < 6; ++i) texts[i] = std::string(views[i]);
  }
  return FilterRequest(FilterScopes{texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]}, url);
}

FilterScopes FilterScopesOfLocked(const UserRecord& user) {
  FilterScopes scopes{user.allowFilter,          user.denyFilter, "", "", GlobalFilters().allowFilter,
                      GlobalFilters().denyFilter};
  if (user.group) {
    scopes.groupAllow = user.group->allowFilter;
    scopes.groupDeny = user.group->denyFilter;
  }
  return scopes;
}

bool ConvertOldFilterList(std::string_view key, IniDocument& settings) {
  bool global = EqualsNoCase(key, kGlobalScopeKey);
  const std::string* old =
      global ? FindValue(settings, "System", "Filter") : FindValue(settings, kOldFiltersSection, key);
  if (!old) return false;
  std::vector<std::string> items;
  if (global) {
    for (const std::string& item : SplitList(Bounded(old, kListTextMax))) {
      std::string pattern = SanitizePattern(item);
      if (!pattern.empty()) items.push_back(std::move(pattern));
    }
  } else {
    items = SplitOldList(Bounded(old, kOldListMax));
  }
  if (items.empty()) return false;
  FilterList list;
  list.enabled = true;
  for (std::string& item : items) list.entries.push_back({std::move(item), global ? kFilterUrl : kFilterHost, 0});
  SetValue(settings, kDenyFiltersSection, key, FormatFilterText(list));
  if (global)
    RemoveKey(settings, "System", "Filter");
  else
    RemoveKey(settings, kOldFiltersSection, key);
  return true;
}

FilterTexts LoadFilters(std::string_view key, AccountSource& source) {
  if (source.settings && ConvertOldFilterList(key, *source.settings)) source.settingsChanged = true;
  FilterTexts texts;
  texts.denyFilter = std::string(Bounded(FindValue(*source.source, kDenyFiltersSection, key), kListTextMax));
  texts.allowFilter = std::string(Bounded(FindValue(*source.source, kAllowFiltersSection, key), kListTextMax));
  return texts;
}

void LoadGlobalFilters(AccountSource& source) { GlobalFilters() = LoadFilters(kGlobalScopeKey, source); }

bool AddFilterEntry(std::vector<FilterEntry>& list, std::string_view pattern, int kind) {
  std::string clean = SanitizePattern(pattern);
  if (clean.empty()) return false;
  list.push_back({std::move(clean), KindOf(kind), 0});
  return true;
}

bool EditFilterEntry(std::vector<FilterEntry>& list, size_t index, std::string_view pattern, int kind) {
  std::string clean = SanitizePattern(pattern);
  if (clean.empty() || index >= list.size()) return false;
  list[index].pattern = std::move(clean);
  list[index].kind = KindOf(kind);
  return true;
}

void ToggleFilterEntry(std::vector<FilterEntry>& list, size_t index) {
  if (index < list.size()) list[index].off = list[index].off ? 0 : 1;
}

void DeleteFilterEntry(std::vector<FilterEntry>& list, size_t index) {
  if (index < list.size()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
}

std::vector<FilterEntry> ParseFilterImport(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<FilterEntry> entries;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == ';') continue;
    int kind = kFilterUrl;
    size_t semi = line.find(';');
    if (semi != std::string_view::npos) {
      std::int64_t stored = ParseIntPrefix(line.substr(semi + 1));
      kind = stored >= 0 && stored <= 4 ? static_cast<int>(stored) : kFilterUrl;
      line = line.substr(0, semi);
    }
    std::string pattern = SanitizePattern(line);
    if (!pattern.empty()) entries.push_back({std::move(pattern), static_cast<std::uint8_t>(kind), 0});
  }
  return entries;
}

EditOutcome ImportFilterFile(const std::string& path, bool replace, std::vector<FilterEntry>& list) {
  std::string text;
  if (!ReadFile(path, text)) return EditOutcome{false, Str(kAppTitle), Str(kCannotOpenFile) + path + "'"};
  std::vector<FilterEntry> entries = ParseFilterImport(text);
  if (replace) list.clear();
  list.insert(list.end(), entries.begin(), entries.end());
  return EditOutcome{};
}

void ApplyFilterLists(std::string_view scopeKey, bool enabled, const std::vector<FilterEntry>& deny,
                      const std::vector<FilterEntry>& allow, std::string& denyText, std::string& allowText) {
  std::string newDeny = FormatFilterText(FilterList{enabled, deny});
  std::string newAllow = FormatFilterText(FilterList{enabled, allow});
  IniWriteString(SettingsPath(), kDenyFiltersSection, scopeKey, newDeny);
  IniWriteString(SettingsPath(), kAllowFiltersSection, scopeKey, newAllow);
  std::lock_guard<std::mutex> lock(AccountsLock());
  denyText = std::move(newDeny);
  allowText = std::move(newAllow);
}

MonitorFilterChoice MonitorFilterDialog(const UserRecord* user, const GroupRecord* group) {
  MonitorFilterChoice choice;
  if (user) {
    choice.userEnabled = true;
    choice.groupEnabled = true;
    choice.proposed = FilterScope::User;
    choice.userName = user->name;
    if (user->group) choice.groupName = user->group->name;
  } else if (group) {
    choice.groupEnabled = true;
    choice.proposed = FilterScope::Group;
    choice.groupName = group->name;
  }
  return choice;
}

std::string AppendDenyEntry(std::string_view denyText, const FilterEntry& entry) {
  std::string_view current = Trim(denyText);
  // An empty text would make the entry's kind read as the enabled number,
  // leaving the new list switched off; start a list in force instead.
  std::string text = current.empty() ? "1; 0; " : std::string(current) + " ";
  text += FormatFilterEntry(entry);
  return std::string(Trim(text));
}

bool AddFilterFromMonitor(FilterScope scope, UserRecord* user, GroupRecord* group, int kind, std::string_view pattern) {
  FilterEntry entry{SanitizePattern(pattern), KindOf(kind), 0};
  if (entry.pattern.empty()) return false;
  std::string* target = nullptr;
  std::string key;
  if (scope == FilterScope::User) {
    if (!user || user->login.empty()) return false;
    target = &user->denyFilter;
    key = user->login;
  } else if (scope == FilterScope::Group) {
    if (!group && user) group = user->group;
    if (!group) return false;
    target = &group->denyFilter;
    key = GroupScopeKey(group->number);
  } else {
    target = &GlobalFilters().denyFilter;
    key = kGlobalScopeKey;
  }
  std::string text;
  {
    std::lock_guard<std::mutex> lock(AccountsLock());
    *target = AppendDenyEntry(*target, entry);
    text = *target;
  }
  IniWriteString(SettingsPath(), kDenyFiltersSection, key, text);
  return true;
}

}  // namespace brindlex
