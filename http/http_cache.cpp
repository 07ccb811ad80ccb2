#include "http/http_cache.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <optional>

#include "cache/cache_store.h"
#include "core/connection.h"
#include "core/service_counters.h"
#include "core/settings.h"
#include "core/strings.h"
#include "core/value_codec.h"
#include "http/http_head.h"
#include "http/reply_page.h"
#include "http/response_head.h"
#include "http/response_processing.h"
#include "net/relay.h"

namespace brindlex {

namespace {

// A lifetime the headers do not give is a tenth of the time the object had
// gone unchanged when it was sent; one of a day or more earns a warning.
constexpr std::int64_t kHeuristicWarningLifetime = 86400;
constexpr std::int64_t kHeuristicDivisor = 10;

constexpr int kWarningStale = 413;
constexpr int kWarningHeuristic = 414;
constexpr int kNotModifiedAnswer = 403;
constexpr int kPreconditionFailedAnswer = 409;

std::int64_t Lifetime(const CacheRecordFixed& fixed, const RequestConditions& request, std::int64_t date,
                      int& warning) {
  if (request.maxAge != -1) return request.maxAge;
  if (fixed.maxAge != -1) return fixed.maxAge;
  if (fixed.expires != -1) return fixed.expires - date;
  std::int64_t lifetime = (date - fixed.lastModified) / kHeuristicDivisor;
  if (lifetime >= kHeuristicWarningLifetime) warning = kWarningHeuristic;
  return lifetime;
}

// Nothing the origin sent says how long the object stays as it is: no
// max-age, no Expires, and no Last-Modified to reckon a lifetime from. Such
// a response is typically a page made for the one who asked; served to the
// next client it would show him another user's page. The origin is asked
// every time, whatever the client would accept (its max-age or max-stale).
bool WithoutFreshness(const CacheRecordFixed& fixed) {
  return fixed.maxAge == -1 && fixed.expires == -1 && fixed.lastModified <= 0;
}

enum class ClientCondition { None, NotModified, Modified, Failed };

ClientCondition EvaluateConditions(const CacheRecordFixed& fixed, std::string_view etag,
                                   const RequestConditions& request) {
  ClientCondition result = ClientCondition::None;
  if (!request.etag.empty()) {
    bool match = request.etag == "*" || EqualsNoCase(request.etag, etag);
    if (!request.isNoneMatch && !match) return ClientCondition::Failed;
    if (request.isNoneMatch) result = match ? ClientCondition::NotModified : ClientCondition::Modified;
  }
  if (request.time != -1) {
    std::int64_t d = static_cast<std::int64_t>(request.time) - fixed.lastModified;
    if (request.isUnmodified) {
      if (d < 0) return ClientCondition::Failed;
    } else if (d >= 0) {
      if (result != ClientCondition::Modified) result = ClientCondition::NotModified;
    } else {
      result = ClientCondition::Modified;
    }
  }
  return result;
}

// An answer the cache gives instead of the object; the request never leaves.
void AnswerFromCache(ConnectionRecord& r, int stringId) {
  ReplaceClientOutput(r, Str(stringId));
  r.serverOutLength = 0;
  r.serverFinished = true;
}

// Queues the stored head with a fresh Date and Age and leaves the body to
// StreamReadFile, which takes over the object's file.
void ServeObject(ConnectionRecord& r, StoredObject& object, const CacheVerdict& verdict) {
  std::string head = std::move(object.head);
  head.resize(head.size() - 2);
  std::uint32_t age = static_cast<std::uint32_t>(std::clamp<std::int64_t>(verdict.age, 0, UINT32_MAX));
  head += "Date: " + FormatHttpDate(verdict.date) + "\r\nAge: " + std::to_string(age) + "\r\n";
  if (verdict.warning != 0) head += Str(verdict.warning);
  head += "\r\n";
  r.serverOutLength = 0;
  QueueToClient(r, head);
  CountCacheBytes(r, static_cast<std::int64_t>(head.size()));
  r.readFile = object.fd;
}

// Judges the record of `key`, still holding the object `objectId`, under the
// cache index lock: a stale one is revalidated (kRelay only: the ending of the
// conditional request is queued and the state becomes kRevalidating), any
// other verdict marks a hit. nullopt when the cache has nothing to answer:
// the record went away meanwhile, or the origin is to be asked.
std::optional<CacheVerdict> JudgeRecord(ConnectionRecord& r, std::string_view key, std::uint32_t objectId) {
  bool revalidated = r.state == ConnectionState::kRevalidated;
  std::lock_guard<std::mutex> lock(CacheIndexLock());
  std::optional<std::size_t> offset = FindCacheRecordLocked(key);
  if (!offset) return std::nullopt;
  CacheRecordFixed fixed = ReadCacheRecordLocked(*offset);
  if (fixed.objectId != objectId) return std::nullopt;
  std::string etag = CacheRecordEtagLocked(*offset);
  CacheVerdict verdict = JudgeCachedObject(fixed, etag, r.conditions, CacheNow(), revalidated);
  if (verdict.answer == CacheAnswer::Revalidate) {
    if (r.state != ConnectionState::kRelay) return std::nullopt;
    std::string lines = RevalidationLines(fixed, etag);
    // The request step keeps room only for its own ending; an ending too
    // long for what is left simply makes this a miss, whose 200 answer
    // then replaces the object.
    if (lines.size() > static_cast<size_t>(kBufferSize - r.serverOutLength)) return std::nullopt;
    int length = static_cast<int>(lines.size());
    MoveToServer(r, lines.data(), length);
    r.state = ConnectionState::kRevalidating;
    return std::nullopt;
  }
  MarkCacheHitLocked(*offset);
  CountUp(Counters().cacheHits);
  return verdict;
}

}  // namespace

CacheVerdict JudgeCachedObject(const CacheRecordFixed& fixed, std::string_view etag, const RequestConditions& request,
                               std::int64_t now, bool revalidated) {
  CacheVerdict verdict;
  // A Date the origin sent that could not be read is no date at all.
  verdict.date = fixed.dateHeader > 0 ? fixed.dateHeader : fixed.received;
  verdict.age = std::max<std::int64_t>(0, now - fixed.received);
  if (fixed.ageHeader != -1) verdict.age += fixed.ageHeader;

  if (!revalidated) {
    if (WithoutFreshness(fixed)) return verdict;  // Revalidate
    int warning = 0;
    std::int64_t lifetime = std::max<std::int64_t>(Lifetime(fixed, request, verdict.date, warning), 0);
    // min-fresh asks for that much life left; it weighs in the judgement but
    // is no part of the age reported to the client.
    std::int64_t judgedAge = verdict.age + (request.minFresh != -1 ? request.minFresh : 0);
    // Fresh only while the age is below the lifetime: an object that came
    // with max-age=0 (or an Expires that has passed) is asked about every
    // time, not served for the rest of the second it arrived in.
    bool stale = judgedAge >= lifetime;
    if (stale && request.maxStale != -1 && fixed.mustRevalidate == 0 &&
        (request.maxStale == 0 || judgedAge - lifetime <= request.maxStale)) {
      // Staleness the client accepts (max-stale without a value: any); the
      // warning is given only to an object that really is stale.
      stale = false;
      warning = kWarningStale;
    }
    if (stale) return verdict;  // Revalidate
    verdict.warning = warning;
  }

  switch (EvaluateConditions(fixed, etag, request)) {
    case ClientCondition::Failed:
      verdict.answer = CacheAnswer::PreconditionFailed;
      break;
    case ClientCondition::NotModified:
      verdict.answer = CacheAnswer::NotModified;
      break;
    default:
      verdict.answer = CacheAnswer::Serve;
      break;
  }
  return verdict;
}

std::string RevalidationLines(const CacheRecordFixed& fixed, std::string_view etag) {
  std::string lines;
  // Without a Last-Modified there is no date to compare with; 1970 would only
  // make some servers answer 304 for a changed object.
  if (fixed.lastModified > 0) {
    std::string date = FormatHttpDate(fixed.lastModified);
    if (!date.empty()) lines += "If-Modified-Since: " + date + "\r\n";
  }
  if (!etag.empty()) lines += "If-None-Match: \"" + std::string(etag) + "\"\r\n";
  lines += "Connection: close\r\n\r\n";
  return lines;
}

std::string CacheKey(const ConnectionRecord& r) {
  if (r.url.find("://") != std::string::npos || r.host.empty()) return r.url;
  return "http://" + r.host + r.url;
}

bool ListingCacheable(const ConnectionRecord& r) {
  return Settings()->CachFtpDir && !r.noStore && !r.path.empty() && r.path.back() == '/' &&
         r.ftpLogin == kAnonymousFtpLogin;
}

void CacheLookup(ConnectionRecord& r) {
  if (r.noCache || r.noStore || r.readFile >= 0) return;
  // The lookup after a revalidation belongs to the request's first one.
  if (r.state != ConnectionState::kRevalidated) CountUp(Counters().cacheLookups);
  std::string key = CacheKey(r);
  CacheRecordFixed fixed;
  {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    std::optional<std::size_t> offset = FindCacheRecordLocked(key);
    if (!offset) return;
    fixed = ReadCacheRecordLocked(*offset);
  }
  // The file is checked before the record is judged: a damaged object is
  // forgotten and the request goes on as a miss, rather than being
  // revalidated into a 304 that leaves nothing to serve.
  std::optional<StoredObject> object = OpenStoredObject(fixed);
  if (!object) {
    DropDamagedObject(key, fixed.objectId);
    return;
  }
  std::optional<CacheVerdict> verdict = JudgeRecord(r, key, fixed.objectId);
  if (!verdict || verdict->answer != CacheAnswer::Serve) ::close(object->fd);
  if (!verdict) return;
  switch (verdict->answer) {
    case CacheAnswer::PreconditionFailed:
      AnswerFromCache(r, kPreconditionFailedAnswer);
      break;
    case CacheAnswer::NotModified:
      AnswerFromCache(r, kNotModifiedAnswer);
      break;
    default:
      ServeObject(r, *object, *verdict);
      break;
  }
}

void RevalidationAnswer(ConnectionRecord& r) {
  ResponseHead head;
  if (!ParseResponseHead(r.serverIn, static_cast<size_t>(r.serverInLength), Settings()->CachCookie, head)) {
    if (r.serverFinished || r.serverInLength >= kBufferSize) r.state = ConnectionState::kRelay;
    return;
  }
  r.state = ConnectionState::kRelay;
  if (!head.isHttp || head.status != 304) return;
  RevalidationHeaders headers{head.dateHeader, head.ageHeader, head.expires, head.lastModified};
  bool refreshed = RefreshOnNotModified(CacheKey(r), headers);
  r.state = ConnectionState::kRevalidated;
  r.serverFinished = true;
  r.serverInLength = 0;
  if (refreshed) CacheLookup(r);
  r.noStore = true;
  if (r.clientOutLength == 0 && r.readFile < 0) SendReplyPage(r, ReplyKind::kNotFound);
}

}  // namespace brindlex
