// The cache index file as it comes from disk, and every walk over the block it
// loads: none may read outside the block, and damage must leave the index
// empty and dirty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cache/cache_index.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brindlex;
  // The loader reads the block out of the file, so the fuzzer's buffer itself
  // is the bounds ASan watches.
  CacheIndex index;
  bool accepted = LoadIndexFromBytes(index, data, size);
  if (!accepted) {
    if (index.used != 0 || !index.dirty) std::abort();
    return 0;
  }
  if (index.used != size - kIndexFileHeaderSize || index.dirty) std::abort();

  std::vector<std::uint8_t> snapshot(index.block.begin(), index.block.begin() + index.used);
  std::vector<CacheListing> listed = ListSnapshot(snapshot.data(), snapshot.size());
  CacheCounts counts = CountRecords(index);
  if (counts.objects != static_cast<std::int64_t>(listed.size())) std::abort();
  for (const CacheListing& l : listed) {
    std::optional<std::size_t> found = FindRecordByUrl(index, l.url);
    if (!found || RecordUrl(index.block.data() + *found) != l.url) std::abort();
    FindLiveRecordById(index, l.fixed.objectId);
    // Times come widened from their 32-bit fields, whatever the reserved bytes held.
    for (std::int64_t time : {l.fixed.lastUsed, l.fixed.received, l.fixed.dateHeader, l.fixed.expires,
                              l.fixed.lastModified})
      if (time != static_cast<std::int32_t>(time)) std::abort();
    ViewerExtension(l.url);
  }
  FindStoredBodyStart(data, size);

  // A pass of the thread over what was loaded, then one more record.
  MarkDiskSizesUnknown(index);
  std::int64_t total = static_cast<std::int64_t>(size) * 3;
  EvictLeastRecentlyUsed(index, total, total / 2);
  CompactIndex(index, size > 300 ? data[300] * 1000 : 0, 3600);
  ShrinkIndex(index);
  std::string url = listed.empty() ? "http://fuzz/" : listed[0].url;
  StoreRecord(index, CacheRecordFixed{}, url, "tag", 1);
  if (WalkIndex(index, [](std::size_t) { return true; }) != WalkEnd::Finished) std::abort();
  std::vector<std::uint8_t> file = BuildIndexFile(index.block.data(), index.used, 0);
  CacheIndex again;
  if (!LoadIndexFromBytes(again, file.data(), file.size())) std::abort();
  return 0;
}
