#include "cache/cache_thread.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "cache/cache_store.h"
#include "core/program_folder.h"
#include "core/report_exception.h"
#include "core/settings.h"

namespace brindlex {

namespace {
constexpr const char* kModule = "CachThread";
std::unique_ptr<TCachThread> g_cacheThread;
}  // namespace

TCachThread::TCachThread() {
  ResetCacheIndex();
  LoadCacheIndexFile();
}

TCachThread::~TCachThread() { Stop(); }

void TCachThread::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void TCachThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    terminated_ = true;
  }
  wake_.notify_all();
  // Wakes the wait for work; the loop then sees the terminate flag.
  RequestCachePass();
  if (thread_.joinable()) thread_.join();
}

bool TCachThread::Pause(std::chrono::milliseconds pause) {
  std::unique_lock<std::mutex> lock(wakeMutex_);
  if (pause.count() > 0) wake_.wait_for(lock, pause, [this] { return terminated_.load(); });
  return terminated_;
}

bool TCachThread::WaitForPasses(std::uint64_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(wakeMutex_);
  return wake_.wait_for(lock, limit, [&] { return passes_ >= count || ended_; }) && passes_ >= count;
}

std::uint64_t TCachThread::PassCount() {
  std::lock_guard<std::mutex> lock(wakeMutex_);
  return passes_;
}

void TCachThread::Run() {
  try {
    // The first pass serves whatever was asked for before the thread began.
    TakeCachePassRequests(std::chrono::milliseconds(0));
    while (!terminated_) {
      // A pass that fails is shown on the monitor and counts as done: the
      // next one starts from the folder and the index as they are, and the
      // connections never depended on it.
      try {
        RunPass();
      } catch (...) {
        ReportCurrentExceptionAndGoOn(kModule, stepMarker);
      }
      {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        ++passes_;
      }
      wake_.notify_all();
      stepMarker = 5;
      if (Pause(passPause)) break;
      stepMarker = 7;
      TakeCachePassRequests(passInterval);
    }
    stepMarker = 6;
    SaveCacheIndexIfDirty();
  } catch (...) {
    // Only the waits and the last save are left out here: the cache goes on
    // serving without its upkeep.
    terminated_ = true;
    ReportCurrentExceptionAndGoOn(kModule, stepMarker);
  }
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    ended_ = true;
  }
  wake_.notify_all();
}

void TCachThread::RunPass() {
  stepMarker = 1;
  FolderScan();
  if (!terminated_) {
    stepMarker = 2;
    AgeAndSizeLimits();
  }
  stepMarker = 3;
  SaveCacheIndexIfDirty();
  stepMarker = 4;
  ShrinkCacheIndex();
}

void TCachThread::FolderScan() {
  stepMarker = 10;
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    MarkDiskSizesUnknown(CacheIndexLocked());
  }
  totalSize = 0;
  std::string folder = CacheFolder();
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::unique_ptr<DIR, int (*)(DIR*)> guard(dir, ::closedir);
  while (!terminated_) {
    stepMarker = 11;
    dirent* entry = ::readdir(dir);
    if (!entry) break;
    // Only names of the object-file form: anything else in the folder (the
    // index, viewer copies, strangers) is not ours to judge.
    std::optional<std::uint32_t> objectId = ParseObjectFileName(entry->d_name);
    if (!objectId) continue;
    std::string path = folder + "/" + entry->d_name;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    stepMarker = 12;
    if (ScanObjectFile(*objectId, path, info.st_size) == ObjectFileFate::Matched) totalSize += info.st_size;
    stepMarker = 13;
    SaveCacheIndexIfDirty();
    stepMarker = 14;
    if (Pause(filePause)) break;
  }
}

void TCachThread::AgeAndSizeLimits() {
  stepMarker = 20;
  std::int64_t cap = CacheSizeCapBytes();
  std::int64_t maxAge = static_cast<std::int64_t>(Settings()->CachTimeStored) * 3600;
  std::int32_t now = CacheNow();
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  CacheIndex& index = CacheIndexLocked();
  totalSize = EvictLeastRecentlyUsed(index, totalSize, cap);
  stepMarker = 21;
  CompactIndex(index, now, maxAge);
}

void StartCacheThread() {
  g_cacheThread = std::make_unique<TCachThread>();
  g_cacheThread->Start();
}

void StopCacheThread() {
  if (!g_cacheThread) return;
  g_cacheThread->Stop();
  g_cacheThread.reset();
  ResetCacheIndex();
}

}  // namespace brindlex
