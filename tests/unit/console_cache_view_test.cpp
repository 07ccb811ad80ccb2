#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "console/cache_view.h"
#include "console_fake_engine.h"

namespace brindlex {
namespace {

using testing::FakeConsoleEngine;

std::vector<ConsoleCacheEntry> Entries() {
  return {{"http://b.lan/page", 300, 1700000000, 1700000100, 0, -1},
          {"", 999, 1, 1, 1, 1},
          {"http://a.lan/Index.html", 300, 1600000000, 0, 0, 0},
          {"http://c.lan/index.html", 50, -1, 0, 0, 0},
          {"http://d.lan/index.htm", 7000, 0, 0, 0, 0}};
}

std::vector<std::string> Urls(const CacheList& list) {
  std::vector<std::string> urls;
  for (const ConsoleCacheEntry& entry : list.Rows()) urls.push_back(entry.url);
  return urls;
}

TEST(ConsoleCacheView, RowsWithAUrlAndTheirCells) {
  CacheList list;
  list.Load(Entries());
  ASSERT_EQ(list.Rows().size(), 4u);
  EXPECT_EQ(list.Cell(0, kCacheUrl), "http://b.lan/page");
  EXPECT_EQ(list.Cell(0, kCacheLength), "300");
  EXPECT_EQ(list.Cell(0, kCacheCreated), "14.11.2023 22:13:20");
  EXPECT_EQ(list.Cell(0, kCacheAccepted), "14.11.2023 22:15:00");
  EXPECT_EQ(list.Cell(0, kCacheUsed), "-");
  EXPECT_EQ(list.Cell(0, kCacheValidUntil), "-");
  EXPECT_EQ(list.Cell(2, kCacheCreated), "-");
  EXPECT_FALSE(list.Selected());
  EXPECT_EQ(CacheColumnCaptions(),
            (std::vector<std::string>{"URL", "Длина", "Создан", "Принят", "Использован", "Годен"}));
}

TEST(ConsoleCacheView, SortingByNumbersThenByUrl) {
  CacheList list;
  list.Load(Entries());
  list.Sort(kCacheLength, false);
  EXPECT_EQ(Urls(list), (std::vector<std::string>{"http://c.lan/index.html", "http://a.lan/Index.html",
                                                  "http://b.lan/page", "http://d.lan/index.htm"}));
  list.Sort(kCacheLength, true);
  EXPECT_EQ(Urls(list), (std::vector<std::string>{"http://d.lan/index.htm", "http://b.lan/page",
                                                  "http://a.lan/Index.html", "http://c.lan/index.html"}));
  list.Sort(kCacheCreated, false);
  EXPECT_EQ(Urls(list).front(), "http://c.lan/index.html") << "-1 is the smallest number";
  EXPECT_EQ(Urls(list).back(), "http://b.lan/page");
  list.Sort(kCacheUrl, false);
  EXPECT_EQ(Urls(list), (std::vector<std::string>{"http://a.lan/Index.html", "http://b.lan/page",
                                                  "http://c.lan/index.html", "http://d.lan/index.htm"}));
}

TEST(ConsoleCacheView, FindAndFindNextCountLetterCase) {
  CacheList list;
  list.Load(Entries());
  EXPECT_FALSE(list.FindNext()) << "nothing remembered yet";
  EXPECT_FALSE(list.Selected());
  ASSERT_TRUE(list.Find("index.htm"));
  EXPECT_EQ(list.Selected(), 2u) << "Index.html does not hold it";
  ASSERT_TRUE(list.FindNext());
  EXPECT_EQ(list.Selected(), 3u);
  EXPECT_FALSE(list.FindNext()) << "no further row";
  EXPECT_EQ(list.Selected(), 3u);
  EXPECT_EQ(list.SearchText(), "index.htm");
  list.Select(0);
  ASSERT_TRUE(list.FindNext());
  EXPECT_EQ(list.Selected(), 2u) << "from the row after the selection";
  EXPECT_FALSE(list.Find("INDEX"));
  EXPECT_EQ(list.Selected(), 2u);
}

TEST(ConsoleCacheView, RefreshReselectsTheSameUrl) {
  CacheList list;
  list.Load(Entries());
  list.Select(2);
  std::vector<ConsoleCacheEntry> fresh = Entries();
  fresh.erase(fresh.begin());
  list.Load(fresh);
  ASSERT_TRUE(list.Selected());
  EXPECT_EQ(list.Rows()[*list.Selected()].url, "http://c.lan/index.html");
  list.Load({{"http://e.lan/", 1, 0, 0, 0, 0}});
  EXPECT_FALSE(list.Selected());
  list.Find("e.lan");
  list.Release();
  EXPECT_TRUE(list.Rows().empty());
  EXPECT_EQ(list.SearchText(), "e.lan");
}

TEST(ConsoleCacheView, DeletingAsksTheEngineAndDropsTheRow) {
  FakeConsoleEngine engine;
  CacheList list;
  list.Load(Entries());
  EXPECT_FALSE(list.DeleteSelected(engine));
  list.Select(3);
  ASSERT_TRUE(list.DeleteSelected(engine));
  EXPECT_EQ(engine.deletedUrls, (std::vector<std::string>{"http://d.lan/index.htm"}));
  EXPECT_EQ(list.Rows().size(), 3u);
  EXPECT_EQ(list.Selected(), 2u);
  list.Select(0);
  list.DeleteSelected(engine);
  EXPECT_EQ(list.Rows()[*list.Selected()].url, "http://a.lan/Index.html");
}

TEST(ConsoleCacheView, TheTwoLabels) {
  CacheFigures figures;
  EXPECT_EQ(CacheTrafficLabel(figures), "Интернет: 0Мб; Кэш: 0Мб;");
  figures.internetBytes = 3 * 1048576;
  figures.cacheBytes = 1048576;
  EXPECT_EQ(CacheTrafficLabel(figures), "Интернет: 3Мб; Кэш: 1Мб; (25%)");
  figures.bytesPerMb = 2 * 1048576;
  figures.cacheBytes = 2 * 1048576;
  EXPECT_EQ(CacheTrafficLabel(figures), "Интернет: 1.5Мб; Кэш: 1Мб; (40%)");
  figures.objects = 2;
  figures.objectBytes = 1572864;
  EXPECT_EQ(CacheObjectsLabel(figures), "Объектов: 2; Размер: 1.5Мб;");
}

}  // namespace
}  // namespace brindlex
