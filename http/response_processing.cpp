#include "http/response_processing.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "cache/cache_index.h"
#include "cache/cache_store.h"
#include "core/accounting.h"
#include "core/connection.h"
#include "core/process_state.h"
#include "core/service_counters.h"
#include "core/sessions.h"
#include "core/settings.h"
#include "core/users.h"
#include "http/access_gate.h"
#include "http/http_cache.h"
#include "http/message_body.h"
#include "http/response_head.h"

namespace brindlex {

namespace {

constexpr std::int32_t kFtpListingLifetime = 86400;

CacheRecordFixed EntryOf(const ConnectionRecord& r) { return DecodeRecordFixed(r.cacheEntry.data()); }

// The answer is complete once its declared length has arrived, even if the
// server keeps the connection open.
void NoteBodyComplete(ConnectionRecord& r) {
  if (r.contentLength != -1 && r.bodyBytes == r.contentLength) {
    r.serverFinished = true;
    r.serverEof = true;
  }
}

void StartObject(ConnectionRecord& r, CacheRecordFixed fixed, const std::string& headerBlock, const char* body,
                 std::int64_t bodyLength) {
  std::optional<CacheObjectFile> file = CreateCacheObjectFile();
  if (!file) {
    r.noStore = true;
    return;
  }
  fixed.objectId = file->objectId;
  EncodeRecordFixed(fixed, r.cacheEntry.data());
  r.cacheWriteFile = file->fd;
  if (!AppendCacheObjectFile(*file, headerBlock.data(), headerBlock.size()) ||
      !AppendCacheObjectFile(*file, body, static_cast<size_t>(bodyLength))) {
    AbandonObject(r);
    return;
  }
  TakeBody(r.responseBody, body, static_cast<size_t>(bodyLength));
}

void HeadPiece(ConnectionRecord& r, const char* bytes, int length) {
  ResponseHead head;
  if (!ParseResponseHead(bytes, static_cast<size_t>(length), Settings()->CachCookie, head)) {
    // No more of the head can come: relay what there is, keep nothing.
    if (r.serverFinished || r.serverInLength >= kBufferSize) {
      r.noStore = true;
      r.responseState = kResponseNotStored;
    }
    return;
  }
  r.responseState = kResponseBody;
  if (!head.isHttp) {
    r.noStore = true;
    r.responseState = kResponseNotStored;
    return;
  }

  CacheRecordFixed fixed;
  fixed.lastUsed = fixed.received = CacheNow();
  fixed.dateHeader = head.dateHeader.value_or(-1);
  fixed.ageHeader = head.ageHeader.value_or(-1);
  fixed.maxAge = head.maxAge;
  fixed.expires = head.expires.value_or(-1);
  fixed.lastModified = head.lastModified.value_or(0);
  fixed.mustRevalidate = head.mustRevalidate ? 1 : 0;
  // A listing of an FTP directory is kept only when fetched anonymously
  // (ListingCacheable), so it is the same for every user; nothing in its head
  // gives it a lifetime, and without one it would never be served from the
  // cache: it keeps a day.
  if (fixed.maxAge == -1 && fixed.expires == -1 && fixed.lastModified <= 0 && StartsWithNoCase(r.url, "ftp:"))
    fixed.maxAge = kFtpListingLifetime;
  fixed.headerLength = static_cast<std::uint16_t>(std::min<size_t>(head.headerBlock.size(), 0xFFFF));

  if (head.status != 200 || head.noStore) r.noStore = true;
  if (head.isPublic) r.hasAuthorization = false;
  r.contentLength = head.contentLength;
  r.responseBody = head.chunked ? MessageBody{MessageBody::Framing::kChunked} : MessageBody{};
  r.responseEtag = head.etag;
  r.bodyBytes = length - static_cast<int>(head.headLength);

  std::int64_t cap = CacheObjectCapBytes();
  // A body that came with the head and is already over the cap is not
  // started at all, like one that announces a larger length.
  if ((r.contentLength != -1 && r.contentLength > cap) || r.bodyBytes > cap || r.hasAuthorization ||
      head.headerBlock.size() > 0xFFFF)
    r.noStore = true;

  if (!CheckAccess(r, true, r.contentLength)) {
    r.responseState = kResponseRefused;
    r.noStore = true;
    return;
  }
  NoteBodyComplete(r);
  if (r.noStore) return;
  StartObject(r, fixed, head.headerBlock, bytes + head.headLength, r.bodyBytes);
}

void BodyPiece(ConnectionRecord& r, const char* bytes, int length) {
  CountPassedResponseBytes(r, length);
  if (r.cacheWriteFile < 0) return;
  CacheObjectFile file{EntryOf(r).objectId, r.cacheWriteFile};
  if (r.bodyBytes > CacheObjectCapBytes() || !AppendCacheObjectFile(file, bytes, static_cast<size_t>(length))) {
    AbandonObject(r);
    return;
  }
  TakeBody(r.responseBody, bytes, static_cast<size_t>(length));
}

}  // namespace

void ProcessResponse(ConnectionRecord& r, const char* bytes, int length) {
  if (length <= 0) return;
  if (r.responseState == kResponseBody)
    BodyPiece(r, bytes, length);
  else if (r.responseState == kResponseHeadPending)
    HeadPiece(r, bytes, length);
}

void CountPassedResponseBytes(ConnectionRecord& r, std::int64_t n) {
  if (r.responseState != kResponseBody) return;
  r.bodyBytes += n;
  NoteBodyComplete(r);
}

int ResponseBytesToMove(ConnectionRecord& r, char* source, int& sourceLength, int movable) {
  ProcessResponse(r, source, movable);
  if (r.responseState == kResponseRefused) {
    sourceLength = 0;
    return 0;
  }
  return r.responseState == kResponseHeadPending ? 0 : movable;
}

void StreamReadFile(ConnectionRecord& r) {
  if (r.readFile < 0) return;
  int room = r.clientOutCapacity - r.clientOutLength;
  if (room <= 0) return;
  ssize_t n;
  do {
    n = ::read(r.readFile, r.clientOut.get() + r.clientOutLength, static_cast<size_t>(room));
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    r.clientOutLength += static_cast<int>(n);
    if (!r.servingLocalFile) CountCacheBytes(r, n);
  }
  if (n < room) {
    ::close(r.readFile);
    r.readFile = -1;
    r.serverFinished = true;
  }
}

void FinishObject(ConnectionRecord& r) {
  r.noStore = true;
  if (r.cacheWriteFile < 0) return;
  // A chunked answer that ended before its last chunk is only part of one.
  if (!BodyEnded(r.responseBody)) {
    AbandonObject(r);
    return;
  }
  CacheRecordFixed fixed = EntryOf(r);
  CacheObjectFile file{fixed.objectId, r.cacheWriteFile};
  r.cacheWriteFile = -1;
  FinishCacheObjectFile(file, fixed, CacheKey(r), r.responseEtag, r.bodyBytes, r.contentLength);
}

void AbandonObject(ConnectionRecord& r) {
  if (r.cacheWriteFile < 0) return;
  CacheObjectFile file{EntryOf(r).objectId, r.cacheWriteFile};
  r.cacheWriteFile = -1;
  AbandonCacheObjectFile(file);
}

void CountCacheBytes(ConnectionRecord& r, std::int64_t n) {
  if (n <= 0) return;
  ProgramTrafficCounters().cacheBytes += n;
  CountUp(Counters().cacheBytes, n);
  UserSession* session = r.userSession;
  if (!session || r.localServer) return;
  bool counted = false;
  {
    // The user's fields change under the accounts lock (reloads, editor).
    std::lock_guard<std::mutex> lock(AccountsLock());
    counted = session->user && session->user->rules.countCacheTraffic;
  }
  if (counted) IncomingStep(*session, n);
}

}  // namespace brindlex
