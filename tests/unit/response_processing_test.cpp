// The response side of the HTTP relay: the response head parser, the pieces
// of a response relayed through MoveToClient in kRelay and the cache
// objects they leave behind, and the streaming of a file to the client.
#include "http/response_processing.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <gtest/gtest.h>

#include "cache/cache_store.h"
#include "http/response_head.h"
#include "net/relay.h"
#include "tests/unit/cache_path_world.h"

namespace brindlex {
namespace {

using namespace std::string_literals;

const std::string kFullHead =
    "HTTP/1.1 200 OK\r\n"
    "Server: test\r\n"
    "DATE: Mon, 07 Dec 2026 11:00:00 GMT\r\n"
    "Cache-Control: public, max-age=600, must-revalidate\r\n"
    "Age: 30\r\n"
    "Content-Length: 5\r\n"
    "ETag: \"v1-abc\"\r\n"
    "Expires: Mon, 07 Dec 2026 13:00:00 GMT\r\n"
    "Last-Modified: Sun, 06 Dec 2026 12:00:00 GMT\r\n"
    "\r\n";
const std::string kFullBlock =
    "HTTP/1.1 200 OK\r\n"
    "Server: test\r\n"
    "Cache-Control: public, max-age=600, must-revalidate\r\n"
    "Content-Length: 5\r\n"
    "ETag: \"v1-abc\"\r\n"
    "Expires: Mon, 07 Dec 2026 13:00:00 GMT\r\n"
    "Last-Modified: Sun, 06 Dec 2026 12:00:00 GMT\r\n"
    "\r\n";

std::int32_t Seconds(int day, int hour) { return static_cast<std::int32_t>(LocalSeconds(2026, 12, day, hour)); }

TEST(ResponseHead, EveryHeaderOfTheTableIsReadAndAllButDateAndAgeAreStored) {
  ResponseHead head;
  ASSERT_TRUE(ParseResponseHead((kFullHead + "hello").data(), kFullHead.size() + 5, false, head));
  EXPECT_EQ(head.headLength, kFullHead.size());
  EXPECT_TRUE(head.isHttp);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.dateHeader, Seconds(7, 11));
  EXPECT_EQ(head.ageHeader, 30);
  EXPECT_EQ(head.expires, Seconds(7, 13));
  EXPECT_EQ(head.lastModified, Seconds(6, 12));
  EXPECT_EQ(head.maxAge, 600);
  EXPECT_TRUE(head.mustRevalidate);
  EXPECT_TRUE(head.isPublic);
  EXPECT_FALSE(head.noStore);
  EXPECT_EQ(head.contentLength, 5);
  EXPECT_EQ(head.etag, "v1-abc");
  EXPECT_EQ(head.headerBlock, kFullBlock);
  EXPECT_FALSE(head.chunked);
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked \r\n\r\n";
  ASSERT_TRUE(ParseResponseHead(chunked.data(), chunked.size(), false, head));
  EXPECT_TRUE(head.chunked);
  EXPECT_EQ(head.headerBlock, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked \r\n\r\n") << "stored as it came";
  const std::string other = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n";
  ASSERT_TRUE(ParseResponseHead(other.data(), other.size(), false, head));
  EXPECT_FALSE(head.chunked) << "chunked only as the last coding frames the body";
}

TEST(ResponseHead, FedByteByByteTheHeadIsReadOnlyOnceItEnds) {
  ResponseHead whole;
  ASSERT_TRUE(ParseResponseHead(kFullHead.data(), kFullHead.size(), false, whole));
  for (size_t length = 0; length < kFullHead.size(); ++length) {
    ResponseHead partial;
    partial.status = -7;
    ASSERT_FALSE(ParseResponseHead(kFullHead.data(), length, false, partial)) << length;
    ASSERT_EQ(partial.status, -7) << "left alone while incomplete";
  }
  std::string lfOnly = "HTTP/1.0 200 OK\nDate: x\nX-A: 1\n\nbody";
  ResponseHead head;
  ASSERT_TRUE(ParseResponseHead(lfOnly.data(), lfOnly.size(), false, head));
  EXPECT_EQ(head.headLength, lfOnly.size() - 4);
  EXPECT_EQ(head.headerBlock, "HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\n") << "bare LF lines are stored with CR LF";
}

TEST(ResponseHead, DirectivesAndOddValues) {
  struct Case {
    std::string lines;
    bool cachCookie;
    bool noStore;
    std::int32_t maxAge;
    std::int64_t contentLength;
  };
  const Case cases[] = {
      {"Cache-Control: private\r\n", false, true, -1, -1},
      {"cache-control: max-age=5, No-Cache\r\n", false, true, 5, -1},
      {"Cache-Control: \"no-store\"\r\n", false, true, -1, -1},
      {"Cache-Control: max-age\r\n", false, false, -1, -1},
      {"Cache-Control: max-age = \"77\"\r\n", false, false, 77, -1},
      {"Cache-Control: max-age=99999999999\r\n", false, false, INT32_MAX, -1},
      {"Pragma: no-cache\r\n", false, true, -1, -1},
      {"Pragma: x, no-cache\r\n", false, false, -1, -1},
      {"Set-Cookie: a=b\r\n", false, true, -1, -1},
      {"Set-Cookie: a=b\r\n", true, false, -1, -1},
      {"Content-Length: many\r\n", false, false, -1, -1},
      {"Content-Length:  12 \r\n", false, false, -1, 12},
  };
  for (const Case& c : cases) {
    std::string text = "HTTP/1.1 200 OK\r\n" + c.lines + "\r\n";
    ResponseHead head;
    ASSERT_TRUE(ParseResponseHead(text.data(), text.size(), c.cachCookie, head)) << c.lines;
    EXPECT_EQ(head.noStore, c.noStore) << c.lines;
    EXPECT_EQ(head.maxAge, c.maxAge) << c.lines;
    EXPECT_EQ(head.contentLength, c.contentLength) << c.lines;
  }

  auto parse = [](const std::string& text) {
    ResponseHead head;
    EXPECT_TRUE(ParseResponseHead(text.data(), text.size(), false, head)) << text;
    return head;
  };
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nExpires: 0\r\n\r\n").expires, 0) << "unreadable: already expired";
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nExpires: Fri, 01 Jan 2100 00:00:00 GMT\r\n\r\n").expires, 4'102'444'800)
      << "kept whole past 2038";
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nDate: soon\r\n\r\n").dateHeader, -1);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\n\r\n").dateHeader, std::nullopt);
  EXPECT_EQ(parse("HTTP/1.1 304 Not Modified\r\n\r\n").status, 304);
  EXPECT_EQ(parse("http/1.0 20 Short\r\n\r\n").status, 0);
  EXPECT_EQ(parse("HTTP/1.0 2000 Long\r\n\r\n").status, 0);
  EXPECT_FALSE(parse("ICY 200 OK\r\n\r\n").isHttp);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nDate: Mon,\r\n 07 Dec 2026\r\nX-A: 1,\r\n\t2\r\n\r\n").headerBlock,
            "HTTP/1.1 200 OK\r\nX-A: 1,\r\n\t2\r\n\r\n")
      << "a folded line goes with the header it continues";
}

class ResponseProcessing : public testing::CachePathWorld {
 protected:
  // The one live record of `url`.
  std::optional<CacheListing> Stored(const std::string& url) {
    for (CacheListing& listing : ListSnapshot(SnapshotCacheIndex().data(), SnapshotCacheIndex().size()))
      if (listing.url == url) return listing;
    return std::nullopt;
  }
  std::int64_t StoredObjects() { return CountCacheObjects().objects; }
};

TEST_F(ResponseProcessing, StorableAnswerIsRelayedUnchangedAndStoredWhateverThePieces) {
  for (size_t piece : {size_t{1}, size_t{7}, size_t{8192}}) {
    const std::string url = "http://origin.test/p" + std::to_string(piece);
    ConnectionRecord& r = Request(url);
    EXPECT_EQ(Fetch(r, kFullHead + "hello", piece), kFullHead + "hello") << piece;
    std::optional<CacheListing> listing = Stored(url);
    ASSERT_TRUE(listing) << piece;
    const CacheRecordFixed& f = listing->fixed;
    EXPECT_EQ(f.received, clock_.GreenwichNow());
    EXPECT_EQ(f.lastUsed, clock_.GreenwichNow());
    EXPECT_EQ(f.dateHeader, Seconds(7, 11));
    EXPECT_EQ(f.ageHeader, 30);
    EXPECT_EQ(f.maxAge, 600);
    EXPECT_EQ(f.expires, Seconds(7, 13));
    EXPECT_EQ(f.lastModified, Seconds(6, 12));
    EXPECT_EQ(f.mustRevalidate, 1);
    EXPECT_EQ(f.headerLength, kFullBlock.size());
    EXPECT_EQ(f.bodyLength, 5);
    EXPECT_EQ(listing->etag, "v1-abc");
    EXPECT_EQ(ReadText(CacheObjectPath(f.objectId)), kFullBlock + "hello");
    EXPECT_EQ(r.cacheWriteFile, -1);
    EXPECT_TRUE(r.noStore) << "the answer is over";
  }
}

TEST_F(ResponseProcessing, AnswersThatAreRelayedButNotStored) {
  struct Case {
    std::string name;
    std::string head;
    bool requestNoStore = false;
    bool hasAuthorization = false;
  };
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const Case cases[] = {
      {"status", "HTTP/1.1 404 Not Found\r\n\r\n"},
      {"cookie", ok + "Set-Cookie: s=1\r\n\r\n"},
      {"private", ok + "Cache-Control: private\r\n\r\n"},
      {"pragma", ok + "Pragma: no-cache\r\n\r\n"},
      {"over the cap", ok + "Content-Length: 104858\r\n\r\n"},
      {"request", ok + "\r\n", true},
      {"credentials", ok + "\r\n", false, true},
  };
  for (const Case& c : cases) {
    ConnectionRecord& r = Request("http://origin.test/" + c.name);
    r.noStore = c.requestNoStore;
    r.hasAuthorization = c.hasAuthorization;
    EXPECT_EQ(Fetch(r, c.head + "body"), c.head + "body") << c.name;
    EXPECT_EQ(r.cacheWriteFile, -1) << c.name;
  }
  EXPECT_EQ(StoredObjects(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(CacheFolder())) << "no object file was even started";

  ConnectionRecord& r = Request("http://origin.test/public");
  r.hasAuthorization = true;
  Fetch(r, ok + "Cache-Control: public\r\n\r\nbody");
  EXPECT_TRUE(Stored("http://origin.test/public")) << "public answers may be stored for requests with credentials";
}

TEST_F(ResponseProcessing, BodiesAreStoredUpToThePerObjectCapAndNoFurther) {
  ChangeSettings([&](SystemSettings& s) { s.KbPerMb = 1; });  // cap = CachLengthMax x 1024 bytes
  ChangeSettings([&](SystemSettings& s) { s.CachLengthMax = 1; });
  const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
  struct Case {
    size_t bodySize;
    size_t piece;
    bool stored;
  };
  for (const Case& c : {Case{1024, 100, true}, Case{1025, 100, false}, Case{1025, 8192, false}}) {
    std::string url = "http://origin.test/" + std::to_string(c.bodySize) + "-" + std::to_string(c.piece);
    ConnectionRecord& r = Request(url);
    std::string response = head + std::string(c.bodySize, 'b');
    std::string received = Relay(r, response, c.piece);
    std::uint32_t objectId = DecodeRecordFixed(r.cacheEntry.data()).objectId;
    EndOfResponse(r);
    EXPECT_EQ(received, response) << url;
    EXPECT_EQ(Stored(url).has_value(), c.stored) << url;
    if (!c.stored && c.piece == 100) {
      // Abandoned while it arrived: the store no longer counts it as being
      // written, so the next folder scan deletes it.
      EXPECT_EQ(ScanObjectFile(objectId, CacheObjectPath(objectId), 2000), ObjectFileFate::Deleted) << url;
    }
  }
}

TEST_F(ResponseProcessing, TheEndOfTheBodyFinishesTheServerSideAndAShortBodyIsNotIndexed) {
  ConnectionRecord& r = Request("http://origin.test/complete");
  std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789";
  std::memcpy(r.serverIn, response.data(), 45);
  r.serverInLength = 45;
  MoveToClient(r, r.serverIn, r.serverInLength);
  EXPECT_FALSE(r.serverFinished) << "head and half the body";
  std::memcpy(r.serverIn, response.data() + 45, response.size() - 45);
  r.serverInLength = static_cast<int>(response.size() - 45);
  MoveToClient(r, r.serverIn, r.serverInLength);
  EXPECT_TRUE(r.serverFinished) << "the whole declared body is there, even if the server keeps the connection";
  EXPECT_TRUE(r.serverEof);
  EndOfResponse(r);
  EXPECT_TRUE(Stored("http://origin.test/complete"));

  ConnectionRecord& cut = Request("http://origin.test/cut");
  Fetch(cut, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234");
  EXPECT_FALSE(Stored("http://origin.test/cut")) << "5 of 10 body bytes";
  EXPECT_EQ(StoredObjects(), 1);
}

TEST_F(ResponseProcessing, AChunkedAnswerIsIndexedOnlyThroughItsLastChunk) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n";
  const std::string body = "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
  for (size_t piece : {size_t{3}, size_t{8192}}) {
    const std::string whole = "http://origin.test/whole" + std::to_string(piece);
    EXPECT_EQ(Fetch(Request(whole), head + body, piece), head + body);
    std::optional<CacheListing> listing = Stored(whole);
    ASSERT_TRUE(listing) << piece;
    EXPECT_EQ(ReadText(CacheObjectPath(listing->fixed.objectId)).substr(listing->fixed.headerLength), body);

    const std::string cut = "http://origin.test/cut" + std::to_string(piece);
    const std::string part = body.substr(0, body.size() - 5);  // the last chunk never came
    EXPECT_EQ(Fetch(Request(cut), head + part, piece), head + part) << "relayed as it came";
    EXPECT_FALSE(Stored(cut)) << piece;
  }
  EXPECT_EQ(StoredObjects(), 2);
}

TEST_F(ResponseProcessing, AHeadIsHeldBackUntilItEndsAndRelayedAsItIsWhenItCannot) {
  ConnectionRecord& r = Request("http://origin.test/held");
  std::string part = "HTTP/1.1 200 OK\r\nX-Long: ";
  std::memcpy(r.serverIn, part.data(), part.size());
  r.serverInLength = static_cast<int>(part.size());
  MoveToClient(r, r.serverIn, r.serverInLength);
  EXPECT_EQ(r.clientOutLength, 0);
  EXPECT_EQ(r.serverInLength, static_cast<int>(part.size())) << "held back";
  EXPECT_EQ(r.responseState, kResponseHeadPending);

  // With room in the client output for only part of the head, the part that
  // fits is still no complete head.
  std::string rest = "x\r\n\r\nbody";
  std::memcpy(r.serverIn + r.serverInLength, rest.data(), rest.size());
  r.serverInLength += static_cast<int>(rest.size());
  r.clientOutLength = r.clientOutCapacity - 4;
  MoveToClient(r, r.serverIn, r.serverInLength);
  EXPECT_EQ(r.responseState, kResponseHeadPending);
  r.clientOutLength = 0;
  MoveToClient(r, r.serverIn, r.serverInLength);
  EXPECT_EQ(ClientReads(r), part + rest);
  EXPECT_EQ(r.responseState, kResponseBody);

  ConnectionRecord& endless = Request("http://origin.test/endless");
  EXPECT_EQ(Fetch(endless, part), part) << "the server closed inside the head";
  EXPECT_EQ(endless.responseState, kResponseNotStored);

  ConnectionRecord& odd = Request("http://origin.test/odd");
  EXPECT_EQ(Fetch(odd, "ICY 200 OK\r\n\r\nstream"), "ICY 200 OK\r\n\r\nstream");
  EXPECT_EQ(odd.responseState, kResponseNotStored);
  EXPECT_EQ(StoredObjects(), 0);
}

TEST_F(ResponseProcessing, StreamingAFileFillsTheClientOutputAndCountsOnlyCacheHits) {
  std::string path = folder_ + "/file.bin";
  std::string content(20000, 'f');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
  std::ofstream(path, std::ios::binary) << content;

  ConnectionRecord& hit = Request("http://origin.test/hit");
  hit.readFile = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  hit.clientOutLength = 100;  // queued earlier: only the free room is filled
  StreamReadFile(hit);
  EXPECT_EQ(hit.clientOutLength, hit.clientOutCapacity);
  EXPECT_FALSE(hit.serverFinished);
  std::string streamed(hit.clientOut.get() + 100, static_cast<size_t>(hit.clientOutCapacity - 100));
  hit.clientOutLength = 0;
  streamed += ClientReadsStream(hit);
  EXPECT_EQ(streamed, content);
  EXPECT_EQ(hit.readFile, -1);
  EXPECT_TRUE(hit.serverFinished);
  EXPECT_EQ(ProgramTrafficCounters().cacheBytes, 20000);

  ConnectionRecord& page = Request("http://gateway/page");
  page.servingLocalFile = true;
  page.readFile = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(ClientReadsStream(page), content);
  EXPECT_EQ(ProgramTrafficCounters().cacheBytes, 20000) << "a web-server file is no cache traffic";
}

}  // namespace
}  // namespace brindlex
