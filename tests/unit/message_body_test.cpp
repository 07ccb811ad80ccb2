#include "http/message_body.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace brindlex {
namespace {

using Views = std::vector<std::string_view>;

MessageBody Framed(const Views& lengths, const Views& encodings, bool* accepted = nullptr) {
  MessageBody body;
  bool ok = DecideBodyFraming(lengths, encodings, false, body);
  if (accepted) *accepted = ok;
  return body;
}

MessageBody Chunked() { return Framed({}, {"chunked"}); }

// Feeds `bytes` in pieces of `piece` bytes; returns how many were body.
size_t Feed(MessageBody& body, const std::string& bytes, size_t piece) {
  size_t taken = 0;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    size_t length = std::min(piece, bytes.size() - at);
    size_t n = TakeBody(body, bytes.data() + at, length);
    taken += n;
    if (n < length) break;
  }
  return taken;
}

TEST(BodyFraming, LengthsAndEncodingsDecideOrRefuse) {
  struct Case {
    Views lengths;
    Views encodings;
    bool accepted;
    MessageBody::Framing framing;
    std::int64_t left;
  };
  const Case cases[] = {
      {{}, {}, true, MessageBody::Framing::kNone, 0},
      {{"0"}, {}, true, MessageBody::Framing::kLength, 0},
      {{"42\t "}, {}, true, MessageBody::Framing::kLength, 42},
      {{"7", "7"}, {}, true, MessageBody::Framing::kLength, 7},
      {{"7", "8"}, {}, false, MessageBody::Framing::kNone, 0},
      {{"7, 7"}, {}, false, MessageBody::Framing::kNone, 0},
      {{"-1"}, {}, false, MessageBody::Framing::kNone, 0},
      {{"0x10"}, {}, false, MessageBody::Framing::kNone, 0},
      {{""}, {}, false, MessageBody::Framing::kNone, 0},
      {{"1152921504606846975"}, {}, true, MessageBody::Framing::kLength, kBodyLengthMax},
      {{"1152921504606846976"}, {}, false, MessageBody::Framing::kNone, 0},
      {{"99999999999999999999999"}, {}, false, MessageBody::Framing::kNone, 0},
      {{}, {"chunked"}, true, MessageBody::Framing::kChunked, 0},
      {{}, {"CHUNKED "}, true, MessageBody::Framing::kChunked, 0},
      {{}, {"chunked", "chunked"}, false, MessageBody::Framing::kNone, 0},
      {{}, {"gzip, chunked"}, false, MessageBody::Framing::kNone, 0},
      {{}, {"identity"}, false, MessageBody::Framing::kNone, 0},
      {{"5"}, {"chunked"}, false, MessageBody::Framing::kNone, 0},
  };
  for (const Case& c : cases) {
    bool accepted = false;
    MessageBody body = Framed(c.lengths, c.encodings, &accepted);
    std::string label = (c.lengths.empty() ? std::string("-") : std::string(c.lengths[0])) + " / " +
                        (c.encodings.empty() ? std::string("-") : std::string(c.encodings[0]));
    EXPECT_EQ(accepted, c.accepted) << label;
    if (!c.accepted) continue;
    EXPECT_EQ(body.framing, c.framing) << label;
    EXPECT_EQ(body.left, c.left) << label;
  }
  MessageBody connect;
  EXPECT_TRUE(DecideBodyFraming({}, {}, true, connect));
  EXPECT_EQ(connect.framing, MessageBody::Framing::kTunnel);
  EXPECT_FALSE(DecideBodyFraming({"1"}, {"chunked"}, true, connect)) << "a CONNECT is held to the same rules";
}

TEST(BodyTracker, ALengthPassesExactlyThatManyBytes) {
  MessageBody body = Framed({"5"}, {});
  EXPECT_FALSE(BodyEnded(body));
  EXPECT_EQ(TakeBody(body, "hel", 3), 3u);
  EXPECT_EQ(TakeBody(body, "loGET / HTTP/1.1", 16), 2u);
  EXPECT_TRUE(BodyEnded(body));
  EXPECT_EQ(TakeBody(body, "more", 4), 0u);

  MessageBody none = Framed({}, {});
  EXPECT_TRUE(BodyEnded(none));
  EXPECT_EQ(TakeBody(none, "GET", 3), 0u);

  MessageBody tunnel;
  ASSERT_TRUE(DecideBodyFraming({}, {}, true, tunnel));
  EXPECT_EQ(TakeBody(tunnel, "anything", 8), 8u);
  EXPECT_FALSE(BodyEnded(tunnel));
}

TEST(BodyTracker, ChunkedEndsAfterTheTrailerWhateverThePieces) {
  const std::string body = "5\r\nhello\r\n1a;name=value\r\n" + std::string(26, 'x') + "\r\n0\r\nTrailer: t\r\n\r\n";
  const std::string next = "GET http://smuggled/ HTTP/1.1\r\n\r\n";
  for (size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
    MessageBody tracker = Chunked();
    EXPECT_EQ(Feed(tracker, body + next, piece), body.size()) << piece;
    EXPECT_TRUE(BodyEnded(tracker)) << piece;
    EXPECT_FALSE(BodyBroken(tracker)) << piece;
  }
  MessageBody plain = Chunked();
  EXPECT_EQ(Feed(plain, "0\r\n\r\nX", 100), 5u);
  EXPECT_TRUE(BodyEnded(plain));
  MessageBody upper = Chunked();
  EXPECT_EQ(Feed(upper, "A\r\n0123456789\r\n0\r\n\r\n", 100), 20u);
  EXPECT_TRUE(BodyEnded(upper));
}

// An answer cut off anywhere before its final blank line must not be taken
// for a whole object by the cache.
TEST(BodyTracker, EveryCutOfAChunkedBodyIsUnfinished) {
  const std::string bodies[] = {
      "5\r\nhello\r\n0\r\n\r\n",
      "A;name=value\r\n0123456789\r\n1a \r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nX-Trailer: 1\r\nY: 2\r\n\r\n",
      "3\r\n0\r\n\r\n0\r\n\r\n",  // data that looks like a last chunk
  };
  for (const std::string& body : bodies) {
    MessageBody whole = Chunked();
    EXPECT_EQ(Feed(whole, body, 3), body.size()) << body;
    EXPECT_TRUE(BodyEnded(whole)) << body;
    for (size_t cut = 0; cut < body.size(); ++cut) {
      MessageBody tracker = Chunked();
      Feed(tracker, body.substr(0, cut), 3);
      EXPECT_FALSE(BodyEnded(tracker)) << body << " cut at " << cut;
    }
  }
}

TEST(BodyTracker, ChunkedSyntaxErrorsStopAtTheFaultyByte) {
  struct Case {
    std::string bytes;
    size_t taken;  // bytes let through before the fault
  };
  const Case cases[] = {
      {"x\r\n", 0},                   // no size
      {"\r\n", 0},                    // empty size
      {"5\nhello\r\n0\r\n\r\n", 1},   // bare LF after the size
      {"5\r\nhello\n0\r\n\r\n", 8},   // data not followed by CR LF
      {"5\r\nhelloX\r\n", 8},         // more data than the size
      {"5;ext\nhello", 5},            // bare LF after an extension
      {"0\r\nTrailer: t\n\r\n", 13},  // bare LF in a trailer
      {"0\r\n\r\r", 4},               // final CR without its LF
      {"1000000000000000\r\n", 15},   // 16 hex digits
      {"5;" + std::string(kChunkLineMax + 10, 'e'), 2 + kChunkLineMax},
      {"0\r\n" + std::string(kChunkLineMax + 10, 't'), 3 + kChunkLineMax},
      {"5;a\0b\r\n"s, 3},  // NUL in an extension
  };
  for (const Case& c : cases) {
    MessageBody tracker = Chunked();
    EXPECT_EQ(Feed(tracker, c.bytes, c.bytes.size()), c.taken) << c.bytes.substr(0, 30);
    EXPECT_TRUE(BodyBroken(tracker)) << c.bytes.substr(0, 30);
    EXPECT_FALSE(BodyEnded(tracker));
    EXPECT_EQ(TakeBody(tracker, "0\r\n\r\n", 5), 0u) << "nothing passes once broken";
  }
}

TEST(BodyTracker, AnIncompleteChunkedBodyNeitherEndsNorBreaks) {
  MessageBody tracker = Chunked();
  EXPECT_EQ(Feed(tracker, "fffffffffffffff\r\nabc", 100), 20u);
  EXPECT_FALSE(BodyEnded(tracker));
  EXPECT_FALSE(BodyBroken(tracker));
  EXPECT_EQ(tracker.left, kBodyLengthMax - 3);
}

}  // namespace
}  // namespace brindlex
