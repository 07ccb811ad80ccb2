#include "cache/cache_index.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/date_time.h"

namespace brindlex {
namespace {

std::int32_t I32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  std::int32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);  // the test host is little-endian
  return v;
}

CacheRecordFixed Used(std::int32_t lastUsed, std::int32_t diskSize = 0) {
  CacheRecordFixed f;
  f.lastUsed = f.received = lastUsed;
  f.diskSize = diskSize;
  return f;
}

// Stores a record and then sets its DiskSize as a scan would.
std::size_t Add(CacheIndex& index, const std::string& url, std::int32_t lastUsed, std::int32_t diskSize = 0,
                const std::string& etag = "") {
  std::size_t offset = *StoreRecord(index, Used(lastUsed), url, etag, 10);
  CacheRecordFixed f = DecodeRecordFixed(index.block.data() + offset);
  f.diskSize = diskSize;
  EncodeRecordFixed(f, index.block.data() + offset);
  return offset;
}

std::vector<std::string> LiveUrls(CacheIndex& index) {
  std::vector<std::string> urls;
  for (const CacheListing& l : ListSnapshot(index.block.data(), index.used)) urls.push_back(l.url);
  return urls;
}

TEST(CacheIndexRecord, LayoutIsByteForByte) {
  CacheIndex index;
  CacheRecordFixed f;
  f.objectId = 0x11223344;
  f.lastUsed = -2;
  f.received = 0x01020304;
  f.dateHeader = 5;
  f.ageHeader = 6;
  f.maxAge = 7;
  f.expires = 8;
  f.lastModified = 9;
  f.mustRevalidate = 1;
  f.headerLength = 0x0102;
  f.diskSize = 77;  // a new record always starts at 0
  std::size_t offset = *StoreRecord(index, f, "http://a/", "e1", 0x00ABCDEF);
  ASSERT_EQ(offset, 0u);
  ASSERT_EQ(index.used, 87u);  // 76 + 9 + 2
  const std::vector<std::uint8_t> expected = {
      87, 0, 0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 5, 0, 0, 0, 6, 0,    0,    0,    7,
      0,  0, 0,    8,    0,    0,    0,    9,    0,    0,    0, 1, 2, 1, 1, 0, 0, 0, 0, 0xEF, 0xCD, 0xAB, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(index.block.begin(), index.block.begin() + 46), expected);
  // The file holds the same bytes, its reserved ones zero (in memory they
  // carry the high halves of the times: -2 has ones there).
  std::vector<std::uint8_t> file = BuildIndexFile(index.block.data(), index.used, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 256, file.begin() + 256 + 46), expected);
  for (std::size_t i = kOffReserved; i < kRecordFixedSize; ++i) EXPECT_EQ(file[256 + i], 0) << i;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(index.block.data() + 74), 13),
            std::string("http://a/\0e1\0", 13));
  EXPECT_TRUE(index.dirty);

  CacheRecordFixed back = DecodeRecordFixed(index.block.data());
  EXPECT_EQ(back.lastUsed, -2);
  EXPECT_EQ(back.headerLength, 0x0102);
  EXPECT_EQ(RecordUrl(index.block.data()), "http://a/");
  EXPECT_EQ(RecordEtag(index.block.data()), "e1");
}

TEST(CacheIndexRecord, UrlAndEtagThatCannotBeStoredAreRefused) {
  EXPECT_EQ(RecordLengthFor("", "e"), 0u);  // an empty Url means deleted
  EXPECT_EQ(RecordLengthFor(std::string("a\0b", 3), ""), 0u);
  EXPECT_EQ(RecordLengthFor("a", std::string("\0", 1)), 0u);
  EXPECT_EQ(RecordLengthFor(std::string(0xFFFF - 76, 'u'), ""), 0xFFFFu);
  EXPECT_EQ(RecordLengthFor(std::string(0xFFFF - 76, 'u'), "e"), 0u);  // RecordLength is a u16

  CacheIndex index;
  EXPECT_FALSE(StoreRecord(index, {}, std::string(70000, 'u'), "", 1));
  EXPECT_EQ(index.used, 0u);
  EXPECT_FALSE(index.dirty);
}

TEST(CacheIndexBlock, GrowsByATenthAndShrinksBack) {
  auto url = [](int n) {
    char suffix[12];  // room for any int, though n stays below 1000
    std::snprintf(suffix, sizeof(suffix), "%03d", n);
    return std::string(900, 'u') + suffix;
  };
  constexpr std::size_t kLength = 76 + 903;
  CacheIndex index;
  int n = 0;
  while (index.used + kLength < kInitialIndexCapacity) Add(index, url(n++), 1);
  EXPECT_EQ(index.block.size(), kInitialIndexCapacity);
  std::size_t before = index.used;
  Add(index, url(n++), 1);
  const std::size_t grown = before + kLength + kInitialIndexCapacity / 10;
  EXPECT_EQ(index.block.size(), grown);
  ShrinkIndex(index);  // more than four fifths in use: stays
  EXPECT_EQ(index.block.size(), grown);

  while (n < 40) Add(index, url(n++), 1);
  EXPECT_EQ(LiveUrls(index).size(), 40u);  // intact across the reallocations
  for (int i = 0; i < 40; i += 2) DeleteRecordByUrl(index, url(i));
  CompactIndex(index, 0, 1000);
  ASSERT_EQ(index.used, 20 * kLength);
  ShrinkIndex(index);
  EXPECT_EQ(index.block.size(), 20 * kLength + 20 * kLength / 10);
  EXPECT_EQ(LiveUrls(index).front(), url(1));
  for (int i = 1; i < 40; i += 4) DeleteRecordByUrl(index, url(i));
  CompactIndex(index, 0, 1000);
  ShrinkIndex(index);
  EXPECT_EQ(index.block.size(), kInitialIndexCapacity);
  EXPECT_EQ(LiveUrls(index).size(), 10u);
}

// Records that no walk may trust, each in a block of two records.
TEST(CacheIndexBlock, DamagedRecordEmptiesTheIndexOnEveryWalk) {
  struct Damage {
    const char* name;
    void (*apply)(CacheIndex&, std::size_t second);
    std::size_t soundBefore;  // records a snapshot listing still shows
  };
  const Damage cases[] = {
      {"length 0", [](CacheIndex& i, std::size_t s) { i.block[s] = i.block[s + 1] = 0; }, 1},
      {"past used", [](CacheIndex& i, std::size_t s) { i.block[s] += 1; }, 1},
      {"below minimum", [](CacheIndex& i, std::size_t s) { i.block[s] = 75, i.block[s + 1] = 0; }, 1},
      {"url not ended", [](CacheIndex& i, std::size_t) { std::memset(i.block.data() + i.used - 6, 'z', 6); }, 1},
      {"odd byte at end", [](CacheIndex& i, std::size_t) { i.block[i.used++] = 80; }, 2},
  };
  using Walk = void (*)(CacheIndex&);
  const std::pair<const char*, Walk> walks[] = {
      {"find", [](CacheIndex& i) { FindRecordByUrl(i, "http://none/"); }},
      {"find id", [](CacheIndex& i) { FindLiveRecordById(i, 12345); }},
      {"counts", [](CacheIndex& i) { EXPECT_EQ(CountRecords(i).objects, 0); }},
      {"scan start", [](CacheIndex& i) { MarkDiskSizesUnknown(i); }},
      {"evict", [](CacheIndex& i) { EvictLeastRecentlyUsed(i, 100, 10); }},
      {"compact", [](CacheIndex& i) { CompactIndex(i, 0, 100); }},
  };
  for (const Damage& damage : cases) {
    for (const auto& [walkName, walk] : walks) {
      CacheIndex index;
      Add(index, "http://first/", 0, 5);
      std::size_t second = Add(index, "http://two/", 0, 5);
      damage.apply(index, second);
      index.dirty = false;
      std::vector<std::uint8_t> snapshot(index.block.begin(), index.block.begin() + index.used);
      walk(index);
      EXPECT_EQ(index.used, 0u) << damage.name << " / " << walkName;
      EXPECT_TRUE(index.dirty) << damage.name << " / " << walkName;
      // A snapshot listing only stops: what came before the damage is listed.
      std::vector<CacheListing> listed = ListSnapshot(snapshot.data(), snapshot.size());
      ASSERT_EQ(listed.size(), damage.soundBefore) << damage.name;
      EXPECT_EQ(listed[0].url, "http://first/");
    }
  }
}

TEST(CacheIndexLimits, EvictsLeastRecentlyUsedDownTo95Percent) {
  CacheIndex index;
  Add(index, "http://new/", 500, 3000);
  Add(index, "http://old/", 100, 3000);
  Add(index, "http://gone/", 50, -1);  // not found by the scan: not counted
  Add(index, "http://fresh/", 10, 0);  // added since the scan: not counted
  Add(index, "http://mid/", 300, 3000);
  Add(index, "http://older/", 200, 3000);
  // 12600 of a 10000 cap: one object leaves 9600, still above 9500.
  EXPECT_EQ(EvictLeastRecentlyUsed(index, 12600, 10000), 6600);
  EXPECT_EQ(LiveUrls(index), (std::vector<std::string>{"http://new/", "http://gone/", "http://fresh/", "http://mid/"}));
  // Exactly 95 % is low enough.
  CompactIndex(index, 500, 1000);
  EXPECT_EQ(EvictLeastRecentlyUsed(index, 12500, 10000), 9500);
  EXPECT_EQ(LiveUrls(index), (std::vector<std::string>{"http://new/", "http://fresh/"}));
  // At the cap nothing goes.
  EXPECT_EQ(EvictLeastRecentlyUsed(index, 10000, 10000), 10000);
  EXPECT_EQ(LiveUrls(index).size(), 2u);
}

TEST(CacheIndexLimits, CompactionDropsDeletedMissingAndOld) {
  CacheIndex index;
  Add(index, "http://keep/", 1000, 10);
  Add(index, "http://edge/", 1000 - 3600, 10);
  Add(index, "http://old/", 1000 - 3601, 10);
  Add(index, "http://missing/", 1000, -1);
  Add(index, "http://deleted/", 1000, 10);
  Add(index, "http://new/", 1000, 0);
  DeleteRecordByUrl(index, "http://deleted/");
  index.dirty = false;
  CompactIndex(index, 1000, 3600);
  EXPECT_TRUE(index.dirty);
  EXPECT_EQ(LiveUrls(index), (std::vector<std::string>{"http://keep/", "http://edge/", "http://new/"}));
  EXPECT_EQ(index.used, 3 * 76 + std::strlen("http://keep/http://edge/http://new/"));

  // An age limit of 0 keeps only what was used this very second.
  MarkRecordHit(index, *FindRecordByUrl(index, "http://new/"), 1001);
  CompactIndex(index, 1001, 0);
  EXPECT_EQ(LiveUrls(index), std::vector<std::string>{"http://new/"});
}

// Times are 64-bit in memory; the file keeps its 32-bit fields, a time past
// them saved as the last (or first) second they hold.
TEST(CacheIndexFile, TimesPast2038LiveInMemoryAndAreClampedInTheFile) {
  constexpr std::int64_t k2040 = 2'209'032'000;
  CacheIndex index;
  CacheRecordFixed f;
  f.lastUsed = k2040 + 5;
  f.received = k2040;
  f.dateHeader = -1;
  f.expires = k2040 + 86400;
  f.lastModified = -3'000'000'000;  // before 1901
  ASSERT_TRUE(StoreRecord(index, f, "http://a/", "", 1));
  f.received = f.lastUsed = 1'800'000'000;
  f.expires = f.lastModified = 0;
  ASSERT_TRUE(StoreRecord(index, f, "http://b/", "", 1));

  CacheRecordFixed a = DecodeRecordFixed(index.block.data());
  EXPECT_EQ(a.lastUsed, k2040 + 5);
  EXPECT_EQ(a.received, k2040);
  EXPECT_EQ(a.dateHeader, -1);
  EXPECT_EQ(a.expires, k2040 + 86400);
  EXPECT_EQ(a.lastModified, -3'000'000'000);
  MarkRecordHit(index, 0, k2040 + 60);
  EXPECT_EQ(DecodeRecordFixed(index.block.data()).lastUsed, k2040 + 60);
  RefreshRecord(index, 0, RevalidationHeaders{k2040 + 10, std::nullopt, k2040 + 7200, std::nullopt}, k2040 + 70);
  a = DecodeRecordFixed(index.block.data());
  EXPECT_EQ(a.received, k2040 + 70);
  EXPECT_EQ(a.dateHeader, k2040 + 10);
  EXPECT_EQ(a.expires, k2040 + 7200);

  std::vector<std::uint8_t> file = BuildIndexFile(index.block.data(), index.used, 0);
  ASSERT_TRUE(ParseIndexFile(file.data(), file.size()));
  const std::size_t second = RecordLengthFor("http://a/", "");
  EXPECT_EQ(I32At(file, 256 + kOffLastUsed), INT32_MAX);
  EXPECT_EQ(I32At(file, 256 + kOffReceived), INT32_MAX);
  EXPECT_EQ(I32At(file, 256 + kOffDateHeader), INT32_MAX);
  EXPECT_EQ(I32At(file, 256 + second + kOffDateHeader), -1) << "absent stays absent";
  EXPECT_EQ(I32At(file, 256 + kOffExpires), INT32_MAX);
  EXPECT_EQ(I32At(file, 256 + kOffLastModified), INT32_MIN);
  for (std::size_t at : {std::size_t{256}, 256 + second})
    for (std::size_t i = kOffReserved; i < kRecordFixedSize; ++i) EXPECT_EQ(file[at + i], 0) << at << " " << i;

  // Loaded back: the 32-bit values, widened with their sign; reserved bytes
  // a foreign file filled do not leak into the times.
  file[256 + kOffReserved + 3] = 0x55;  // a foreign file's reserved byte, checksum made anew
  std::int32_t sum = IndexChecksum(file.data() + 256, file.size() - 256);
  std::memcpy(file.data() + 92, &sum, 4);
  CacheIndex loaded;
  ASSERT_TRUE(LoadIndexFromBytes(loaded, file.data(), file.size()));
  a = DecodeRecordFixed(loaded.block.data());
  EXPECT_EQ(a.lastUsed, INT32_MAX);
  EXPECT_EQ(a.received, INT32_MAX);
  EXPECT_EQ(a.dateHeader, INT32_MAX);
  EXPECT_EQ(a.expires, INT32_MAX);
  EXPECT_EQ(a.lastModified, INT32_MIN);
  CacheRecordFixed b = DecodeRecordFixed(loaded.block.data() + second);
  EXPECT_EQ(b.received, 1'800'000'000);
  EXPECT_EQ(b.expires, 0);
  EXPECT_EQ(b.dateHeader, -1);
}

TEST(CacheIndexFile, HeaderAndChecksum) {
  const std::vector<std::uint8_t> block = {0x80, 0xFF, 0x01, 0x7F};  // -128 - 1 + 1 + 127
  std::vector<std::uint8_t> file = BuildIndexFile(block.data(), block.size(), 46000.5);
  ASSERT_EQ(file.size(), 260u);
  EXPECT_STREQ(reinterpret_cast<const char*>(file.data()), "It is CachList a file for Brindlex V2.8");
  for (std::size_t i = std::strlen(kIndexFileText); i < 80; ++i) EXPECT_EQ(file[i], 0);
  EXPECT_EQ(I32At(file, 80), 280);
  double saved;
  std::memcpy(&saved, file.data() + 84, 8);
  EXPECT_EQ(saved, 46000.5);
  EXPECT_EQ(I32At(file, 92), -1);
  for (std::size_t i = 96; i < 256; ++i) EXPECT_EQ(file[i], 0);
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 256, file.end()), block);
  EXPECT_EQ(IndexChecksum(block.data(), block.size()), -1);

  EXPECT_DOUBLE_EQ(LocalSecondsToDateTime(0), 25569.0);
  EXPECT_DOUBLE_EQ(LocalSecondsToDateTime(86400 + 43200), 25570.5);
}

TEST(CacheIndexFile, AcceptsOnlyWholeSoundFiles) {
  CacheIndex source;
  Add(source, "http://a/", 1, 0, "tag");
  Add(source, "http://b/", 2);
  std::vector<std::uint8_t> good = BuildIndexFile(source.block.data(), source.used, 0);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    bool accepted;
  };
  std::vector<Case> cases = {{"whole", good, true}};
  cases.push_back({"header only", BuildIndexFile(nullptr, 0, 0), true});
  cases.push_back({"short header", std::vector<std::uint8_t>(good.begin(), good.begin() + 255), false});
  Case checksum{"checksum off by one", good, false};
  checksum.file[92] += 1;
  cases.push_back(checksum);
  Case format{"format 281", good, false};
  format.file[80] += 1;
  cases.push_back(format);
  // A cut body whose checksum was made to agree: the walk still refuses it.
  Case cut{"cut record", good, false};
  cut.file.resize(cut.file.size() - 3);
  std::int32_t sum = IndexChecksum(cut.file.data() + 256, cut.file.size() - 256);
  std::memcpy(cut.file.data() + 92, &sum, 4);
  cases.push_back(cut);

  for (const Case& c : cases) {
    CacheIndex index;
    Add(index, "http://stale/", 1);
    index.dirty = false;
    EXPECT_EQ(LoadIndexFromBytes(index, c.file.data(), c.file.size()), c.accepted) << c.name;
    EXPECT_EQ(index.dirty, !c.accepted) << c.name;
    if (c.accepted) {
      EXPECT_EQ(index.used, c.file.size() - 256) << c.name;
    } else {
      EXPECT_EQ(index.used, 0u) << c.name;
    }
  }
  CacheIndex loaded;
  LoadIndexFromBytes(loaded, good.data(), good.size());
  EXPECT_EQ(LiveUrls(loaded), (std::vector<std::string>{"http://a/", "http://b/"}));
  EXPECT_EQ(RecordEtag(loaded.block.data()), "tag");
}

TEST(CacheObjectFiles, NamesBodiesAndViewerExtensions) {
  EXPECT_EQ(ObjectFileBaseName(0xAB), "000000AB.ch");
  EXPECT_EQ(ParseObjectFileName("000000AB.ch"), 0xABu);
  EXPECT_EQ(ParseObjectFileName("FFFFFFFF.ch"), 0xFFFFFFFFu);
  for (const char* other :
       {"000000ab.ch", "0000000AB.ch", "000000AB.CH", "ZZ.ch", "~view.ch", "cache.lst", "000000AB.chx"})
    EXPECT_FALSE(ParseObjectFileName(other)) << other;

  auto start = [](const std::string& s) {
    return FindStoredBodyStart(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  EXPECT_EQ(start("HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody"), 25u);
  EXPECT_EQ(start("HTTP/1.0 200 OK\nA: b\n\nbody"), 22u);
  EXPECT_EQ(start("HTTP/1.0 200 OK\n\rbody"), 17u);
  EXPECT_EQ(start("HTTP/1.0 200 OK\r\n\r\n"), 19u);
  EXPECT_EQ(start("HTTP/1.0 200 OK\r\nA: b\r\n"), std::nullopt);
  EXPECT_EQ(start("\n"), std::nullopt);

  EXPECT_EQ(ViewerExtension("http://h/dir/pic.tar.gz?x=1.2"), ".tar.gz");
  EXPECT_EQ(ViewerExtension("http://h/a.b/page"), ".cgi");
  EXPECT_EQ(ViewerExtension("http://h/index.html"), ".html");
  EXPECT_EQ(ViewerExtension("http://h/" + std::string(250, 'a') + "?" + std::string(300, 'q')), ".cgi");
  EXPECT_EQ(ViewerExtension("http://h/" + std::string(251, 'a') + ".x"), std::nullopt);  // 260
}

}  // namespace
}  // namespace brindlex
