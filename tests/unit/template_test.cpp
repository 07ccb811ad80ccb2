#include "http/template.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "core/clock.h"
#include "core/connection.h"
#include "core/program_folder.h"

namespace brindlex {
namespace {

TemplateValues Values() { return TemplateValues{"host.example", "/a/b", "07.12.2026", "09:05:01", {}}; }

TEST(TemplateText, MacrosAreReplacedInAnyCaseAndContentSplitsHeadFromTail) {
  struct Case {
    const char* text;
    const char* head;
    const char* tail;
  };
  const Case cases[] = {
      {"<p>%HOST%%URL%</p>%CONTENT%<i>%cur_date% %Cur_Time%</i>", "<p>host.example/a/b</p>",
       "<i>07.12.2026 09:05:01</i>"},
      {"ends with a macro %URL%", "ends with a macro /a/b", ""},
      {"%CONTENT%", "", ""},
      {"100% sure, %HOST %HOST%%", "100% sure, %HOST host.example%", ""},
      {"a%CONTENT%b%CONTENT%c", "a", "bc"},  // a second marker adds nothing
      {"", "", ""},
  };
  for (const Case& c : cases) {
    std::string head = "stale", tail = "stale";
    EXPECT_FALSE(FillTemplateText(c.text, Values(), head, &tail)) << c.text;
    EXPECT_EQ(head, c.head) << c.text;
    EXPECT_EQ(tail, c.tail) << c.text;
  }
}

TEST(TemplateText, WithoutATailTheMarkerIsDropped) {
  std::string head;
  EXPECT_FALSE(FillTemplateText("a%CONTENT%b", Values(), head, nullptr));
  EXPECT_EQ(head, "ab");
}

TEST(TemplateText, UserMacrosStopTheFillAndAskForAUser) {
  for (const char* macro : {"%USER_NAME%", "%user_login%", "%REST_DAY_MB%", "%TABLE_WORK_TIME%", "%STAT_MON_MONEY_R%",
                            "%TABLE_STAT_DAYS%"}) {
    std::string head, tail;
    EXPECT_TRUE(FillTemplateText(std::string("before %HOST% ") + macro + " after", Values(), head, &tail)) << macro;
    EXPECT_EQ(head, "before host.example ") << macro;
  }
}

TEST(TemplateText, WithAUserItsMacrosAreFilledAndNoUserIsAskedFor) {
  TemplateValues values = Values();
  values.user = [](UserMacro macro) { return "<" + std::to_string(static_cast<int>(macro)) + ">"; };
  std::string head, tail;
  EXPECT_FALSE(FillTemplateText("%USER_NAME% %user_login% %REST_DAY_MB%%CONTENT%%STAT_MON_MONEY_R% %TABLE_STAT_DAYS%",
                                values, head, &tail));
  EXPECT_EQ(head, "<0> <1> <4>");
  EXPECT_EQ(tail, "<19> <20>");
}

TEST(TemplateText, ClientTextIsEscaped) {
  TemplateValues values{"<script>", "/?q=\"x\"&y='z'", "", "", {}};
  std::string head;
  FillTemplateText("%HOST%|%URL%", values, head, nullptr);
  EXPECT_EQ(head, "&lt;script&gt;|/?q=&quot;x&quot;&amp;y=&#39;z&#39;");
}

TEST(TemplateFile, ReadFromTheWebRootAndMissingFilesGiveEmptyParts) {
  std::string saved = ProgramFolder();
  char pattern[] = "/tmp/brindlex-template-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  std::string folder = pattern;
  SetProgramFolder(folder);
  ASSERT_TRUE(EnsureFolder(WwwrootFolder()));
  std::ofstream(WwwrootFolder() + "/page.html") << "[%HOST%]%CONTENT%[%CUR_DATE% %CUR_TIME%]";

  ManualClock clock;
  clock.local = LocalSeconds(2026, 3, 4, 5, 6, 7);
  SetProgramClock(&clock);
  ConnectionRecord* record = NewConnection(kServiceHttp);
  record->host = "h";
  std::string head, tail;
  EXPECT_FALSE(FillTemplate(*record, "page.html", head, &tail));
  EXPECT_EQ(head, "[h]");
  EXPECT_EQ(tail, "[04.03.2026 05:06:07]");
  EXPECT_FALSE(FillTemplate(*record, "missing.html", head, &tail));
  EXPECT_EQ(head, "");
  EXPECT_EQ(tail, "");
  delete record;
  SetProgramClock(nullptr);
  SetProgramFolder(saved);
  std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace
}  // namespace brindlex
