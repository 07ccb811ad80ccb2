// The disk cache of HTTP objects: the shared cache index and its lock, the
// index file Cache/cache.lst, the object files Cache/%.8X.ch, and the
// operations the HTTP workers and the console's cache page call.
//
// Locking: one cache index lock (a plain mutex, CacheIndexLock) guards the
// shared index (block, used length, capacity, dirty flag) and the set of
// object files still being written. Functions ending in "Locked" expect the
// caller to hold it; every other function takes it itself when it needs it.
// It is never held together with the accounts lock: release one before taking
// the other. Offsets returned under the lock are valid only until the lock is
// released, because records move (compaction) and the block is reallocated
// (reserve, shrink); copy what you need before releasing it.
//
// Object IDs come from TakeCacheObjectId (settings), which is atomic and
// writes CurIdCach before it returns.
//
// Work for the cache thread is handed over here: every operation that leaves
// something for a pass to do (an index change to save, an object file to
// measure or delete, a record to drop) asks for a pass, so the thread can
// sleep while the cache is left alone. The thread's own steps ask for none.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_index.h"

namespace brindlex {

std::mutex& CacheIndexLock();
// The shared index. REQUIRES CacheIndexLock.
CacheIndex& CacheIndexLocked();

// Now on the cache's time scale: Greenwich seconds of the program clock.
std::int64_t CacheNow();
// The size cap, (KbPerMb x 1024) x CachSizeMax bytes, and the per-object cap,
// CachLengthMax x 1024 x KbPerMb bytes; both truncated, read live.
std::int64_t CacheSizeCapBytes();
std::int64_t CacheObjectCapBytes();

std::string CacheIndexPath();
std::string CacheObjectPath(std::uint32_t objectId);

// --- Hand-over to the cache thread ---------------------------------------------

// Asks for a pass soon and wakes the thread's wait. Any thread; the cache index
// lock may be held.
void RequestCachePass();
// Waits until a pass is asked for or `limit` went by, then takes every request
// made so far: the pass that follows serves them. A zero limit only takes them.
// The cache thread only.
void TakeCachePassRequests(std::chrono::milliseconds limit);

// --- Index file ---------------------------------------------------------------

// Replaces the shared index by the index file. A missing or unreadable file
// leaves it empty and clean; a damaged one leaves it empty and dirty. Returns
// whether a file was accepted.
bool LoadCacheIndexFile();
// Writes the index file when the index is dirty (WriteFileAtomically). A
// write that fails leaves the index dirty, so the next call tries again; a
// change made during the write keeps it dirty too. Returns whether a file was
// written.
bool SaveCacheIndexIfDirty();
// Empties the shared index to its initial capacity.
void ResetCacheIndex();
// Gives back room when the block is mostly empty.
void ShrinkCacheIndex();

// --- Request path ---------------------------------------------------------------

// The offset of the live record of `url`, if any.
std::optional<std::size_t> FindCacheRecordLocked(std::string_view url);
// A copy of the record's fixed part / its ETag.
CacheRecordFixed ReadCacheRecordLocked(std::size_t offset);
std::string CacheRecordEtagLocked(std::size_t offset);
// Rewrites the record's fixed part; its RecordLength is kept. Marks dirty.
void WriteCacheRecordLocked(std::size_t offset, const CacheRecordFixed& fixed);
// A hit: LastUsed := now, Touched := 1, dirty.
void MarkCacheHitLocked(std::size_t offset);
// A 304 answer: the headers it carried, Received := LastUsed := now, Touched,
// dirty.
void RefreshCacheRecordLocked(std::size_t offset, const RevalidationHeaders& headers);
// The same, finding the record itself; false when `url` has none.
bool RefreshOnNotModified(std::string_view url, const RevalidationHeaders& headers);

// An object file being written. While it is open the folder scan leaves it
// alone (on this platform an open file can be deleted, and the download would
// be lost).
struct CacheObjectFile {
  std::uint32_t objectId = 0;
  int fd = -1;
};
// Takes a new object ID and creates its file, truncating any old one.
// nullopt when the file cannot be created.
std::optional<CacheObjectFile> CreateCacheObjectFile();
// Appends all of `data`; false on a short write (the caller abandons the file).
bool AppendCacheObjectFile(CacheObjectFile& file, const void* data, std::size_t length);
// Closes the file without a record; the next scan deletes it.
void AbandonCacheObjectFile(CacheObjectFile& file);
// Closes the file and adds its record (ObjectId taken from the file). No
// record is made when contentLength is not -1 and differs from bodyBytes, or
// when Url and ETag cannot be stored. Returns whether a record was made.
bool FinishCacheObjectFile(CacheObjectFile& file, const CacheRecordFixed& fixed, std::string_view url,
                           std::string_view etag, std::int64_t bodyBytes, std::int64_t contentLength);
// A stored object opened to be served: its file, read up to the end of the
// stored header block, and that block.
struct StoredObject {
  int fd = -1;
  std::string head;
};
// Opens the object file of a record. nullopt when the file is missing or
// damaged: not as long as the header block and body the record counts, or a
// header block that does not end with its blank line.
std::optional<StoredObject> OpenStoredObject(const CacheRecordFixed& fixed);
// Forgets the record of `url` when it still names this object, whose file
// turned out missing or damaged; the next scan deletes the file.
void DropDamagedObject(std::string_view url, std::uint32_t objectId);

// Whether an object file of this ID is still being written.
bool ObjectFileInProgressLocked(std::uint32_t objectId);

// --- Folder scan ------------------------------------------------------------------

enum class ObjectFileFate { Matched, Deleted, InProgress };
// One object file met by the scan: a file with a live record whose body fits
// the per-object cap gets its DiskSize; a file still being written is left
// alone; any other is deleted.
ObjectFileFate ScanObjectFile(std::uint32_t objectId, const std::string& path, std::int64_t fileSize);

// --- Console's cache page -----------------------------------------------------------

// A copy of the used part of the block; list it with ListSnapshot.
std::vector<std::uint8_t> SnapshotCacheIndex();
// Marks the record of `url` deleted; its file goes at the next scan.
bool DeleteCacheObject(std::string_view url);
// Live records and the sum of their BodyLength.
CacheCounts CountCacheObjects();
// Deletes the old viewer copies and writes the body of the object to
// Cache/~view<extension>. Returns its path, or nullopt when nothing can be
// shown (Url too long, object file missing, no end of the stored header).
std::optional<std::string> WriteViewerCopy(std::string_view url, std::uint32_t objectId);
// Sets the bytes fetched from the Internet and served from the cache to 0.
void ResetCacheStatistics();

}  // namespace brindlex
