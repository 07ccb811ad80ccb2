// The cache on the request path: the freshness judgement and the client's
// conditions as a table, then lookups against a real store filled through
// the relay: a hit with a fresh Date and Age and its counting, revalidation
// in states 2 and 3, and the misses.
#include "http/http_cache.h"

#include <unistd.h>

#include <climits>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

#include "cache/cache_store.h"
#include "core/strings.h"
#include "core/users.h"
#include "http/http_head.h"
#include "tests/unit/cache_path_world.h"

namespace brindlex {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;
constexpr std::int64_t k2040 = 2'209'032'000;  // 2040-01-01, past what 32 bits hold

struct JudgeCase {
  const char* name;
  CacheRecordFixed fixed;
  RequestConditions request;
  std::int64_t now;
  CacheAnswer answer;
  int warning;
  std::int64_t age;
};

CacheRecordFixed Object(std::int64_t received, std::int32_t maxAge, std::int64_t expires, std::int64_t lastModified,
                        std::int64_t date = -1, std::int32_t ageHeader = -1, std::uint8_t mustRevalidate = 0) {
  CacheRecordFixed f;
  f.received = f.lastUsed = received;
  f.maxAge = maxAge;
  f.expires = expires;
  f.lastModified = lastModified;
  f.dateHeader = date;
  f.ageHeader = ageHeader;
  f.mustRevalidate = mustRevalidate;
  return f;
}

RequestConditions Wants(std::int32_t maxAge, std::int32_t maxStale, std::int32_t minFresh) {
  RequestConditions r;
  r.maxAge = maxAge;
  r.maxStale = maxStale;
  r.minFresh = minFresh;
  return r;
}

TEST(CacheJudgement, FreshnessFromTheHeadersTheHeuristicAndTheRequest) {
  const std::int32_t t = static_cast<std::int32_t>(kNow - 100);  // received 100 s ago
  const RequestConditions plain;
  const JudgeCase cases[] = {
      {"max-age fresh", Object(t, 101, -1, 0), plain, kNow, CacheAnswer::Serve, 0, 100},
      {"max-age reached", Object(t, 100, -1, 0), plain, kNow, CacheAnswer::Revalidate, 0, 100},
      {"max-age=0 at once", Object(static_cast<std::int32_t>(kNow), 0, -1, 0), plain, kNow, CacheAnswer::Revalidate, 0,
       0},
      {"max-age before Expires", Object(t, 500, t - 1, 0), plain, kNow, CacheAnswer::Serve, 0, 100},
      {"Expires from Date", Object(t, -1, t + 150, 0, t + 60), plain, kNow, CacheAnswer::Revalidate, 0, 100},
      {"Expires from receipt", Object(t, -1, t + 150, 0), plain, kNow, CacheAnswer::Serve, 0, 100},
      {"unreadable Date", Object(t, -1, t + 90, 0, 0), plain, kNow, CacheAnswer::Revalidate, 0, 100},
      {"Age header adds", Object(t, 130, -1, 0, -1, 30), plain, kNow, CacheAnswer::Revalidate, 0, 130},
      {"Age header shown", Object(t, 131, -1, 0, -1, 30), plain, kNow, CacheAnswer::Serve, 0, 130},
      {"heuristic a tenth", Object(t, -1, -1, t - 1010), plain, kNow, CacheAnswer::Serve, 0, 100},
      {"heuristic too short", Object(t, -1, -1, t - 1009), plain, kNow, CacheAnswer::Revalidate, 0, 100},
      {"heuristic a day", Object(t, -1, -1, t - 864000), plain, kNow, CacheAnswer::Serve, 414, 100},
      {"heuristic over a day", Object(t, -1, -1, t - 8640000), plain, kNow, CacheAnswer::Serve, 414, 100},
      {"heuristic a day gone", Object(t, -1, -1, t - 864000), plain, t + 86400, CacheAnswer::Revalidate, 0, 86400},
      // No lifetime and nothing to reckon one from: the page of one user,
      // maybe; the origin is asked every time, whatever the client accepts.
      {"no freshness", Object(t, -1, -1, 0), plain, kNow, CacheAnswer::Revalidate, 0, 100},
      {"no freshness, just received", Object(kNow, -1, -1, 0), plain, kNow, CacheAnswer::Revalidate, 0, 0},
      {"no freshness, request max-age", Object(t, -1, -1, 0), Wants(86400, -1, -1), kNow, CacheAnswer::Revalidate, 0,
       100},
      {"no freshness, max-stale any", Object(t, -1, -1, 0), Wants(-1, 0, -1), kNow, CacheAnswer::Revalidate, 0, 100},
      // After 2038: times past 32 bits decide as any others.
      {"2040 max-age fresh", Object(k2040 - 100, 101, -1, 0), plain, k2040, CacheAnswer::Serve, 0, 100},
      {"2040 max-age reached", Object(k2040 - 100, 100, -1, 0), plain, k2040, CacheAnswer::Revalidate, 0, 100},
      {"2040 Expires ahead", Object(k2040 - 100, -1, k2040 + 1, 0, k2040 - 100), plain, k2040, CacheAnswer::Serve, 0,
       100},
      {"2040 Expires passed", Object(k2040 - 100, -1, k2040 - 1, 0, k2040 - 100), plain, k2040,
       CacheAnswer::Revalidate, 0, 100},
      {"2040 heuristic", Object(k2040 - 100, -1, -1, k2040 - 1100), plain, k2040, CacheAnswer::Revalidate, 0, 100},
      {"2040 heuristic fresh", Object(k2040 - 100, -1, -1, k2040 - 1110), plain, k2040, CacheAnswer::Serve, 0, 100},
      {"request max-age", Object(t, 600, -1, 0), Wants(50, -1, -1), kNow, CacheAnswer::Revalidate, 0, 100},
      {"min-fresh", Object(t, 150, -1, 0), Wants(-1, -1, 50), kNow, CacheAnswer::Revalidate, 0, 100},
      {"min-fresh met", Object(t, 150, -1, 0), Wants(-1, -1, 49), kNow, CacheAnswer::Serve, 0, 100},
      {"max-stale value", Object(t, 60, -1, 0), Wants(-1, 40, -1), kNow, CacheAnswer::Serve, 413, 100},
      {"max-stale short", Object(t, 60, -1, 0), Wants(-1, 39, -1), kNow, CacheAnswer::Revalidate, 0, 100},
      {"max-stale any", Object(t, 0, -1, 0), Wants(-1, 0, -1), kNow + 999999, CacheAnswer::Serve, 413, 1000099},
      {"max-stale fresh", Object(t, 600, -1, 0), Wants(-1, 0, -1), kNow, CacheAnswer::Serve, 0, 100},
      {"must-revalidate", Object(t, 0, -1, 0, -1, -1, 1), Wants(-1, 0, -1), kNow, CacheAnswer::Revalidate, 0, 100},
      {"clock behind", Object(t, 1, -1, 0), plain, t - 50, CacheAnswer::Serve, 0, 0},
  };
  for (const JudgeCase& c : cases) {
    CacheVerdict v = JudgeCachedObject(c.fixed, "", c.request, c.now, false);
    EXPECT_EQ(v.answer, c.answer) << c.name;
    if (v.answer == CacheAnswer::Revalidate) continue;
    EXPECT_EQ(v.warning, c.warning) << c.name;
    EXPECT_EQ(v.age, c.age) << c.name << ": min-fresh never shows in the Age";
    EXPECT_EQ(v.date, c.fixed.dateHeader > 0 ? c.fixed.dateHeader : c.fixed.received) << c.name;
  }
  CacheVerdict revalidated = JudgeCachedObject(Object(t, 0, -1, 0), "", plain, kNow, true);
  EXPECT_EQ(revalidated.answer, CacheAnswer::Serve) << "just confirmed by the origin";
  EXPECT_EQ(revalidated.warning, 0);
}

TEST(CacheJudgement, TheClientsOwnConditions) {
  const std::int32_t lastModified = static_cast<std::int32_t>(kNow - 5000);
  const CacheRecordFixed fresh = Object(static_cast<std::int32_t>(kNow), 600, -1, lastModified);
  struct Case {
    const char* name;
    const char* etags;
    bool noneMatch;
    std::int32_t time;
    bool unmodified;
    CacheAnswer answer;
  };
  const Case cases[] = {
      {"none", "", false, -1, false, CacheAnswer::Serve},
      {"If-None-Match same", "TAG-1", true, -1, false, CacheAnswer::NotModified},
      {"If-None-Match star", "*", true, -1, false, CacheAnswer::NotModified},
      {"If-None-Match other", "tag-2", true, -1, false, CacheAnswer::Serve},
      {"If-Match same", "tag-1", false, -1, false, CacheAnswer::Serve},
      {"If-Match other", "tag-2", false, -1, false, CacheAnswer::PreconditionFailed},
      {"If-Modified-Since later", "", false, lastModified, false, CacheAnswer::NotModified},
      {"If-Modified-Since earlier", "", false, lastModified - 1, false, CacheAnswer::Serve},
      {"tags say modified", "tag-2", true, lastModified + 10, false, CacheAnswer::Serve},
      {"date says modified", "tag-1", true, lastModified - 10, false, CacheAnswer::Serve},
      {"If-Unmodified-Since later", "", false, lastModified, true, CacheAnswer::Serve},
      {"If-Unmodified-Since earlier", "", false, lastModified - 1, true, CacheAnswer::PreconditionFailed},
  };
  for (const Case& c : cases) {
    RequestConditions request;
    request.etag = c.etags;
    request.isNoneMatch = c.noneMatch;
    request.time = c.time;
    request.isUnmodified = c.unmodified;
    EXPECT_EQ(JudgeCachedObject(fresh, "tag-1", request, kNow, false).answer, c.answer) << c.name;
    EXPECT_EQ(JudgeCachedObject(fresh, "tag-1", request, kNow, true).answer, c.answer) << c.name << " (state 3)";
  }
}

TEST(CacheJudgement, RevalidationLinesAndKeys) {
  CacheRecordFixed f = Object(0, -1, -1, 784111777);
  EXPECT_EQ(RevalidationLines(f, "abc"),
            "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\nIf-None-Match: \"abc\"\r\nConnection: close\r\n\r\n");
  f.lastModified = 0;
  EXPECT_EQ(RevalidationLines(f, ""), "Connection: close\r\n\r\n") << "no date to ask about";

  std::unique_ptr<ConnectionRecord> r(NewConnection(kServiceHttp));
  r->url = "http://a.test/x";
  r->host = "a.test";
  EXPECT_EQ(CacheKey(*r), "http://a.test/x");
  r->url = "/x";
  EXPECT_EQ(CacheKey(*r), "http://a.test/x") << "a path-only request is keyed by its host too";
}

class HttpCache : public testing::CachePathWorld {
 protected:
  // Stores an object for `url` through the relay, as a first request does.
  void Store(const std::string& url, const std::string& headLines, const std::string& body) {
    ConnectionRecord& first = Request(url);
    Fetch(first, "HTTP/1.1 200 OK\r\n" + headLines + "\r\n" + body);
    ASSERT_TRUE(FindRecord(url)) << url;
  }
  bool FindRecord(const std::string& url) {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    return FindCacheRecordLocked(url).has_value();
  }
  CacheRecordFixed Record(const std::string& url) {
    std::lock_guard<std::mutex> lock(CacheIndexLock());
    return ReadCacheRecordLocked(*FindCacheRecordLocked(url));
  }
  // A second request for `url` whose head the request step already queued.
  ConnectionRecord& Again(const std::string& url) {
    ConnectionRecord& r = Request(url);
    std::string head = "GET " + r.path + " HTTP/1.1\r\nHost: origin.test\r\n";
    std::memcpy(r.serverOut, head.data(), head.size());
    r.serverOutLength = static_cast<int>(head.size());
    return r;
  }
  static std::string ServerOut(const ConnectionRecord& r) { return std::string(r.serverOut, r.serverOutLength); }
  void Answer(ConnectionRecord& r, const std::string& bytes) {
    std::memcpy(r.serverIn + r.serverInLength, bytes.data(), bytes.size());
    r.serverInLength += static_cast<int>(bytes.size());
    RevalidationAnswer(r);
  }
  void Later(std::int64_t seconds) { clock_.Advance(seconds * kPerformanceFrequency); }
  std::string Now() { return FormatHttpDate(clock_.GreenwichNow()); }
};

TEST_F(HttpCache, AHitIsServedWithTheStoredHeadAFreshDateAndAgeAndCounted) {
  std::string received = Now();
  Store("http://origin.test/a", "Date: " + received + "\r\nCache-Control: max-age=600\r\nX-Kept: yes\r\n", "body!");
  UserRecord* user = AddUser("bob");
  user->rules.countCacheTraffic = true;
  Later(100);

  ConnectionRecord* r = Connect(user, "10.0.0.5");
  Prepare(*r, "http://origin.test/a", "origin.test");
  r->serverOutLength = 5;  // the request queued for the origin stays unsent
  CacheLookup(*r);
  const std::string head =
      "HTTP/1.1 200 OK\r\nCache-Control: max-age=600\r\nX-Kept: yes\r\nDate: " + received + "\r\nAge: 100\r\n\r\n";
  EXPECT_EQ(ClientReadsStream(*r), head + "body!");
  EXPECT_EQ(r->state, ConnectionState::kRelay);
  EXPECT_EQ(r->serverOutLength, 0);
  EXPECT_TRUE(r->serverFinished) << "the end of the file ends the answer";
  EXPECT_EQ(Record("http://origin.test/a").lastUsed, clock_.GreenwichNow()) << "a hit";
  EXPECT_EQ(ProgramTrafficCounters().cacheBytes, static_cast<std::int64_t>(head.size() + 5));
  EXPECT_EQ(r->userSession->counters.incoming, static_cast<std::int64_t>(head.size() + 5));

  user->rules.countCacheTraffic = false;
  ConnectionRecord* uncounted = Connect(user, "10.0.0.5");
  Prepare(*uncounted, "http://origin.test/a", "origin.test");
  CacheLookup(*uncounted);
  ClientReadsStream(*uncounted);
  EXPECT_EQ(r->userSession->counters.incoming, static_cast<std::int64_t>(head.size() + 5));
  EXPECT_EQ(ProgramTrafficCounters().cacheBytes, 2 * static_cast<std::int64_t>(head.size() + 5));
}

TEST_F(HttpCache, AStaleObjectIsRevalidatedAndA304ServesItRefreshed) {
  Store("http://origin.test/s",
        "Expires: Thu, 01 Jan 2015 00:00:00 GMT\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\nETag: \"e\"\r\n",
        "old body");
  Later(60);
  ConnectionRecord& r = Again("http://origin.test/s");
  r.conditions.etag = "e";  // the client's own condition waits for state 3
  r.conditions.isNoneMatch = true;
  std::string request = ServerOut(r);
  CacheLookup(r);
  EXPECT_EQ(r.state, ConnectionState::kRevalidating);
  EXPECT_EQ(ServerOut(r), request +
                              "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\nIf-None-Match: \"e\"\r\n"
                              "Connection: close\r\n\r\n");
  EXPECT_EQ(r.clientOutLength, 0);

  Later(2);
  Answer(r, "HTTP/1.1 304 Not Modified\r\nExpires: Fri, 01 Jan 2100");
  EXPECT_EQ(r.state, ConnectionState::kRevalidating) << "the head of the answer is not complete";
  Answer(r, " 00:00:00 GMT\r\n\r\n");
  EXPECT_EQ(r.state, ConnectionState::kRevalidated);
  EXPECT_TRUE(r.serverFinished);
  EXPECT_EQ(r.serverInLength, 0);
  EXPECT_TRUE(r.noStore);
  EXPECT_EQ(ClientReads(r), Str(403)) << "the client's If-None-Match, answered after the refresh";
  CacheRecordFixed refreshed = Record("http://origin.test/s");
  EXPECT_EQ(refreshed.expires, 4'102'444'800) << "2100, past 32 bits";
  EXPECT_EQ(refreshed.received, clock_.GreenwichNow());

  // Later plain requests: fresh now, served without asking.
  ConnectionRecord& next = Again("http://origin.test/s");
  CacheLookup(next);
  EXPECT_EQ(next.state, ConnectionState::kRelay);
  std::string served = ClientReadsStream(next);
  EXPECT_NE(served.find("\r\nAge: 0\r\n\r\nold body"), std::string::npos) << served;
}

TEST_F(HttpCache, MissesAndRequestsThatMayNotUseTheCache) {
  Store("http://origin.test/m", "Cache-Control: max-age=600\r\n", "m");
  ConnectionRecord& noCache = Again("http://origin.test/m");
  noCache.noCache = true;
  CacheLookup(noCache);
  ConnectionRecord& noStore = Again("http://origin.test/m");
  noStore.noStore = true;
  CacheLookup(noStore);
  ConnectionRecord& other = Again("http://origin.test/other");
  CacheLookup(other);
  for (ConnectionRecord* r : {&noCache, &noStore, &other}) {
    EXPECT_EQ(r->clientOutLength, 0);
    EXPECT_EQ(r->readFile, -1);
    EXPECT_EQ(r->state, ConnectionState::kRelay);
    EXPECT_FALSE(r->serverFinished);
  }

  // The object file went away: the request goes to the origin as a miss,
  // and the record goes with it.
  ::unlink(CacheObjectPath(Record("http://origin.test/m").objectId).c_str());
  ConnectionRecord& gone = Again("http://origin.test/m");
  std::string request = ServerOut(gone);
  CacheLookup(gone);
  EXPECT_EQ(gone.clientOutLength, 0);
  EXPECT_EQ(gone.readFile, -1);
  EXPECT_EQ(ServerOut(gone), request);
  EXPECT_FALSE(FindRecord("http://origin.test/m"));
}

TEST_F(HttpCache, ADamagedObjectIsDroppedAndTheRequestIsAMissEvenWhenStale) {
  const std::string head = "Cache-Control: max-age=600\r\nETag: \"d\"\r\n";
  const std::string stale = "Expires: Thu, 01 Jan 2015 00:00:00 GMT\r\nETag: \"d\"\r\n";
  struct Case {
    std::string name;
    std::string headLines;
    std::function<void(const std::string& path, const CacheRecordFixed& fixed)> damage;
  };
  auto cutTo = [](std::int64_t size) {
    return [size](const std::string& path, const CacheRecordFixed&) { ASSERT_EQ(::truncate(path.c_str(), size), 0); };
  };
  const Case cases[] = {
      {"body cut short", head,
       [](const std::string& path, const CacheRecordFixed& f) {
         ASSERT_EQ(::truncate(path.c_str(), f.headerLength + f.bodyLength - 1), 0);
       }},
      {"head cut short", head, cutTo(10)},
      {"empty", head, cutTo(0)},
      {"stale and cut short", stale, cutTo(20)},
      {"head without its end", head,
       [](const std::string& path, const CacheRecordFixed& f) {
         std::string bytes = ReadText(path);
         bytes[f.headerLength - 1] = 'X';
         std::ofstream(path, std::ios::binary) << bytes;
       }},
      {"longer than recorded", head,
       [](const std::string& path, const CacheRecordFixed&) {
         std::ofstream(path, std::ios::binary | std::ios::app) << "tail";
       }},
  };
  for (const Case& c : cases) {
    const std::string url = "http://origin.test/" + std::to_string(&c - cases);
    Store(url, c.headLines, "the whole body");
    CacheRecordFixed fixed = Record(url);
    c.damage(CacheObjectPath(fixed.objectId), fixed);
    ConnectionRecord& r = Again(url);
    std::string request = ServerOut(r);
    CacheLookup(r);
    EXPECT_EQ(r.state, ConnectionState::kRelay) << c.name << ": not revalidated";
    EXPECT_EQ(ServerOut(r), request) << c.name << ": asked for as if never stored";
    EXPECT_EQ(r.clientOutLength, 0) << c.name;
    EXPECT_EQ(r.readFile, -1) << c.name;
    EXPECT_FALSE(r.serverFinished) << c.name;
    EXPECT_FALSE(FindRecord(url)) << c.name << ": dropped from the index";
  }

  // A sound object of the same size as recorded is still served.
  Store("http://origin.test/sound", head, "the whole body");
  ConnectionRecord& sound = Again("http://origin.test/sound");
  CacheLookup(sound);
  std::string served = ClientReadsStream(sound);
  EXPECT_TRUE(served.ends_with("\r\n\r\nthe whole body")) << served;
}

TEST_F(HttpCache, ARevalidationThatCannotBeAskedOrServedEndsSoundly) {
  Store("http://origin.test/v", "Expires: Thu, 01 Jan 2015 00:00:00 GMT\r\nETag: \"v\"\r\n", "v");
  // No room left for the revalidating lines: an ordinary miss.
  ConnectionRecord& full = Again("http://origin.test/v");
  full.serverOutLength = kBufferSize - 10;
  CacheLookup(full);
  EXPECT_EQ(full.state, ConnectionState::kRelay);
  EXPECT_EQ(full.serverOutLength, kBufferSize - 10);

  // A head that never ends is relayed as it came.
  ConnectionRecord& cut = Again("http://origin.test/v");
  CacheLookup(cut);
  cut.serverFinished = true;
  Answer(cut, "HTTP/1.1 304");
  EXPECT_EQ(cut.state, ConnectionState::kRelay);

  // The 304 came, but the object file is gone by now.
  ConnectionRecord& lost = Again("http://origin.test/v");
  CacheLookup(lost);
  ASSERT_EQ(lost.state, ConnectionState::kRevalidating);
  ::unlink(CacheObjectPath(Record("http://origin.test/v").objectId).c_str());
  Answer(lost, "HTTP/1.1 304 Not Modified\r\n\r\n");
  std::string page = ClientReads(lost);
  EXPECT_EQ(page.substr(0, Str(405).size()), Str(405)) << page;
  EXPECT_TRUE(lost.serverFinished);
}

}  // namespace
}  // namespace brindlex
