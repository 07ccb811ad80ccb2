#include "core/filter_text.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindlex {
namespace {

TEST(FilterTextTest, ReadsStoredTexts) {
  struct Case {
    const char* text;
    FilterList expected;
  } cases[] = {
      {"1; 0; 1, ads, 0; 3, .exe, 1;", {true, {{"ads", 1, 0}, {".exe", 3, 1}}}},
      {"", {false, {}}},
      {"0; 0; 1, x, 0;", {false, {{"x", 1, 0}}}},
      {"1; 0; x, y, 0; 1, ok, 0;", {true, {{"ok", 1, 0}}}},               // unreadable entry skipped
      {"1; 0; 2, /a", {true, {{"/a", 2, 0}}}},                            // off missing reads 0
      {"1; 0; 1, a,b, 0; 2, c, 0;", {true, {{"a", 1, 0}, {"c", 2, 0}}}},  // ',' ends a pattern
      {"1; 0; 1, a, 0;1, b, 0; ", {true, {{"a", 1, 0}, {"b", 1, 0}}}},    // appended without a blank
      {"1;0;0,*.lan ,1", {true, {{"*.lan ", 0, 1}}}},
      {"7", {true, {}}},
      {"1; 0; 999, z, -5;", {true, {{"z", 255, 1}}}},  // out of byte range
  };
  for (const Case& c : cases) EXPECT_EQ(ParseFilterText(c.text), c.expected) << c.text;
}

TEST(FilterTextTest, WritesTheStoredForm) {
  FilterList list{true, {{"ads", 1, 0}, {"*.exe", 3, 1}}};
  EXPECT_EQ(FormatFilterText(list), "1; 0; 1, ads, 0; 3, *.exe, 1;");
  EXPECT_EQ(ParseFilterText(FormatFilterText(list)), list);
  EXPECT_EQ(FormatFilterText(FilterList{}), "0; 0;");
  EXPECT_EQ(ParseFilterText(FormatFilterText(FilterList{})), FilterList{});
}

TEST(FilterTextTest, SanitizedPatternsCannotForgeEntries) {
  EXPECT_EQ(SanitizePattern("  http://x/a;1, *, 0\n"), "http://x/a?1? *? 0");
  FilterList list{true, {{SanitizePattern("a;0, *"), 0, 0}}};
  EXPECT_EQ(ParseFilterText(FormatFilterText(list)).entries.size(), 1u);
}

TEST(FilterTextTest, WildcardMatch) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"abc", "abc", true},
      {"abc", "abcd", false},
      {"abc", "xabc", false},
      {"ABC", "abC", true},
      {"*abc*", "xxabcxx", true},
      {"*abc*", "xxabxx", false},
      {"*.lan", "host.lan", true},
      {"*.lan", "host.lan.com", false},
      {"*a.lan", "xa.lana.lan", false},  // the first occurrence is taken, no backtracking
      {"a*b", "abab", false},
      {"a*b*c", "axbyc", true},
      {"ads", "ads.lan", false},
      {"ads*", "ads.lan", true},
      {"ads*", "ads", true},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"?", "", false},
      {"*", "", true},
      {"", "", true},
      {"", "a", false},
      {"*?", "", false},
      {"*?", "abc", true},
      {"*?c", "abc", true},
      {"**b", "ab", true},
  };
  for (const Case& c : cases) EXPECT_EQ(WildcardMatch(c.pattern, c.text), c.match) << c.pattern << " ~ " << c.text;
}

TEST(FilterTextTest, LongTextsAreCut) {
  std::string text(10000, 'a');
  EXPECT_TRUE(WildcardMatch(std::string(kFilterMatchLimit, 'a'), text));
  EXPECT_FALSE(WildcardMatch("*b", text + "b"));  // the 'b' lies past the cut
}

TEST(FilterTextTest, UrlParts) {
  struct Case {
    const char* url;
    const char* whole;
    const char* host;
    const char* resource;
    const char* extension;
  } cases[] = {
      {"http://Host.Lan:8080/a/B.exe?x=1.2/y", "http://host.lan:8080/a/b.exe", "host.lan:8080", "/a/b.exe", ".exe"},
      {"http://h/a.b/c.exe", "http://h/a.b/c.exe", "h", "/a.b/c.exe", ".b/c.exe"},
      {"mail.example.com:443", "mail.example.com:443", "mail.example.com:443", "", ""},
      {"http://h", "http://h", "h", "", ""},
      {"http://h/", "http://h/", "h", "/", ""},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    UrlParts parts = SplitUrl(c.url);
    EXPECT_EQ(parts.Part(kFilterUrl), c.whole) << c.url;
    EXPECT_EQ(parts.Part(kFilterHost), c.host) << c.url;
    EXPECT_EQ(parts.Part(kFilterResource), c.resource) << c.url;
    EXPECT_EQ(parts.Part(kFilterExtension), c.extension) << c.url;
    EXPECT_EQ(parts.Part(4), "") << c.url;
  }
  EXPECT_EQ(SplitUrl(std::string(9000, 'x')).url.size(), kFilterMatchLimit);
}

}  // namespace
}  // namespace brindlex
