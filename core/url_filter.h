// URL filters of users, groups and the whole gateway: the request check, the
// loading of filter texts (with the conversion of the old list forms), and the
// editor's list operations, import, apply and add-from-monitor.
//
// Each scope has a deny list (section "Filters") and an allow list (section
// "FiltersW"), keyed by the login, "g%.8u" of the group, or "Global".
//
// Threads: filter texts are replaced whole under the accounts lock, and a
// request check reads them under it (FilterRequest takes it for the moment of
// copying the six texts; the match itself runs without the lock).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/account_source.h"
#include "core/filter_text.h"
#include "core/settings.h"

namespace brindlex {

struct UserRecord;
struct GroupRecord;

inline constexpr const char* kGlobalScopeKey = "Global";

struct FilterTexts {
  std::string denyFilter;
  std::string allowFilter;
};

// The global filter texts, loaded at start-up.
FilterTexts& GlobalFilters();

enum class FilterVerdict { Allow, Refuse };

// The six lists of a request, in the order they are tried.
struct FilterScopes {
  std::string_view userAllow, userDeny, groupAllow, groupDeny, globalAllow, globalDeny;
};
// Tries the lists in order; the first entry in force that matches decides
// (allow list: Allow, deny list: Refuse). No match allows.
FilterVerdict FilterRequest(const FilterScopes& scopes, std::string_view url);
// The same for a user, its group and the global lists. Takes the accounts lock
// to copy the texts; the caller must not hold it.
FilterVerdict FilterRequest(const UserRecord& user, std::string_view url);
// The six texts of a user as views, for a caller that holds the accounts lock
// for as long as it uses them.
FilterScopes FilterScopesOfLocked(const UserRecord& user);

// Converts an old deny list of a scope, if there is one in `settings`: the
// "System" key Filter for "Global" (entries of kind URL), else the "BlackList"
// value of the key (entries of kind Host). The new deny text replaces the one
// in "Filters" and the old key is removed. Returns whether anything changed.
bool ConvertOldFilterList(std::string_view key, IniDocument& settings);

// The deny and allow texts of a scope, after converting its old list.
FilterTexts LoadFilters(std::string_view key, AccountSource& source);
// Loads the global texts into GlobalFilters().
void LoadGlobalFilters(AccountSource& source);

// Editor operations on a list shown in the editor. Add and edit refuse an empty
// pattern (the dialog keeps the focus on it) and make the pattern storable
// (SanitizePattern). Index operations ignore an index out of range.
bool AddFilterEntry(std::vector<FilterEntry>& list, std::string_view pattern, int kind);
bool EditFilterEntry(std::vector<FilterEntry>& list, size_t index, std::string_view pattern, int kind);
void ToggleFilterEntry(std::vector<FilterEntry>& list, size_t index);
void DeleteFilterEntry(std::vector<FilterEntry>& list, size_t index);

// Reads a pattern file's text: one entry per line ("pattern" or
// "pattern;kind"); blank lines and lines beginning with ';' add nothing; a
// kind outside 0..4 becomes 0; every entry is in force.
std::vector<FilterEntry> ParseFilterImport(std::string_view text);
// Imports a pattern file into a shown list, appended or replacing it. A file
// that cannot be read changes nothing and yields the box to show.
EditOutcome ImportFilterFile(const std::string& path, bool replace, std::vector<FilterEntry>& list);

// Writes a scope's two lists as filter texts to the settings file and keeps
// them in `denyText` and `allowText` (under the accounts lock). The two texts
// carry the same enabled value.
void ApplyFilterLists(std::string_view scopeKey, bool enabled, const std::vector<FilterEntry>& deny,
                      const std::vector<FilterEntry>& allow, std::string& denyText, std::string& allowText);

// Adding from the monitor or the statistics window: which scopes the dialog
// offers for a subject (a user, a group, or everybody when both are null) and
// which one it proposes.
enum class FilterScope { User, Group, Global };
struct MonitorFilterChoice {
  bool userEnabled = false;
  bool groupEnabled = false;
  FilterScope proposed = FilterScope::Global;
  std::string userName;
  std::string groupName;
};
MonitorFilterChoice MonitorFilterDialog(const UserRecord* user, const GroupRecord* group);
// Appends an entry in force to the deny text of the chosen scope (the user's,
// its group's or the given group's, or the global one) and writes that text.
// An empty deny text becomes an enabled list holding the entry. Returns false
// for an empty pattern or a scope without its record.
bool AddFilterFromMonitor(FilterScope scope, UserRecord* user, GroupRecord* group, int kind, std::string_view pattern);
// The deny text after appending one entry (the text stays trimmed).
std::string AppendDenyEntry(std::string_view denyText, const FilterEntry& entry);

}  // namespace brindlex
