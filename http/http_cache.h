// The disk cache on the request path of the HTTP proxy: whether a request can
// be answered from a stored object, how fresh that object is, the conditional
// request that revalidates a stale one (kRevalidating) and the serving of a
// revalidated one (kRevalidated), and the client's own conditions (304, 412)
// answered from the cache.
//
// Worker thread of the connection only. The cache index lock is held only
// while a record is looked up, judged and marked; the object file is opened
// and checked between two holds of it, and the accounts lock is never taken
// while it is held.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cache/cache_index.h"
#include "core/request_conditions.h"

namespace brindlex {

struct ConnectionRecord;

enum class CacheAnswer {
  Revalidate,          // stale: ask the origin
  PreconditionFailed,  // the client's If-Match / If-Unmodified-Since failed: 412
  NotModified,         // the client's copy is current: 304
  Serve,               // the stored object, with Date, Age and the warning
};
struct CacheVerdict {
  CacheAnswer answer = CacheAnswer::Revalidate;
  std::int64_t date = 0;  // for the Date line: the stored Date, else when received
  std::int64_t age = 0;   // for the Age line
  int warning = 0;        // string number of the Warning line, 0 for none
};

// Judges a stored object at `now` (Greenwich seconds) against the request's
// conditions. `revalidated` skips the freshness test: the origin has just
// confirmed the object.
CacheVerdict JudgeCachedObject(const CacheRecordFixed& fixed, std::string_view etag, const RequestConditions& request,
                               std::int64_t now, bool revalidated);

// The end of the conditional request that revalidates an object:
// If-Modified-Since from its Last-Modified (left out when it has none),
// If-None-Match with its tag (when it has one), "Connection: close" and the
// blank line.
std::string RevalidationLines(const CacheRecordFixed& fixed, std::string_view etag);

// The key of the object of a request: the URL as requested, or, for a
// request that named only a path, that path on the host of its Host header,
// so that two sites' "/index.html" never share an object.
std::string CacheKey(const ConnectionRecord& record);

// Whether the listing an ftp:// request asks for may be stored and served
// from the cache: a directory (the path ends in "/"), with CachFtpDir on and
// nothing else ruling the request out, fetched anonymously. A listing behind
// a login of the URL is that login's view of the server; stored under the
// plain URL it would be served to anyone who asks for it.
bool ListingCacheable(const ConnectionRecord& request);

// After the request step in kRelay (and in kRevalidated, and for a cacheable
// listing before the FTP server is asked): nothing when
// noCache or noStore is set or no object is stored. A fresh object is served
// (its head queued, its body left to StreamReadFile through readFile) or the
// client's conditions are answered (304, 412; the connection finishes). A
// stale one in kRelay gets the revalidating lines appended to serverOut and
// the state becomes kRevalidating; the caller then connects as for a miss. An
// object whose file is missing or damaged is dropped from the index and the
// request is a miss.
void CacheLookup(ConnectionRecord& record);

// kRevalidating, server bytes present: waits for the whole head of the
// answer. A 304 refreshes the record from its headers and serves the object
// (kRevalidated; the server side is finished); any other answer is relayed and
// processed as in kRelay. A 304 for an object that can no longer be served answers
// with the "not found" page: that 304 answers the gateway's condition, not
// the client's, and relayed it would leave the client with an empty page.
void RevalidationAnswer(ConnectionRecord& record);

}  // namespace brindlex
