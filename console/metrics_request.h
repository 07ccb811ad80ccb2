// The request head of the metrics page, read from what a client has sent so
// far, and the answer it gets. Only what the page needs is understood: the
// request line (method, target, HTTP/1.0 or 1.1) and header lines that are
// well formed; nothing of their content is used.
//
// Threads: pure functions over (bytes, length); any thread. Nothing is read
// past `size`.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindlex {

// A head longer than this is answered 400 without being read further.
inline constexpr std::size_t kMetricsHeadMax = 8192;

enum class MetricsHeadStatus {
  kIncomplete,  // no blank line yet, and fewer than kMetricsHeadMax bytes
  kComplete,
  kBad,  // not a request head, or too long
};

struct MetricsRequest {
  std::string method;
  std::string target;
  std::size_t headLength = 0;  // up to and including the blank line
};

MetricsHeadStatus ParseMetricsHead(const char* bytes, std::size_t size, MetricsRequest& request);

// The whole answer to a head: 200 with `body` for GET /metrics (a query is
// ignored), 404 for another target, 405 for another method, 400 for a head
// that could not be read. Every answer says Connection: close. `body` is only
// called for the 200.
template <typename Body>
std::string MetricsAnswer(MetricsHeadStatus status, const MetricsRequest& request, Body body);

// The answer's status line and headers with an empty line after them.
std::string MetricsAnswerHead(int status, std::size_t contentLength);
// The status an answer to the head gets (200, 400, 404 or 405).
int MetricsAnswerStatus(MetricsHeadStatus status, const MetricsRequest& request);

template <typename Body>
std::string MetricsAnswer(MetricsHeadStatus status, const MetricsRequest& request, Body body) {
  const int code = MetricsAnswerStatus(status, request);
  std::string text;
  if (code == 200) {
    text = body();
  } else {
    text = std::to_string(code) + "\n";
  }
  return MetricsAnswerHead(code, text.size()) + text;
}

}  // namespace brindlex
