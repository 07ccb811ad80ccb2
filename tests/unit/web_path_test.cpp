#include "web/web_path.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

TEST(WebPath, ADotDotSegmentInAnySpellingIsRefused) {
  for (const char* path : {"/..", "/../Brindlex.ini", "/sub/../index.html", "/%2e%2e/Brindlex.ini", "/%2E%2e",
                           "/.%2e/x", "/..\\Brindlex.ini", "/sub\\..\\index.html", "/a/%2e%2e%2fb", "/x/..?q=1",
                           "\\..\\x", "\\admin\\x", "index.html", "", "/a%00.html"}) {
    EXPECT_TRUE(ParseWebTarget(path).refused) << path;
  }
  for (const char* path : {"/...", "/..a", "/a..b/c", "/%252e%252e/x", "/?..", "/x?../.."}) {
    EXPECT_FALSE(ParseWebTarget(path).refused) << path;
  }
}

TEST(WebPath, TheAdminCheckSeesTheNormalisedPath) {
  for (const char* path : {"/admin/x", "//admin/x", "/./admin/x", "/ADMIN/x", "/Admin/", "/admin", "/%61dmin/x",
                           "/admin%2fx", "/././/admin//x?y"}) {
    WebTarget target = ParseWebTarget(path);
    EXPECT_FALSE(target.refused) << path;
    EXPECT_TRUE(target.admin) << path;
  }
  for (const char* path : {"/", "/administrator/x", "/x/admin/y", "/admin.html", "/?admin/x"})
    EXPECT_FALSE(ParseWebTarget(path).admin) << path;
}

TEST(WebPath, FileNameQueryAndExtension) {
  struct Case {
    const char* path;
    const char* file;
    bool atRoot;
    const char* extension;
    const char* query;
  };
  const Case cases[] = {
      {"/", "index.html", true, "html", "null"},
      {"/?", "index.html", true, "html", "null"},
      {"/prog.exe?x=1", "prog.exe", true, "exe", "x=1"},
      {"/prog.exe?x=1?y\r\nHost: a", "prog.exe", true, "exe", "x=1?y"},
      {"/sub/page.html", "sub/page.html", false, "html", "null"},
      {"//sub/./page.html", "sub/page.html", false, "html", "null"},
      {"/sub/", "sub/index.html", false, "html", "null"},
      {"/admin/", "admin/index.html", false, "html", "null"},
      {"/a.tar.gz", "a.tar.gz", true, "tar.gz", "null"},
      {"/d.x/readme", "d.x/readme", false, "", "null"},
      {"/my%20page.HTM", "my page.HTM", true, "HTM", "null"},
      {"/proxy.pac", "proxy.pac", true, "pac", "null"},
  };
  for (const Case& c : cases) {
    WebTarget target = ParseWebTarget(c.path);
    EXPECT_FALSE(target.refused) << c.path;
    EXPECT_EQ(target.file, c.file) << c.path;
    EXPECT_EQ(target.atRoot, c.atRoot) << c.path;
    EXPECT_EQ(target.extension, c.extension) << c.path;
    EXPECT_EQ(target.query, c.query) << c.path;
  }
}

}  // namespace
}  // namespace brindlex
