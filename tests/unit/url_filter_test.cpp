#include "core/url_filter.h"

#include <gtest/gtest.h>

#include "core/strings.h"
#include "tests/unit/account_test_env.h"

namespace brindlex {
namespace {

using testing::AccountTest;

constexpr auto kAllow = FilterVerdict::Allow;
constexpr auto kRefuse = FilterVerdict::Refuse;

TEST(FilterRequestTest, ListsDecideInTheirOrder) {
  const char* lanDeny = "1; 0; 1, *.lan, 0;";
  const char* lanAllow = "1; 0; 1, *.lan, 0;";
  struct Case {
    const char* name;
    FilterScopes scopes;
    const char* url;
    FilterVerdict verdict;
  } cases[] = {
      {"no texts", {}, "http://any.host/x", kAllow},
      {"user allow beats global deny", {lanAllow, "", "", "", "", lanDeny}, "http://srv.lan/", kAllow},
      {"global deny alone", {"", "", "", "", "", lanDeny}, "http://srv.lan/", kRefuse},
      {"user deny beats group allow", {"", lanDeny, lanAllow, "", "", ""}, "http://srv.lan/", kRefuse},
      {"group allow beats global deny", {"", "", lanAllow, "", "", lanDeny}, "http://srv.lan/", kAllow},
      {"user allow beats user deny", {lanAllow, lanDeny, "", "", "", ""}, "http://srv.lan/", kAllow},
      {"extension refused", {"", "", "", "1; 0; 3, .exe, 0;", "", ""}, "http://h/a/b.exe", kRefuse},
      {"extension of a dotted folder", {"", "", "", "1; 0; 3, .exe, 0;", "", ""}, "http://h/a.b/c.exe", kAllow},
      {"entry switched off", {"", "1; 0; 1, *.lan, 1;", "", "", "", ""}, "http://srv.lan/", kAllow},
      {"list disabled", {"", "0; 0; 1, *.lan, 0;", "", "", "", ""}, "http://srv.lan/", kAllow},
      {"host ads exact", {"", "1; 0; 1, ads, 0;", "", "", "", ""}, "http://ads/banner", kRefuse},
      {"host ads not ads.lan", {"", "1; 0; 1, ads, 0;", "", "", "", ""}, "http://ads.lan/banner", kAllow},
      {"host ads* on ads.lan", {"", "1; 0; 1, ads*, 0;", "", "", "", ""}, "http://ads.lan/banner", kRefuse},
      {"query is not looked at", {"", "1; 0; 0, *.exe, 0;", "", "", "", ""}, "http://h/run?f=a.exe", kAllow},
      {"case does not count", {"", "1; 0; 0, HTTP://H/*, 0;", "", "", "", ""}, "http://h/X", kRefuse},
      {"kind 4 sees the empty text", {"", "1; 0; 4, , 0;", "", "", "", ""}, "http://h/", kRefuse},
  };
  for (const Case& c : cases) EXPECT_EQ(FilterRequest(c.scopes, c.url), c.verdict) << c.name;
}

class UrlFilterTest : public AccountTest {};

TEST_F(UrlFilterTest, RequestOfAUserUsesItsGroupAndTheGlobalLists) {
  LoadFrom(
      "[Groups]\r\n00000000=Default\r\n[Users]\r\nivan=Ivan\r\n"
      "[FiltersW]\r\nivan=1; 0; 1, *.lan, 0;\r\n"
      "[Filters]\r\ng00000000=1; 0; 3, .exe, 0;\r\nGlobal=1; 0; 1, *.lan, 0; 1, bad.com, 0;\r\n");
  const UserRecord& ivan = *FindUser("ivan");
  EXPECT_EQ(FilterRequest(ivan, "http://srv.lan/x.exe"), kAllow);
  EXPECT_EQ(FilterRequest(ivan, "http://srv.com/x.exe"), kRefuse);
  EXPECT_EQ(FilterRequest(ivan, "http://bad.com/"), kRefuse);
  EXPECT_EQ(FilterRequest(ivan, "http://good.com/"), kAllow);
}

TEST_F(UrlFilterTest, OldListsBecomeDenyTexts) {
  LoadFrom(
      "[System]\r\nFilter=x.com; y.com\r\n[Groups]\r\n00000000=Default\r\n00000002=Two\r\n"
      "[Users]\r\nivan=Ivan\r\npetr=Petr\r\n[BlackList]\r\nivan=one.lan; two.lan\r\ng00000002=a.lan;;b.lan\r\n"
      "petr=\r\n");
  EXPECT_EQ(FindUser("ivan")->denyFilter, "1; 0; 1, one.lan, 0; 1, two.lan, 0;");
  EXPECT_EQ(Stored("Filters", "ivan"), "1; 0; 1, one.lan, 0; 1, two.lan, 0;");
  EXPECT_EQ(Stored("BlackList", "ivan"), "<absent>");
  EXPECT_EQ(FindGroup(2)->denyFilter, "1; 0; 1, a.lan, 0;");  // stops at the first empty element
  EXPECT_EQ(GlobalFilters().denyFilter, "1; 0; 0, x.com, 0; 0, y.com, 0;");
  EXPECT_EQ(Stored("System", "Filter"), "<absent>");
  EXPECT_EQ(Stored("BlackList", "petr"), "");  // nothing to convert: left alone
}

TEST(FilterImportTest, ReadsPatternLines) {
  std::vector<FilterEntry> expected = {{"ads.com", 1, 0}, {"x", 0, 0},   {"y", 0, 0}, {"z", 4, 0},
                                       {"w", 0, 0},       {"a?b", 2, 0}, {"v", 1, 0}, {"u", 0, 0}};
  EXPECT_EQ(
      ParseFilterImport("\xEF\xBB\xBF; a comment\n\nads.com;1\nx;7\n   y\nz;4\nw;-2\na,b;2\r\nv ;1\r\nu;\n  ;3\n"),
      expected);
}

TEST_F(UrlFilterTest, ImportAppendsOrReplaces) {
  WriteText(Path("urls.flt"), "one;1\ntwo\n");
  std::vector<FilterEntry> list = {{"old", 0, 1}};
  EXPECT_TRUE(ImportFilterFile(Path("urls.flt"), false, list).ok);
  EXPECT_EQ(list, (std::vector<FilterEntry>{{"old", 0, 1}, {"one", 1, 0}, {"two", 0, 0}}));
  EXPECT_TRUE(ImportFilterFile(Path("urls.flt"), true, list).ok);
  EXPECT_EQ(list.size(), 2u);

  EditOutcome failed = ImportFilterFile(Path("missing.flt"), true, list);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.caption, Str(961));
  EXPECT_EQ(failed.message, "Не возможно открыть файл '" + Path("missing.flt") + "'");
  EXPECT_EQ(list.size(), 2u);
}

TEST_F(UrlFilterTest, EditorListOperationsAndApply) {
  std::vector<FilterEntry> deny, allow;
  EXPECT_FALSE(AddFilterEntry(deny, "  ", kFilterHost));
  EXPECT_TRUE(AddFilterEntry(deny, "ads*", kFilterHost));
  EXPECT_TRUE(AddFilterEntry(deny, "*.exe", kFilterExtension));
  EXPECT_TRUE(AddFilterEntry(allow, "good.lan", kFilterHost));
  EXPECT_TRUE(EditFilterEntry(deny, 1, ".exe", kFilterExtension));
  EXPECT_FALSE(EditFilterEntry(deny, 5, "x", 0));
  ToggleFilterEntry(deny, 0);
  DeleteFilterEntry(deny, 9);
  ApplyFilterLists(kGlobalScopeKey, true, deny, allow, GlobalFilters().denyFilter, GlobalFilters().allowFilter);
  EXPECT_EQ(GlobalFilters().denyFilter, "1; 0; 1, ads*, 1; 3, .exe, 0;");
  EXPECT_EQ(Stored("Filters", "Global"), GlobalFilters().denyFilter);
  EXPECT_EQ(Stored("FiltersW", "Global"), "1; 0; 1, good.lan, 0;");
  ApplyFilterLists(kGlobalScopeKey, false, deny, {}, GlobalFilters().denyFilter, GlobalFilters().allowFilter);
  EXPECT_EQ(Stored("FiltersW", "Global"), "0; 0;");
}

TEST_F(UrlFilterTest, AddFromMonitorPutsTheEntryInForce) {
  LoadFrom(
      "[Groups]\r\n00000000=Default\r\n00000003=Three\r\n[Users]\r\nivan=Ivan; ; ; 0; 0; 0; 0; 0; 0; 0; 1-24/; 0; 0; "
      "3\r\n");
  UserRecord* ivan = FindUser("ivan");
  ASSERT_TRUE(AddFilterFromMonitor(FilterScope::User, ivan, nullptr, kFilterHost, "ads.com"));
  EXPECT_EQ(ivan->denyFilter, "1; 0; 1, ads.com, 0;");
  EXPECT_EQ(Stored("Filters", "ivan"), ivan->denyFilter);
  EXPECT_EQ(FilterRequest(*ivan, "http://ads.com/"), kRefuse);

  ASSERT_TRUE(AddFilterFromMonitor(FilterScope::User, ivan, nullptr, kFilterUrl, "http://x/a;0, *"));
  EXPECT_EQ(ParseFilterText(ivan->denyFilter).entries.size(), 2u);
  EXPECT_EQ(FilterRequest(*ivan, "http://other/"), kAllow);  // no forged catch-all entry
  EXPECT_EQ(FilterRequest(*ivan, "http://x/a;0, *"), kRefuse);

  ASSERT_TRUE(AddFilterFromMonitor(FilterScope::Group, ivan, nullptr, kFilterHost, "g.com"));
  EXPECT_EQ(Stored("Filters", "g00000003"), "1; 0; 1, g.com, 0;");
  ASSERT_TRUE(AddFilterFromMonitor(FilterScope::Global, nullptr, nullptr, kFilterHost, "all.com"));
  EXPECT_EQ(Stored("Filters", "Global"), "1; 0; 1, all.com, 0;");
  EXPECT_FALSE(AddFilterFromMonitor(FilterScope::Group, nullptr, nullptr, kFilterHost, "x"));
  EXPECT_FALSE(AddFilterFromMonitor(FilterScope::Global, nullptr, nullptr, kFilterHost, ""));

  // A disabled list stays disabled: the check box is the administrator's.
  EXPECT_EQ(AppendDenyEntry("0; 0; 1, a, 0;", {"b", 1, 0}), "0; 0; 1, a, 0; 1, b, 0;");
}

}  // namespace
}  // namespace brindlex
