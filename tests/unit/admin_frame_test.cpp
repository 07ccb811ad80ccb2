// The administration channel's frames: every kind encodes and parses back,
// the reader cuts the same frames fed whole or byte by byte, refuses lengths
// above its limit, zero lengths and unknown kinds, and payload parsers refuse
// what is too short or too long.
#include "console/admin_frame.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindlex {
namespace {

std::vector<Frame> CutAll(const std::string& bytes, std::size_t step, std::size_t limit, bool* broken = nullptr) {
  FrameReader reader(limit);
  std::vector<Frame> frames;
  for (std::size_t at = 0; at < bytes.size(); at += step) {
    reader.Feed(std::string_view(bytes).substr(at, step));
    while (std::optional<Frame> frame = reader.Take()) frames.push_back(std::move(*frame));
  }
  if (broken) *broken = reader.Broken();
  return frames;
}

TEST(AdminFrame, EveryKindRoundTripsWholeAndByteByByte) {
  const std::string stream = HelloFrame("pa\0ss" + std::string(1, '\0')) + WelcomeFrame("gate.lan") +
                             RefusedFrame("нет") + CallFrame(0x01020304, 0x0506, std::string("a\0b", 3)) +
                             ReplyFrame(9, true, "result") + ReplyFrame(10, false, "") + AbortFrame(77) +
                             ProgressFrame(5, "step 3") + PushFrame(AdminPush::kRefresh, "\x05") +
                             EncodeFrame(FrameKind::kPing, "") + EncodeFrame(FrameKind::kPong, "");
  for (std::size_t step : {stream.size(), std::size_t{1}, std::size_t{3}}) {
    SCOPED_TRACE(step);
    bool broken = true;
    std::vector<Frame> frames = CutAll(stream, step, kFrameLimitBeforeLogin, &broken);
    EXPECT_FALSE(broken);
    ASSERT_EQ(frames.size(), 11u);

    Hello hello;
    ASSERT_EQ(frames[0].kind, FrameKind::kHello);
    ASSERT_TRUE(ParseHello(frames[0].payload, hello));
    EXPECT_EQ(hello.version, kAdminProtocolVersion);
    EXPECT_EQ(hello.password, "pa\0ss" + std::string(1, '\0'));

    std::uint16_t version = 0;
    std::string host;
    ASSERT_TRUE(ParseWelcome(frames[1].payload, version, host));
    EXPECT_EQ(version, kAdminProtocolVersion);
    EXPECT_EQ(host, "gate.lan");

    EXPECT_EQ(frames[2].kind, FrameKind::kRefused);
    EXPECT_EQ(frames[2].payload, "нет");

    std::uint32_t id = 0;
    std::uint16_t call = 0;
    std::string_view rest;
    ASSERT_TRUE(ParseCall(frames[3].payload, id, call, rest));
    EXPECT_EQ(id, 0x01020304u);
    EXPECT_EQ(call, 0x0506);
    EXPECT_EQ(rest, std::string_view("a\0b", 3));

    bool ok = false;
    ASSERT_TRUE(ParseReply(frames[4].payload, id, ok, rest));
    EXPECT_EQ(id, 9u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(rest, "result");
    ASSERT_TRUE(ParseReply(frames[5].payload, id, ok, rest));
    EXPECT_FALSE(ok);

    ASSERT_TRUE(ParseAbort(frames[6].payload, id));
    EXPECT_EQ(id, 77u);
    ASSERT_TRUE(ParseProgress(frames[7].payload, id, rest));
    EXPECT_EQ(id, 5u);
    EXPECT_EQ(rest, "step 3");

    AdminPush push{};
    ASSERT_TRUE(ParsePush(frames[8].payload, push, rest));
    EXPECT_EQ(push, AdminPush::kRefresh);
    EXPECT_EQ(rest, "\x05");
    EXPECT_EQ(frames[9].kind, FrameKind::kPing);
    EXPECT_EQ(frames[10].kind, FrameKind::kPong);
  }
}

TEST(AdminFrame, LengthFieldIsBigEndianAndCountsTheKind) {
  std::string frame = EncodeFrame(FrameKind::kPing, "abc");
  ASSERT_EQ(frame.size(), 8u);
  EXPECT_EQ(frame.substr(0, 5), std::string("\0\0\0\x04\x09", 5));
}

TEST(AdminFrame, ReaderBreaksOnLengthsAndKindsItCannotTake) {
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t limit;
    bool broken;
    std::size_t frames;
  } cases[] = {
      {"at the limit", EncodeFrame(FrameKind::kPing, std::string(99, 'x')), 100, false, 1},
      {"one above the limit", EncodeFrame(FrameKind::kPing, std::string(100, 'x')), 100, true, 0},
      // Known as soon as the length arrives, before any payload.
      {"length alone above the limit", std::string("\x7f\xff\xff\xff", 4), kFrameLimitFromGateway, true, 0},
      {"zero length", std::string("\0\0\0\0", 4), 100, true, 0},
      {"unknown kind", std::string("\0\0\0\x01\x0b", 5), 100, true, 0},
      {"kind zero", std::string("\0\0\0\x01\x00", 5), 100, true, 0},
      {"good frame then garbage", EncodeFrame(FrameKind::kPong, "") + "GET / HTTP/1.1\r\n", 4096, true, 1},
      {"half a frame", EncodeFrame(FrameKind::kPing, "abcdef").substr(0, 7), 100, false, 0},
  };
  for (const Case& c : cases) {
    for (std::size_t step : {c.bytes.size(), std::size_t{1}}) {
      bool broken = false;
      std::vector<Frame> frames = CutAll(c.bytes, step, c.limit, &broken);
      EXPECT_EQ(broken, c.broken) << c.what << " step " << step;
      EXPECT_EQ(frames.size(), c.frames) << c.what << " step " << step;
    }
  }
}

TEST(AdminFrame, ReaderHoldsOnlyTheUnfinishedFrame) {
  FrameReader reader(kFrameLimitBeforeLogin);
  std::string two = EncodeFrame(FrameKind::kPing, "") + EncodeFrame(FrameKind::kCall, "123456");
  reader.Feed(std::string_view(two).substr(0, 8));
  ASSERT_TRUE(reader.Take().has_value());
  EXPECT_FALSE(reader.Take().has_value());
  EXPECT_TRUE(reader.MidFrame());
  EXPECT_EQ(reader.Buffered(), 3u);
  reader.Feed(std::string_view(two).substr(8));
  std::optional<Frame> call = reader.Take();
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->payload, "123456");
  EXPECT_FALSE(reader.MidFrame());
  // A raised limit takes the larger frame a logged-in console may send.
  std::string big = EncodeFrame(FrameKind::kCall, std::string(5000, 'a'));
  reader.SetLimit(kFrameLimitFromConsole);
  reader.Feed(big);
  ASSERT_TRUE(reader.Take().has_value());
}

TEST(AdminFrame, PayloadParsersRefuseWhatCannotBe) {
  Hello hello;
  EXPECT_FALSE(ParseHello("", hello));
  EXPECT_FALSE(ParseHello("BRXB\0\x01\0\0\0\0", hello));
  EXPECT_FALSE(ParseHello(std::string("BRXA\0", 5), hello));
  // A password length past the payload, or bytes after the password.
  EXPECT_FALSE(ParseHello(std::string("BRXA\0\x01\0\0\0\x05pw", 12), hello));
  EXPECT_FALSE(ParseHello(std::string("BRXA\0\x01\0\0\0\x02pwX", 13), hello));
  EXPECT_FALSE(ParseHello(std::string("BRXA\0\x01\0\0\0", 9), hello));
  // Another version: only the magic and the number are read.
  std::string other = HelloFrame("pw", 7).substr(kFrameHeaderSize);
  ASSERT_TRUE(ParseHello(other, hello));
  EXPECT_EQ(hello.version, 7);
  ASSERT_TRUE(ParseHello(std::string("BRXA\0\x09whatever", 14), hello));
  EXPECT_EQ(hello.version, 9);

  std::uint32_t id = 0;
  std::uint16_t call = 0;
  bool ok = false;
  std::string_view rest;
  AdminPush push{};
  std::string host;
  EXPECT_FALSE(ParseCall(std::string("\0\0\0\x01\0", 5), id, call, rest));
  EXPECT_FALSE(ParseReply(std::string("\0\0\0\x01", 4), id, ok, rest));
  EXPECT_FALSE(ParseReply(std::string("\0\0\0\x01\x02", 5), id, ok, rest));
  EXPECT_FALSE(ParseAbort(std::string("\0\0\0", 3), id));
  EXPECT_FALSE(ParseAbort(std::string("\0\0\0\x01\x01", 5), id));
  EXPECT_FALSE(ParseProgress("abc", id, rest));
  EXPECT_FALSE(ParsePush("", push, rest));
  EXPECT_FALSE(ParsePush("\x05line", push, rest));
  EXPECT_FALSE(ParsePush(std::string("\0line", 5), push, rest));
  EXPECT_FALSE(ParseWelcome("\x01", call, host));
}

TEST(AdminFrame, VersionRefusalNamesBothVersions) {
  std::string text = VersionRefusalText(7, 1);
  EXPECT_NE(text.find('7'), std::string::npos);
  EXPECT_NE(text.find('1'), std::string::npos);
  EXPECT_NE(text, VersionRefusalText(1, 7));
}

}  // namespace
}  // namespace brindlex
