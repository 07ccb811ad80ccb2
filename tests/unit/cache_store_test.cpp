#include "cache/cache_store.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <thread>

#include "cache/cache_thread.h"
#include "core/clock.h"
#include "core/ini_file.h"
#include "core/program_folder.h"
#include "core/settings.h"

namespace brindlex {
namespace {

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

// A program folder with an empty Cache folder and settings file, a manual
// clock, and a cache thread whose pass steps the test runs by hand.
class CacheStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brindlex_cache_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    savedFolder_ = ProgramFolder();
    savedSettingsPath_ = SettingsPath();
    SetProgramFolder(folder_);
    SetSettingsPath(folder_ + "/Brindlex.ini");
    ASSERT_TRUE(EnsureFolder(CacheFolder()));
    LoadCounters(IniDocument{});
    PublishSettings(SystemSettings{});
    clock_.local = clock_.localBase = LocalSeconds(2026, 3, 14, 12, 0, 0);
    SetProgramClock(&clock_);
    Restart();
  }
  void TearDown() override {
    thread_.reset();
    ResetCacheIndex();
    SetProgramClock(nullptr);
    PublishSettings(SystemSettings{});
    SetProgramFolder(savedFolder_);
    SetSettingsPath(savedSettingsPath_);
    std::filesystem::remove_all(folder_);
  }

  // What a start of the program does: the counter from the settings file, a
  // new thread that loads the index file.
  void Restart() {
    thread_.reset();
    ResetCacheIndex();
    LoadCounters(LoadIniFile(SettingsPath()));
    thread_ = std::make_unique<TCachThread>();
    thread_->filePause = std::chrono::milliseconds(0);
  }
  void Pass() {
    thread_->FolderScan();
    thread_->AgeAndSizeLimits();
  }
  // Asks the running thread for a pass and waits for one that began after
  // the request: the pass under way may have begun before it, the one after
  // cannot have.
  bool PassAfterNow() {
    std::uint64_t passes = thread_->PassCount();
    RequestCachePass();
    if (!thread_->WaitForPasses(passes + 1, std::chrono::seconds(60))) return false;
    RequestCachePass();
    return thread_->WaitForPasses(passes + 2, std::chrono::seconds(60));
  }

  // A whole download through the worker's calls; returns the object ID.
  std::uint32_t Download(const std::string& url, const std::string& body, const std::string& etag = "",
                         std::int64_t contentLength = -1) {
    std::optional<CacheObjectFile> file = CreateCacheObjectFile();
    EXPECT_TRUE(file);
    EXPECT_TRUE(AppendCacheObjectFile(*file, kHead.data(), kHead.size()));
    EXPECT_TRUE(AppendCacheObjectFile(*file, body.data(), body.size()));
    CacheRecordFixed fixed;
    fixed.lastUsed = fixed.received = CacheNow();
    fixed.headerLength = static_cast<std::uint16_t>(kHead.size());
    FinishCacheObjectFile(*file, fixed, url, etag, static_cast<std::int64_t>(body.size()), contentLength);
    return file->objectId;
  }
  void Later(std::int64_t seconds) { clock_.local += seconds; }

  bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
  bool ObjectExists(std::uint32_t id) { return Exists(CacheObjectPath(id)); }
  void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::optional<CacheRecordFixed> Record(const std::string& url) {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    std::optional<std::size_t> offset = FindCacheRecordLocked(url);
    if (!offset) return std::nullopt;
    return ReadCacheRecordLocked(*offset);
  }
  // The byte sizes of the caps: KbPerMb 1 makes a megabyte 1024 bytes.
  void Caps(double sizeKb, double objectKb) {
    ChangeSettings([&](SystemSettings& s) { s.KbPerMb = 1; });
    ChangeSettings([&](SystemSettings& s) { s.CachSizeMax = sizeKb; });
    ChangeSettings([&](SystemSettings& s) { s.CachLengthMax = objectKb; });
  }

  std::string folder_;
  std::string savedFolder_;
  std::string savedSettingsPath_;
  ManualClock clock_;
  std::unique_ptr<TCachThread> thread_;
};

TEST_F(CacheStoreTest, IndexSurvivesARestartAndIdsContinue) {
  // A fresh installation: nothing is written until something changes.
  EXPECT_FALSE(SaveCacheIndexIfDirty());
  EXPECT_FALSE(Exists(CacheIndexPath()));

  EXPECT_EQ(Download("http://h/a.html", "alpha", "\"t1\""), 0u);
  EXPECT_EQ(Download("http://h/b.html", "beta!!"), 1u);
  ASSERT_TRUE(SaveCacheIndexIfDirty());
  EXPECT_EQ(ReadFile(CacheIndexPath()).size(), 256u + 76 + 15 + 4 + 76 + 15);
  EXPECT_EQ(IniReadString(SettingsPath(), "System", "CurIdCach", ""), "2");

  Restart();
  std::optional<CacheRecordFixed> a = Record("http://h/a.html");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->objectId, 0u);
  EXPECT_EQ(a->bodyLength, 5);
  EXPECT_EQ(a->headerLength, kHead.size());
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    EXPECT_EQ(CacheRecordEtagLocked(*FindCacheRecordLocked("http://h/a.html")), "\"t1\"");
  }
  EXPECT_EQ(CountCacheObjects().objects, 2);
  EXPECT_EQ(Download("http://h/c.html", "gamma"), 2u);
  // Both files have their records, so the scan keeps them.
  Pass();
  EXPECT_TRUE(ObjectExists(0) && ObjectExists(1) && ObjectExists(2));
  EXPECT_EQ(thread_->totalSize, 3 * static_cast<std::int64_t>(kHead.size()) + 5 + 6 + 5);
}

// A save that cannot write (here its temporary file's name is taken by a
// folder) leaves the old index file as it was and the index dirty, so the
// next save writes the change once the disk takes it again.
TEST_F(CacheStoreTest, AFailedIndexSaveKeepsTheOldFileAndIsRetried) {
  Download("http://h/a", "alpha");
  ASSERT_TRUE(SaveCacheIndexIfDirty());
  std::string before = ReadFile(CacheIndexPath());

  Download("http://h/b", "beta");
  std::filesystem::create_directory(CacheIndexPath() + ".tmp");
  EXPECT_FALSE(SaveCacheIndexIfDirty());
  EXPECT_EQ(ReadFile(CacheIndexPath()), before) << "the old file is intact";
  EXPECT_FALSE(SaveCacheIndexIfDirty()) << "still dirty: tried again, and failed again";

  std::filesystem::remove(CacheIndexPath() + ".tmp");
  ASSERT_TRUE(SaveCacheIndexIfDirty()) << "the change is written once the disk takes it";
  EXPECT_FALSE(Exists(CacheIndexPath() + ".tmp"));
  Restart();
  EXPECT_TRUE(Record("http://h/a") && Record("http://h/b"));
}

TEST_F(CacheStoreTest, IndexWithChecksumOffByOneComesUpEmpty) {
  Download("http://h/a", "alpha");
  SaveCacheIndexIfDirty();
  std::string file = ReadFile(CacheIndexPath());
  file[92] = static_cast<char>(file[92] + 1);
  WriteFile(CacheIndexPath(), file);

  Restart();
  EXPECT_EQ(CountCacheObjects().objects, 0);
  ASSERT_TRUE(SaveCacheIndexIfDirty());
  std::string empty = ReadFile(CacheIndexPath());
  ASSERT_EQ(empty.size(), 256u);
  EXPECT_TRUE(ParseIndexFile(reinterpret_cast<const std::uint8_t*>(empty.data()), empty.size()));
  // The object lost its record with the index and goes with the next scan.
  Pass();
  EXPECT_FALSE(ObjectExists(0));
}

TEST_F(CacheStoreTest, ScanDeletesOnlyObjectFilesWithoutRecords) {
  std::uint32_t kept = Download("http://h/kept", "body");
  WriteFile(CacheObjectPath(77), kHead + "orphan");
  for (const char* stranger : {"notes.ch", "0000004d.ch", "~view.ch"}) WriteFile(CacheFolder() + "/" + stranger, "x");
  std::optional<CacheObjectFile> writing = CreateCacheObjectFile();
  ASSERT_TRUE(writing);

  thread_->FolderScan();
  EXPECT_TRUE(ObjectExists(kept));
  EXPECT_FALSE(ObjectExists(77));
  EXPECT_TRUE(ObjectExists(writing->objectId));
  for (const char* stranger : {"notes.ch", "0000004d.ch", "~view.ch"})
    EXPECT_TRUE(Exists(CacheFolder() + "/" + stranger)) << stranger;
  EXPECT_EQ(Record("http://h/kept")->diskSize, static_cast<std::int32_t>(kHead.size() + 4));
  EXPECT_EQ(thread_->totalSize, static_cast<std::int64_t>(kHead.size() + 4));

  // An abandoned download is the scan's to delete.
  AbandonCacheObjectFile(*writing);
  thread_->FolderScan();
  EXPECT_FALSE(ObjectExists(writing->objectId));

  // A record whose file has gone is removed by the next limits step.
  ::unlink(CacheObjectPath(kept).c_str());
  Pass();
  EXPECT_FALSE(Record("http://h/kept"));
}

TEST_F(CacheStoreTest, AboveTheSizeCapLeastRecentlyUsedGoUntil95Percent) {
  // Files of 1000 bytes, a cap of 4000 (3800 after eviction), no object cap.
  Caps(4000.0 / 1024, 1000);
  const std::string body(1000 - kHead.size(), 'b');
  std::uint32_t ids[5];
  for (int i = 0; i < 5; ++i) {
    ids[i] = Download("http://h/" + std::to_string(i), body);
    Later(60);
  }
  // A hit makes the oldest the most recently used.
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    MarkCacheHitLocked(*FindCacheRecordLocked("http://h/0"));
  }
  Pass();
  EXPECT_LE(thread_->totalSize, 3800);
  EXPECT_EQ(thread_->totalSize, 3000);
  EXPECT_TRUE(Record("http://h/0"));
  EXPECT_FALSE(Record("http://h/1"));
  EXPECT_FALSE(Record("http://h/2"));
  EXPECT_TRUE(Record("http://h/3") && Record("http://h/4"));
  // Files stay until the next scan finds them without records.
  EXPECT_TRUE(ObjectExists(ids[1]));
  Pass();
  EXPECT_FALSE(ObjectExists(ids[1]) || ObjectExists(ids[2]));
  EXPECT_TRUE(ObjectExists(ids[0]) && ObjectExists(ids[3]) && ObjectExists(ids[4]));
  EXPECT_EQ(CountCacheObjects().objects, 3);
}

TEST_F(CacheStoreTest, BodyOfExactlyTheObjectCapStays) {
  Caps(10000, 1000.0 / 1024);
  std::uint32_t exact = Download("http://h/exact", std::string(1000, 'e'));
  std::uint32_t over = Download("http://h/over", std::string(1001, 'o'));
  Pass();
  EXPECT_TRUE(ObjectExists(exact));
  EXPECT_TRUE(Record("http://h/exact"));
  EXPECT_FALSE(ObjectExists(over));
  EXPECT_FALSE(Record("http://h/over"));
}

TEST_F(CacheStoreTest, AgeLimitCountsFromTheLastHit) {
  ChangeSettings([&](SystemSettings& s) { s.CachTimeStored = 1; });
  Download("http://h/old", "x");
  Download("http://h/hit", "x");
  Later(3600);
  Pass();
  EXPECT_TRUE(Record("http://h/old"));
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    MarkCacheHitLocked(*FindCacheRecordLocked("http://h/hit"));
  }
  Later(1);
  Pass();
  EXPECT_FALSE(Record("http://h/old"));
  EXPECT_TRUE(Record("http://h/hit"));
}

TEST_F(CacheStoreTest, RepeatedDownloadsOfOneUrl) {
  std::uint32_t first = Download("http://h/u", "one", "v1");
  std::uint32_t second = Download("http://h/u", "two!", "v1");
  EXPECT_EQ(CountCacheObjects().objects, 1);
  EXPECT_EQ(Record("http://h/u")->objectId, second);
  EXPECT_EQ(Record("http://h/u")->bodyLength, 4);
  Pass();
  EXPECT_FALSE(ObjectExists(first));

  std::uint32_t third = Download("http://h/u", "three", "v2");
  EXPECT_EQ(Record("http://h/u")->objectId, third);
  Pass();
  std::vector<std::uint8_t> snapshot = SnapshotCacheIndex();
  EXPECT_EQ(ListSnapshot(snapshot.data(), snapshot.size()).size(), 1u);
  EXPECT_EQ(snapshot.size(), 76u + 10 + 2);
  EXPECT_FALSE(ObjectExists(second));
  EXPECT_TRUE(ObjectExists(third));
}

TEST_F(CacheStoreTest, DownloadsThatMakeNoRecord) {
  std::uint32_t cut = Download("http://h/cut", "half", "", 8);
  std::uint32_t huge = Download(std::string(70000, 'u'), "x");
  EXPECT_EQ(CountCacheObjects().objects, 0);
  EXPECT_EQ(Download("http://h/full", "full", "", 4), huge + 1);
  EXPECT_EQ(CountCacheObjects().objects, 1);
  Pass();
  EXPECT_FALSE(ObjectExists(cut));
  EXPECT_FALSE(ObjectExists(huge));
}

TEST_F(CacheStoreTest, ConsoleDeleteCountsAndSnapshot) {
  Download("http://h/a", "12345");
  std::uint32_t b = Download("http://h/b", "123", "tag");
  Download("http://h/c", "1");
  EXPECT_EQ(CountCacheObjects().objects, 3);
  EXPECT_EQ(CountCacheObjects().bodyBytes, 9);

  EXPECT_TRUE(DeleteCacheObject("http://h/b"));
  EXPECT_FALSE(DeleteCacheObject("http://h/b"));
  EXPECT_FALSE(DeleteCacheObject("http://h/B"));
  EXPECT_EQ(CountCacheObjects().objects, 2);
  EXPECT_EQ(CountCacheObjects().bodyBytes, 6);
  std::vector<std::uint8_t> snapshot = SnapshotCacheIndex();
  std::vector<CacheListing> listed = ListSnapshot(snapshot.data(), snapshot.size());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[1].url, "http://h/c");
  EXPECT_EQ(listed[1].fixed.bodyLength, 1);
  EXPECT_TRUE(ObjectExists(b));
  Pass();
  EXPECT_FALSE(ObjectExists(b));
}

TEST_F(CacheStoreTest, RevalidationRefreshesOnlyWhatTheAnswerCarried) {
  Download("http://h/r", "x");
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    std::size_t offset = *FindCacheRecordLocked("http://h/r");
    CacheRecordFixed f = ReadCacheRecordLocked(offset);
    f.expires = 111;
    f.lastModified = 222;
    f.touched = 0;
    WriteCacheRecordLocked(offset, f);
  }
  Later(100);
  RevalidationHeaders headers;
  headers.dateHeader = 5000;
  headers.lastModified = 333;
  EXPECT_TRUE(RefreshOnNotModified("http://h/r", headers));
  EXPECT_FALSE(RefreshOnNotModified("http://h/none", headers));
  CacheRecordFixed f = *Record("http://h/r");
  EXPECT_EQ(f.dateHeader, 5000);
  EXPECT_EQ(f.ageHeader, -1);
  EXPECT_EQ(f.expires, 111);
  EXPECT_EQ(f.lastModified, 333);
  EXPECT_EQ(f.received, CacheNow());
  EXPECT_EQ(f.lastUsed, CacheNow());
  EXPECT_EQ(f.touched, 1);
}

TEST_F(CacheStoreTest, ViewerCopyHoldsTheBody) {
  std::uint32_t page = Download("http://h/dir/page.html?q=1", "<p>hi</p>");
  std::uint32_t script = Download("http://h/run", "data");
  WriteFile(CacheFolder() + "/~view.old", "stale");

  std::optional<std::string> path = WriteViewerCopy("http://h/dir/page.html?q=1", page);
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, CacheFolder() + "/~view.html");
  EXPECT_EQ(ReadFile(*path), "<p>hi</p>");
  EXPECT_FALSE(Exists(CacheFolder() + "/~view.old"));

  path = WriteViewerCopy("http://h/run", script);
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, CacheFolder() + "/~view.cgi");
  EXPECT_FALSE(Exists(CacheFolder() + "/~view.html"));

  EXPECT_FALSE(WriteViewerCopy("http://h/" + std::string(260, 'l'), page));
  EXPECT_FALSE(WriteViewerCopy("http://h/missing", 999));
  WriteFile(CacheObjectPath(998), "HTTP/1.0 200 OK\r\nno end");
  EXPECT_FALSE(WriteViewerCopy("http://h/x", 998));
}

TEST_F(CacheStoreTest, RunningThreadKeepsFolderAndIndexInStepUnderLoad) {
  WriteFile(CacheObjectPath(4000), kHead + "orphan");
  thread_->filePause = std::chrono::milliseconds(1);
  thread_->passPause = std::chrono::milliseconds(1);
  thread_->passInterval = std::chrono::hours(1);
  thread_->Start();
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w)
    workers.emplace_back([this, w] {
      for (int i = 0; i < 25; ++i) Download("http://h/" + std::to_string(w) + "/" + std::to_string(i), "body");
    });
  for (std::thread& t : workers) t.join();
  EXPECT_TRUE(PassAfterNow());
  thread_->Stop();

  EXPECT_FALSE(ObjectExists(4000));
  std::vector<std::uint8_t> snapshot = SnapshotCacheIndex();
  std::set<std::uint32_t> ids;
  for (const CacheListing& l : ListSnapshot(snapshot.data(), snapshot.size())) {
    ids.insert(l.fixed.objectId);
    EXPECT_TRUE(ObjectExists(l.fixed.objectId)) << l.url;
  }
  EXPECT_EQ(ids.size(), 100u);
  // Stopping saved the index as it stands (DiskSize, which every scan finds
  // again, may lag behind).
  std::string file = ReadFile(CacheIndexPath());
  std::optional<std::span<const std::uint8_t>> saved =
      ParseIndexFile(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
  ASSERT_TRUE(saved);
  std::set<std::uint32_t> savedIds;
  for (const CacheListing& l : ListSnapshot(saved->data(), saved->size())) savedIds.insert(l.fixed.objectId);
  EXPECT_EQ(savedIds, ids);
}

TEST_F(CacheStoreTest, ThreadPassesSoonAfterWorkIsHandedOverAndSleepsOtherwise) {
  thread_->passInterval = std::chrono::hours(1);
  thread_->Start();
  ASSERT_TRUE(thread_->WaitForPasses(1, std::chrono::seconds(10))) << "a pass at start";
  auto waitForSecondPass = [&] { return thread_->WaitForPasses(2, std::chrono::milliseconds(300)); };
  EXPECT_FALSE(waitForSecondPass()) << "a pass with nothing handed over";

  std::uint32_t id = Download("http://h/a", "body");
  auto handedOver = std::chrono::steady_clock::now();
  ASSERT_TRUE(thread_->WaitForPasses(2, std::chrono::seconds(10)));
  EXPECT_LT(std::chrono::steady_clock::now() - handedOver, std::chrono::seconds(5));
  EXPECT_EQ(Record("http://h/a")->diskSize, static_cast<std::int32_t>(kHead.size() + 4))
      << "the pass measured the finished object";
  EXPECT_NE(ReadFile(CacheIndexPath()).find("http://h/a"), std::string::npos) << "and saved the index";
  EXPECT_FALSE(thread_->WaitForPasses(3, std::chrono::milliseconds(300))) << "the pass asked for no other";

  WriteFile(CacheObjectPath(id + 1), kHead + "stray");
  ASSERT_TRUE(DeleteCacheObject("http://h/a"));
  ASSERT_TRUE(thread_->WaitForPasses(3, std::chrono::seconds(10)));
  EXPECT_FALSE(ObjectExists(id)) << "the console's deletion reached the folder";
  EXPECT_FALSE(ObjectExists(id + 1));
  EXPECT_EQ(thread_->PassCount(), 3u);
}

}  // namespace
}  // namespace brindlex
