#include "socks/socks_messages.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// Every proper prefix of a complete message waits for more; none is judged.
template <typename Parse>
void EveryPrefixIsIncomplete(const std::string& message, Parse parse) {
  for (size_t n = 0; n < message.size(); ++n)
    EXPECT_EQ(parse(std::string_view(message.data(), n)), SocksParse::kIncomplete) << "prefix of " << n;
}

TEST(SocksGreeting, LoginIsChosenWheneverOffered) {
  SocksGreeting g;
  ASSERT_EQ(ParseSocksGreeting(Bytes({5, 2, 0, 2}), g), SocksParse::kComplete);
  EXPECT_TRUE(g.offersLogin);
  EXPECT_EQ(g.length, 4u);
  ASSERT_EQ(ParseSocksGreeting(Bytes({5, 1, 0}), g), SocksParse::kComplete);
  EXPECT_FALSE(g.offersLogin);
  EXPECT_EQ(g.length, 3u);
  ASSERT_EQ(ParseSocksGreeting(Bytes({5, 0}), g), SocksParse::kComplete);
  EXPECT_FALSE(g.offersLogin);
}

TEST(SocksGreeting, SplitGreetingWaitsAndTrailingBytesAreNotPartOfIt) {
  std::string greeting = Bytes({5, 3, 0, 1, 2});
  EveryPrefixIsIncomplete(greeting, [](std::string_view in) {
    SocksGreeting g;
    return ParseSocksGreeting(in, g);
  });
  SocksGreeting g;
  ASSERT_EQ(ParseSocksGreeting(greeting + Bytes({5, 1, 0}), g), SocksParse::kComplete);
  EXPECT_EQ(g.length, greeting.size());
  // A method 2 beyond NMETHODS is the next message's byte, not an offer.
  ASSERT_EQ(ParseSocksGreeting(Bytes({5, 1, 0, 2}), g), SocksParse::kComplete);
  EXPECT_FALSE(g.offersLogin);
}

TEST(SocksGreeting, OtherVersionsAreMalformed) {
  SocksGreeting g;
  EXPECT_EQ(ParseSocksGreeting(Bytes({4, 1, 0}), g), SocksParse::kMalformed);
  EXPECT_EQ(ParseSocksGreeting(Bytes({4}), g), SocksParse::kMalformed);
}

TEST(SocksLogin, NameAndPasswordAreTakenAsSent) {
  std::string message = Bytes({1, 3}) + "bob" + Bytes({4}) + "pw,1";
  EveryPrefixIsIncomplete(message, [](std::string_view in) {
    SocksLogin l;
    return ParseSocksLogin(in, l);
  });
  SocksLogin l;
  const std::string followed = message + "xyz";
  ASSERT_EQ(ParseSocksLogin(followed, l), SocksParse::kComplete);
  EXPECT_EQ(l.user, "bob");
  EXPECT_EQ(l.password, "pw,1");
  EXPECT_EQ(l.length, message.size());
  // The SOCKS version in its place is accepted too; empty fields are fields.
  ASSERT_EQ(ParseSocksLogin(Bytes({5, 0, 0}), l), SocksParse::kComplete);
  EXPECT_EQ(l.user, "");
  EXPECT_EQ(l.password, "");
  EXPECT_EQ(l.length, 3u);
  EXPECT_EQ(ParseSocksLogin(Bytes({2, 0, 0}), l), SocksParse::kMalformed);
}

TEST(SocksRequest, AddressAndNameTargets) {
  std::string byAddress = Bytes({5, 1, 0, 1, 192, 168, 0, 7, 0x1F, 0x90});
  EveryPrefixIsIncomplete(byAddress, [](std::string_view in) {
    SocksRequest r;
    return ParseSocksRequest(in, r);
  });
  SocksRequest r;
  ASSERT_EQ(ParseSocksRequest(byAddress + "GET", r), SocksParse::kComplete);
  EXPECT_EQ(r.command, kSocksConnect);
  EXPECT_EQ(r.target.host, "192.168.0.7");
  EXPECT_EQ(r.target.port, 8080);
  EXPECT_EQ(r.length, 10u);

  std::string byName = Bytes({5, 3, 0, 3, 11}) + "example.lan" + Bytes({0, 53});
  EveryPrefixIsIncomplete(byName, [](std::string_view in) {
    SocksRequest q;
    return ParseSocksRequest(in, q);
  });
  ASSERT_EQ(ParseSocksRequest(byName, r), SocksParse::kComplete);
  EXPECT_EQ(r.command, kSocksUdpAssociate);
  EXPECT_EQ(r.target.host, "example.lan");
  EXPECT_EQ(r.target.port, 53);
  EXPECT_EQ(r.length, 11u + 7u);
}

TEST(SocksRequest, WhatIsNotServedIsMalformed) {
  SocksRequest r;
  EXPECT_EQ(ParseSocksRequest(Bytes({5, 1, 0, 4}), r), SocksParse::kMalformed);  // IPv6
  EXPECT_EQ(ParseSocksRequest(Bytes({5, 1, 0, 2, 0}), r), SocksParse::kMalformed);
  EXPECT_EQ(ParseSocksRequest(Bytes({5, 4}), r), SocksParse::kMalformed);
  EXPECT_EQ(ParseSocksRequest(Bytes({5, 0}), r), SocksParse::kMalformed);
  EXPECT_EQ(ParseSocksRequest(Bytes({4, 1, 0, 1}), r), SocksParse::kMalformed);
}

TEST(SocksUdpHeader, PayloadStartsAfterTheHeader) {
  SocksUdpHeader h;
  std::string datagram = Bytes({0, 0, 0, 1, 127, 0, 0, 1, 0x30, 0x39}) + "ping";
  ASSERT_EQ(ParseSocksUdpHeader(datagram, h), SocksParse::kComplete);
  EXPECT_EQ(h.target.host, "127.0.0.1");
  EXPECT_EQ(h.target.port, 12345);
  EXPECT_EQ(datagram.substr(h.length), "ping");
  datagram = Bytes({0, 0, 0, 3, 1}) + "h" + Bytes({0, 7});
  ASSERT_EQ(ParseSocksUdpHeader(datagram, h), SocksParse::kComplete);
  EXPECT_EQ(h.target.host, "h");
  EXPECT_EQ(h.length, datagram.size());
}

TEST(SocksUdpHeader, FragmentsShortAndOddHeadersAreDropped) {
  SocksUdpHeader h;
  std::string whole = Bytes({0, 0, 0, 1, 10, 0, 0, 1, 0, 53});
  for (size_t n = 0; n < whole.size(); ++n)
    EXPECT_EQ(ParseSocksUdpHeader(whole.substr(0, n), h), SocksParse::kMalformed) << n;
  EXPECT_EQ(ParseSocksUdpHeader(Bytes({0, 0, 1, 1, 10, 0, 0, 1, 0, 53}), h), SocksParse::kMalformed);
  EXPECT_EQ(ParseSocksUdpHeader(Bytes({0, 1, 0, 1, 10, 0, 0, 1, 0, 53}), h), SocksParse::kMalformed);
  EXPECT_EQ(ParseSocksUdpHeader(Bytes({0, 0, 0, 4, 10, 0, 0, 1, 0, 53}), h), SocksParse::kMalformed);
  EXPECT_EQ(ParseSocksUdpHeader(Bytes({0, 0, 0, 3, 9, 'a', 0, 53}), h), SocksParse::kMalformed);
}

TEST(SocksReply, AddressAndPortInNetworkOrder) {
  EXPECT_EQ(SocksReply(0x7F000001u, 0x1F90), Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}));
  EXPECT_EQ(SocksUdpHeaderFor(0xC0A80007u, 53), Bytes({0, 0, 0, 1, 192, 168, 0, 7, 0, 53}));
}

}  // namespace
}  // namespace brindlex
