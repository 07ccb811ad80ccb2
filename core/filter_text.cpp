#include "core/filter_text.h"

#include <algorithm>

#include "core/chars.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

bool IsWild(char c) { return c == '*' || c == '?'; }

void SkipOne(std::string_view text, size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) ++pos;
}

// Blanks, a sign and digits. `found` tells whether any digit was there.
long ReadInteger(std::string_view text, size_t& pos, bool& found) {
  pos = SkipBlanks(text, pos);
  size_t start = pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
  long value = 0;
  size_t digits = pos;
  while (pos < text.size() && IsDigit(text[pos])) {
    if (value < 1000000) value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  found = pos > digits;
  if (!found) pos = start;
  return negative ? -value : value;
}

void SkipPastSemicolon(std::string_view text, size_t& pos) {
  size_t semi = text.find(';', pos);
  pos = semi == std::string_view::npos ? text.size() : semi + 1;
}

// Kind and off are bytes; a stored number outside a byte is kept out of the
// four URL parts (kind) or counts as switched off (off).
std::uint8_t KindByte(long value) { return value >= 0 && value <= 255 ? static_cast<std::uint8_t>(value) : 255; }
std::uint8_t OffByte(long value) { return value >= 0 && value <= 255 ? static_cast<std::uint8_t>(value) : 1; }

size_t FindRun(std::string_view text, size_t from, std::string_view run) {
  if (run.size() > text.size()) return std::string_view::npos;
  for (size_t at = from; at + run.size() <= text.size(); ++at)
    if (StartsWithNoCase(text.substr(at), run)) return at;
  return std::string_view::npos;
}

size_t RunEnd(std::string_view pattern, size_t from) {
  size_t end = from;
  while (end < pattern.size() && !IsWild(pattern[end])) ++end;
  return end;
}

}  // namespace

FilterCursor OpenFilterText(std::string_view text) {
  FilterCursor cursor;
  cursor.text = text;
  bool found = false;
  cursor.enabled = ReadInteger(text, cursor.pos, found) != 0;
  cursor.pos = SkipBlanks(text, cursor.pos);
  SkipOne(text, cursor.pos, ';');
  ReadInteger(text, cursor.pos, found);
  cursor.pos = SkipBlanks(text, cursor.pos);
  SkipOne(text, cursor.pos, ';');
  return cursor;
}

bool NextFilterEntry(FilterCursor& cursor, FilterEntryView& entry) {
  std::string_view text = cursor.text;
  size_t& pos = cursor.pos;
  while (pos < text.size()) {
    bool found = false;
    long kind = ReadInteger(text, pos, found);
    if (!found) {
      SkipPastSemicolon(text, pos);
      continue;
    }
    pos = SkipBlanks(text, pos);
    SkipOne(text, pos, ',');
    pos = SkipBlanks(text, pos);
    size_t patternEnd = text.find_first_of(",;", pos);
    if (patternEnd == std::string_view::npos) patternEnd = text.size();
    entry.pattern = text.substr(pos, patternEnd - pos);
    pos = patternEnd;
    pos = SkipBlanks(text, pos);
    SkipOne(text, pos, ',');
    long off = ReadInteger(text, pos, found);
    SkipPastSemicolon(text, pos);
    entry.kind = KindByte(kind);
    entry.off = OffByte(found ? off : 0);
    return true;
  }
  return false;
}

FilterList ParseFilterText(std::string_view text) {
  FilterList list;
  FilterCursor cursor = OpenFilterText(text);
  list.enabled = cursor.enabled;
  FilterEntryView view;
  while (NextFilterEntry(cursor, view)) list.entries.push_back({std::string(view.pattern), view.kind, view.off});
  return list;
}

std::string FormatFilterEntry(const FilterEntry& entry) {
  return std::to_string(entry.kind) + ", " + entry.pattern + ", " + std::to_string(entry.off) + "; ";
}

std::string FormatFilterText(const FilterList& list) {
  std::string text = list.enabled ? "1; 0; " : "0; 0; ";
  for (const FilterEntry& entry : list.entries) text += FormatFilterEntry(entry);
  return std::string(Trim(text));
}

std::string SanitizePattern(std::string_view pattern) {
  std::string clean(Trim(pattern));
  for (char& c : clean) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == ',' || c == ';' || u < 0x20 || u == 0x7f) c = '?';
  }
  return clean;
}

std::string_view UrlParts::Part(int kind) const {
  std::string_view all = url;
  switch (kind) {
    case kFilterUrl:
      return all;
    case kFilterHost:
      return all.substr(hostBegin, hostEnd - hostBegin);
    case kFilterResource:
      return all.substr(resourceBegin);
    case kFilterExtension:
      return all.substr(extensionBegin);
    default:
      return {};
  }
}

UrlParts SplitUrl(std::string_view url) {
  url = url.substr(0, url.find('?'));
  url = url.substr(0, std::min(url.size(), kFilterMatchLimit));
  UrlParts parts;
  parts.url.resize(url.size());
  std::transform(url.begin(), url.end(), parts.url.begin(), Lower);
  std::string_view all = parts.url;
  size_t slashes = all.find("//");
  parts.hostBegin = slashes == std::string_view::npos ? 0 : slashes + 2;
  size_t slash = all.find('/', parts.hostBegin);
  parts.hostEnd = slash == std::string_view::npos ? all.size() : slash;
  parts.resourceBegin = parts.hostEnd;
  size_t dot = all.find('.', parts.resourceBegin);
  parts.extensionBegin = dot == std::string_view::npos ? all.size() : dot;
  return parts;
}

bool WildcardMatch(std::string_view pattern, std::string_view text) {
  pattern = pattern.substr(0, std::min(pattern.size(), kFilterMatchLimit));
  text = text.substr(0, std::min(text.size(), kFilterMatchLimit));
  size_t i = 0;  // in pattern
  size_t j = 0;  // in text
  while (i < pattern.size()) {
    char c = pattern[i];
    if (c == '?') {
      if (j >= text.size()) return false;
      ++i;
      ++j;
      continue;
    }
    if (c == '*') {
      // Further stars add nothing, and a '?' right after a star takes one
      // character just as it would before the star.
      while (i < pattern.size() && IsWild(pattern[i])) {
        if (pattern[i] == '?') {
          if (j >= text.size()) return false;
          ++j;
        }
        ++i;
      }
      if (i == pattern.size()) return true;
      size_t end = RunEnd(pattern, i);
      std::string_view run = pattern.substr(i, end - i);
      size_t at = FindRun(text, j, run);
      if (at == std::string_view::npos) return false;
      j = at + run.size();
      i = end;
      continue;
    }
    size_t end = RunEnd(pattern, i);
    std::string_view run = pattern.substr(i, end - i);
    if (!StartsWithNoCase(text.substr(j), run)) return false;
    j += run.size();
    i = end;
  }
  return j == text.size();
}

bool FilterListMatches(std::string_view filterText, const UrlParts& parts) {
  FilterCursor cursor = OpenFilterText(filterText);
  if (!cursor.enabled) return false;
  FilterEntryView entry;
  while (NextFilterEntry(cursor, entry)) {
    if (entry.off) continue;
    if (WildcardMatch(entry.pattern, parts.Part(entry.kind))) return true;
  }
  return false;
}

}  // namespace brindlex
