// URL filter lists: the entry, the stored filter text, the four parts of a
// request URL that entries look at, and the wildcard match.
//
// A filter text reads "enabled; 0; kind, pattern, off; kind, pattern, off; ..."
// (the second number is always written 0 and ignored on reading). The matcher
// walks the text at every request without building a parsed copy. Pure
// functions over bounded views; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindlex {

// Kinds as the editor lists them; 4 and above match against the empty text.
enum FilterKind : std::uint8_t {
  kFilterUrl = 0,        // the whole URL up to its first '?'
  kFilterHost = 1,       // after the first "//" up to the next '/', port included
  kFilterResource = 2,   // from that '/' on
  kFilterExtension = 3,  // the resource from its first '.' on
};

// URLs and patterns are looked at up to this many characters; longer ones are cut.
inline constexpr size_t kFilterMatchLimit = 8191;

struct FilterEntry {
  std::string pattern;  // may hold '*' and '?', never ',' or ';'
  std::uint8_t kind = kFilterUrl;
  std::uint8_t off = 0;  // 0 = in force, otherwise switched off

  bool operator==(const FilterEntry&) const = default;
};

struct FilterList {
  bool enabled = false;
  std::vector<FilterEntry> entries;

  bool operator==(const FilterList&) const = default;
};

// Walks a filter text entry by entry. OpenFilterText reads the head (the
// enabled number and the ignored second number); NextFilterEntry yields the
// entries in stored order and skips unreadable ones up to their ';'. The
// yielded pattern views point into the text.
struct FilterCursor {
  std::string_view text;
  size_t pos = 0;
  bool enabled = false;
};
struct FilterEntryView {
  std::string_view pattern;
  std::uint8_t kind = 0;
  std::uint8_t off = 0;
};
FilterCursor OpenFilterText(std::string_view text);
bool NextFilterEntry(FilterCursor& cursor, FilterEntryView& entry);

FilterList ParseFilterText(std::string_view text);
// "kind, pattern, off; " for one entry.
std::string FormatFilterEntry(const FilterEntry& entry);
// The stored form, trimmed: "1; 0; 1, ads, 0; 0, *.exe, 1;".
std::string FormatFilterText(const FilterList& list);

// Makes a typed or captured text storable as a pattern: ',' and ';' (which
// would end the pattern and start a forged entry when read back) and control
// characters become '?', which still matches the character they replace.
std::string SanitizePattern(std::string_view pattern);

// The parts of a request URL, lower-cased and cut at the first '?' and at
// kFilterMatchLimit characters.
struct UrlParts {
  std::string url;  // the lower-cased, cut URL; the parts are ranges of it
  size_t hostBegin = 0, hostEnd = 0;
  size_t resourceBegin = 0;   // resource runs to the end
  size_t extensionBegin = 0;  // extension runs to the end
  // The text that an entry of `kind` is matched against (empty for 4 and above).
  std::string_view Part(int kind) const;
};
UrlParts SplitUrl(std::string_view url);

// Case-insensitive (ASCII) wildcard match: '?' takes one character; a run of
// ordinary characters must follow at the current position; '*' before a run
// takes up to the first occurrence of that run, with no backtracking to a
// later one; '*' at the end takes the rest. Both texts are cut at
// kFilterMatchLimit characters.
bool WildcardMatch(std::string_view pattern, std::string_view text);

// Verdict of one list for a URL: whether an entry in force matched. A list
// whose text is empty or disabled never matches.
bool FilterListMatches(std::string_view filterText, const UrlParts& parts);

}  // namespace brindlex
