#include "cache/cache_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <memory>
#include <set>

#include "core/accounting.h"
#include "core/clock.h"
#include "core/date_time.h"
#include "core/file_io.h"
#include "core/program_folder.h"
#include "core/settings.h"

namespace brindlex {

namespace {

struct CacheStore {
  CacheIndex index;
  std::set<std::uint32_t> writing;  // object files still open for writing
};

CacheStore& Store() {
  static CacheStore store;
  return store;
}

// Its own mutex rather than the index lock: requests are made with the index
// lock held, and the thread waits without it.
struct PassRequests {
  std::mutex mutex;
  std::condition_variable wake;
  bool pending = false;
};

PassRequests& Requests() {
  static PassRequests requests;
  return requests;
}

// Truncates toward zero; NaN and negatives give 0, huge values the largest.
std::int64_t TruncatedBytes(double bytes) {
  if (!(bytes > 0)) return 0;
  if (bytes >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(bytes);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadFully(int fd, std::uint8_t* into, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::read(fd, into, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// The whole file, or nullopt when it cannot be opened. A read error gives an
// empty file, which no reader accepts. A file longer than `limit` is read
// only up to limit + 1 bytes, which the callers' limits then refuse.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::vector<std::uint8_t> data;
  std::uint8_t buffer[65536];
  bool ok = true;
  while (data.size() <= limit) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    std::size_t take = std::min(static_cast<std::size_t>(n), limit + 1 - data.size());
    data.insert(data.end(), buffer, buffer + take);
  }
  ::close(fd);
  if (!ok) data.clear();
  return data;
}

void DeleteViewerCopies(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::unique_ptr<DIR, int (*)(DIR*)> guard(dir, ::closedir);
  while (dirent* entry = ::readdir(dir)) {
    if (std::string_view(entry->d_name).starts_with("~view.")) ::unlink((folder + "/" + entry->d_name).c_str());
  }
}

}  // namespace

void RequestCachePass() {
  PassRequests& requests = Requests();
  {
    std::lock_guard<std::mutex> lock(requests.mutex);
    requests.pending = true;
  }
  requests.wake.notify_one();
}

void TakeCachePassRequests(std::chrono::milliseconds limit) {
  PassRequests& requests = Requests();
  std::unique_lock<std::mutex> lock(requests.mutex);
  requests.wake.wait_for(lock, limit, [&] { return requests.pending; });
  requests.pending = false;
}

std::mutex& CacheIndexLock() {
  static std::mutex lock;
  return lock;
}

CacheIndex& CacheIndexLocked() { return Store().index; }

std::int64_t CacheNow() { return ProgramClock().GreenwichNow(); }

std::int64_t CacheSizeCapBytes() {
  const auto snapshot = Settings();
  const SystemSettings& s = *snapshot;
  return TruncatedBytes(static_cast<double>(s.KbPerMb) * 1024.0 * s.CachSizeMax);
}

std::int64_t CacheObjectCapBytes() {
  const auto snapshot = Settings();
  const SystemSettings& s = *snapshot;
  return TruncatedBytes(s.CachLengthMax * 1024.0 * static_cast<double>(s.KbPerMb));
}

std::string CacheIndexPath() { return CacheFolder() + "/cache.lst"; }
std::string CacheObjectPath(std::uint32_t objectId) { return CacheFolder() + "/" + ObjectFileBaseName(objectId); }

bool LoadCacheIndexFile() {
  std::optional<std::vector<std::uint8_t>> file = ReadWholeFile(CacheIndexPath(), kIndexFileHeaderSize + kMaxIndexBody);
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  CacheIndex& index = Store().index;
  if (!file) {
    ResetIndex(index);
    return false;
  }
  return LoadIndexFromBytes(index, file->data(), file->size());
}

bool SaveCacheIndexIfDirty() {
  std::vector<std::uint8_t> file;
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    CacheIndex& index = Store().index;
    if (!index.dirty) return false;
    // Cleared now, so a change made while the file is written marks it again.
    index.dirty = false;
    file = BuildIndexFile(index.block.data(), index.used, DateTimeNow());
  }
  if (WriteFileAtomically(CacheIndexPath(), std::string_view(reinterpret_cast<const char*>(file.data()), file.size())))
    return true;
  // Not on disk: the next pass tries again.
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  Store().index.dirty = true;
  return false;
}

void ResetCacheIndex() {
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  ResetIndex(Store().index);
  Store().writing.clear();
}

void ShrinkCacheIndex() {
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  ShrinkIndex(Store().index);
}

std::optional<std::size_t> FindCacheRecordLocked(std::string_view url) { return FindRecordByUrl(Store().index, url); }

CacheRecordFixed ReadCacheRecordLocked(std::size_t offset) {
  return DecodeRecordFixed(Store().index.block.data() + offset);
}

std::string CacheRecordEtagLocked(std::size_t offset) {
  return std::string(RecordEtag(Store().index.block.data() + offset));
}

void WriteCacheRecordLocked(std::size_t offset, const CacheRecordFixed& fixed) {
  std::uint8_t* record = Store().index.block.data() + offset;
  CacheRecordFixed kept = fixed;
  kept.recordLength = DecodeRecordFixed(record).recordLength;
  EncodeRecordFixed(kept, record);
  Store().index.dirty = true;
  RequestCachePass();
}

void MarkCacheHitLocked(std::size_t offset) {
  MarkRecordHit(Store().index, offset, CacheNow());
  RequestCachePass();
}

void RefreshCacheRecordLocked(std::size_t offset, const RevalidationHeaders& headers) {
  RefreshRecord(Store().index, offset, headers, CacheNow());
  RequestCachePass();
}

bool RefreshOnNotModified(std::string_view url, const RevalidationHeaders& headers) {
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  std::optional<std::size_t> offset = FindCacheRecordLocked(url);
  if (!offset) return false;
  RefreshCacheRecordLocked(*offset, headers);
  return true;
}

std::optional<CacheObjectFile> CreateCacheObjectFile() {
  CacheObjectFile file;
  file.objectId = TakeCacheObjectId();
  // Registered before the file exists, so no scan can meet it unregistered.
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    Store().writing.insert(file.objectId);
  }
  file.fd = ::open(CacheObjectPath(file.objectId).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file.fd < 0) {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    Store().writing.erase(file.objectId);
    return std::nullopt;
  }
  return file;
}

bool AppendCacheObjectFile(CacheObjectFile& file, const void* data, std::size_t length) {
  return file.fd >= 0 && WriteAll(file.fd, static_cast<const std::uint8_t*>(data), length);
}

void AbandonCacheObjectFile(CacheObjectFile& file) {
  if (file.fd >= 0) ::close(file.fd);
  file.fd = -1;
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    Store().writing.erase(file.objectId);
  }
  // The next scan deletes the file.
  RequestCachePass();
}

bool FinishCacheObjectFile(CacheObjectFile& file, const CacheRecordFixed& fixed, std::string_view url,
                           std::string_view etag, std::int64_t bodyBytes, std::int64_t contentLength) {
  bool closed = file.fd >= 0 && ::close(file.fd) == 0;
  file.fd = -1;
  bool complete = closed && (contentLength == -1 || contentLength == bodyBytes) && bodyBytes >= 0 &&
                  bodyBytes <= std::numeric_limits<std::int32_t>::max();
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  // The record and the release happen under one hold of the lock, so the scan
  // meets the file either as in progress or with its record.
  Store().writing.erase(file.objectId);
  // With a record or without, the file now waits for the scan (to be measured
  // or deleted); no pass sees the index before the lock is released.
  RequestCachePass();
  if (!complete) return false;
  CacheRecordFixed f = fixed;
  f.objectId = file.objectId;
  return StoreRecord(Store().index, f, url, etag, static_cast<std::int32_t>(bodyBytes)).has_value();
}

std::optional<StoredObject> OpenStoredObject(const CacheRecordFixed& fixed) {
  int fd = ::open(CacheObjectPath(fixed.objectId).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  StoredObject object{fd, std::string(fixed.headerLength, '\0')};
  struct stat status {};
  bool sound = ::fstat(fd, &status) == 0 &&
               status.st_size == static_cast<std::int64_t>(fixed.headerLength) + fixed.bodyLength &&
               ReadFully(fd, reinterpret_cast<std::uint8_t*>(object.head.data()), object.head.size()) &&
               object.head.ends_with("\r\n\r\n");
  if (!sound) {
    ::close(fd);
    return std::nullopt;
  }
  return object;
}

void DropDamagedObject(std::string_view url, std::uint32_t objectId) {
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  CacheIndex& index = Store().index;
  std::optional<std::size_t> offset = FindRecordByUrl(index, url);
  // A new download may have replaced the record meanwhile; that one stays.
  if (!offset || DecodeRecordFixed(index.block.data() + *offset).objectId != objectId) return;
  DeleteRecordByUrl(index, url);
  RequestCachePass();
}

bool ObjectFileInProgressLocked(std::uint32_t objectId) { return Store().writing.count(objectId) > 0; }

ObjectFileFate ScanObjectFile(std::uint32_t objectId, const std::string& path, std::int64_t fileSize) {
  std::int64_t objectCap = CacheObjectCapBytes();
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  if (ObjectFileInProgressLocked(objectId)) return ObjectFileFate::InProgress;
  CacheIndex& index = Store().index;
  std::optional<std::size_t> offset = FindLiveRecordById(index, objectId);
  if (offset && fileSize <= std::numeric_limits<std::int32_t>::max()) {
    CacheRecordFixed fixed = DecodeRecordFixed(index.block.data() + *offset);
    // The cap is on the body; the stored header block comes on top of it.
    if (fileSize - fixed.headerLength <= objectCap) {
      fixed.diskSize = static_cast<std::int32_t>(fileSize);
      EncodeRecordFixed(fixed, index.block.data() + *offset);
      return ObjectFileFate::Matched;
    }
  }
  // Deleted while the lock is held, so a worker cannot be creating it anew.
  ::unlink(path.c_str());
  return ObjectFileFate::Deleted;
}

std::vector<std::uint8_t> SnapshotCacheIndex() {
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  const CacheIndex& index = Store().index;
  return std::vector<std::uint8_t>(index.block.begin(), index.block.begin() + index.used);
}

bool DeleteCacheObject(std::string_view url) {
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  bool deleted = DeleteRecordByUrl(Store().index, url);
  if (deleted) RequestCachePass();
  return deleted;
}

CacheCounts CountCacheObjects() {
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  return CountRecords(Store().index);
}

std::optional<std::string> WriteViewerCopy(std::string_view url, std::uint32_t objectId) {
  std::string folder = CacheFolder();
  DeleteViewerCopies(folder);
  std::optional<std::string> extension = ViewerExtension(url);
  if (!extension) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> object =
      ReadWholeFile(CacheObjectPath(objectId), std::numeric_limits<std::int32_t>::max());
  if (!object) return std::nullopt;
  std::optional<std::size_t> bodyStart = FindStoredBodyStart(object->data(), object->size());
  if (!bodyStart) return std::nullopt;
  std::string path = folder + "/~view" + *extension;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::nullopt;
  bool written = WriteAll(fd, object->data() + *bodyStart, object->size() - *bodyStart);
  if (::close(fd) != 0) written = false;
  if (!written) {
    ::unlink(path.c_str());
    return std::nullopt;
  }
  return path;
}

void ResetCacheStatistics() {
  ProgramTrafficCounters().internetBytes = 0;
  ProgramTrafficCounters().cacheBytes = 0;
}

}  // namespace brindlex
