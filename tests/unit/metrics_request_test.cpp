// The metrics page's request head: read whole and byte by byte, with good and
// bad heads in one table, and the answer each gets.
#include "console/metrics_request.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

struct HeadCase {
  const char* name;
  std::string head;
  MetricsHeadStatus status;
  const char* method;
  const char* target;
};

const HeadCase kHeads[] = {
    {"curl", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9469\r\nUser-Agent: curl\r\nAccept: */*\r\n\r\n",
     MetricsHeadStatus::kComplete, "GET", "/metrics"},
    {"bare line feeds", "GET /metrics?x=1 HTTP/1.0\nHost: a\n\n", MetricsHeadStatus::kComplete, "GET", "/metrics?x=1"},
    {"no headers", "POST /metrics HTTP/1.1\r\n\r\n", MetricsHeadStatus::kComplete, "POST", "/metrics"},
    {"header with tab", "GET / HTTP/1.1\r\nX-A:\tb\r\n\r\n", MetricsHeadStatus::kComplete, "GET", "/"},
    {"version 2", "GET /metrics HTTP/2.0\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"no version", "GET /metrics\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"two spaces", "GET  /metrics HTTP/1.1\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"method not a token", "G(T /metrics HTTP/1.1\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"method too long", "GETGETGETGETGETGET /metrics HTTP/1.1\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"header without colon", "GET /metrics HTTP/1.1\r\nHost 1\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"header name empty", "GET /metrics HTTP/1.1\r\n: 1\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"folded header", "GET /metrics HTTP/1.1\r\nA: 1\r\n continued\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"control byte in value", std::string("GET /metrics HTTP/1.1\r\nA: \x01\r\n\r\n"), MetricsHeadStatus::kBad, "", ""},
    {"blank first", "\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n", MetricsHeadStatus::kBad, "", ""},
    {"binary", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\n\n", 13), MetricsHeadStatus::kBad, "", ""},
    {"unfinished", "GET /metrics HTTP/1.1\r\nHost: a\r\n", MetricsHeadStatus::kIncomplete, "", ""},
};

TEST(MetricsHead, EachHeadWholeAndByteByByte) {
  for (const HeadCase& c : kHeads) {
    MetricsRequest whole;
    EXPECT_EQ(ParseMetricsHead(c.head.data(), c.head.size(), whole), c.status) << c.name;
    if (c.status == MetricsHeadStatus::kComplete) {
      EXPECT_EQ(whole.method, c.method) << c.name;
      EXPECT_EQ(whole.target, c.target) << c.name;
      EXPECT_EQ(whole.headLength, c.head.size()) << c.name;
    }
    // Fed as it might arrive: every prefix short of the whole is incomplete
    // unless it is already bad, and none reads past what it was given (the
    // copy has no byte beyond the prefix).
    MetricsHeadStatus last = MetricsHeadStatus::kIncomplete;
    size_t decided = 0;
    for (size_t n = 1; n <= c.head.size() && last == MetricsHeadStatus::kIncomplete; ++n) {
      std::string prefix = c.head.substr(0, n);
      MetricsRequest part;
      last = ParseMetricsHead(prefix.data(), prefix.size(), part);
      decided = n;
    }
    EXPECT_EQ(last, c.status) << c.name;
    if (c.status == MetricsHeadStatus::kComplete) {
      EXPECT_EQ(decided, c.head.size()) << c.name;
    }
  }
}

TEST(MetricsHead, AHeadWithoutEndIsBadAtItsBoundAndNotBefore) {
  std::string head = "GET /metrics HTTP/1.1\r\nX-Long: " + std::string(kMetricsHeadMax, 'a');
  MetricsRequest request;
  EXPECT_EQ(ParseMetricsHead(head.data(), kMetricsHeadMax - 1, request), MetricsHeadStatus::kIncomplete);
  EXPECT_EQ(ParseMetricsHead(head.data(), kMetricsHeadMax, request), MetricsHeadStatus::kBad);
  EXPECT_EQ(ParseMetricsHead(head.data(), head.size(), request), MetricsHeadStatus::kBad);
  // One that ends within the bound is read, whatever follows it.
  std::string fits = "GET /metrics HTTP/1.1\r\nX: " + std::string(kMetricsHeadMax - 40, 'b') + "\r\n\r\n";
  ASSERT_LE(fits.size(), kMetricsHeadMax);
  fits += std::string(100, 'z');
  EXPECT_EQ(ParseMetricsHead(fits.data(), fits.size(), request), MetricsHeadStatus::kComplete);
}

int StatusOf(const std::string& head) {
  MetricsRequest request;
  return MetricsAnswerStatus(ParseMetricsHead(head.data(), head.size(), request), request);
}

TEST(MetricsAnswer, StatusByMethodAndPath) {
  EXPECT_EQ(StatusOf("GET /metrics HTTP/1.1\r\n\r\n"), 200);
  EXPECT_EQ(StatusOf("GET /metrics?name[]=x HTTP/1.1\r\n\r\n"), 200);
  EXPECT_EQ(StatusOf("GET /metrics/ HTTP/1.1\r\n\r\n"), 404);
  EXPECT_EQ(StatusOf("GET / HTTP/1.1\r\n\r\n"), 404);
  EXPECT_EQ(StatusOf("GET /METRICS HTTP/1.1\r\n\r\n"), 404);
  EXPECT_EQ(StatusOf("POST /metrics HTTP/1.1\r\n\r\n"), 405);
  EXPECT_EQ(StatusOf("get /metrics HTTP/1.1\r\n\r\n"), 405);
  EXPECT_EQ(StatusOf("GET /metrics HTTP/3\r\n\r\n"), 400);
}

TEST(MetricsAnswer, TheWholeAnswerWithItsLengthAndNoBodyAskedForOtherwise) {
  MetricsRequest request;
  std::string head = "GET /metrics HTTP/1.1\r\n\r\n";
  MetricsHeadStatus status = ParseMetricsHead(head.data(), head.size(), request);
  EXPECT_EQ(MetricsAnswer(status, request, [] { return std::string("brindlex_up 1\n"); }),
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
            "Content-Length: 14\r\nConnection: close\r\n\r\nbrindlex_up 1\n");
  request.method = "DELETE";
  int bodies = 0;
  std::string answer = MetricsAnswer(status, request, [&bodies] {
    ++bodies;
    return std::string("x");
  });
  EXPECT_EQ(bodies, 0) << "the figures are collected only for a 200";
  EXPECT_EQ(answer,
            "HTTP/1.1 405 Method Not Allowed\r\nContent-Type: text/plain; charset=utf-8\r\nAllow: GET\r\n"
            "Content-Length: 4\r\nConnection: close\r\n\r\n405\n");
  EXPECT_EQ(MetricsAnswer(MetricsHeadStatus::kBad, request, [] { return std::string(); })
                .rfind("HTTP/1.1 400 Bad Request\r\n", 0),
            0u);
}

}  // namespace
}  // namespace brindlex
