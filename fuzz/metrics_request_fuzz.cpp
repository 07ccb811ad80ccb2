// Request heads sent to the metrics page: the parser never reads past the
// input, decides once the head is as long as its bound, and a head it reads
// is read the same when cut just after its end; every answer is a whole
// HTTP answer whose length is what it says.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/metrics_request.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes: a read past them is caught.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  MetricsRequest request;
  MetricsHeadStatus status = ParseMetricsHead(bytes.data(), bytes.size(), request);
  if (status == MetricsHeadStatus::kIncomplete && size >= kMetricsHeadMax) __builtin_trap();
  if (status == MetricsHeadStatus::kComplete) {
    if (request.headLength == 0 || request.headLength > size || request.headLength > kMetricsHeadMax) __builtin_trap();
    if (request.method.empty() || request.target.empty()) __builtin_trap();
    std::string cut = bytes.substr(0, request.headLength);
    MetricsRequest again;
    if (ParseMetricsHead(cut.data(), cut.size(), again) != MetricsHeadStatus::kComplete) __builtin_trap();
    if (again.method != request.method || again.target != request.target) __builtin_trap();
  }
  std::string answer = MetricsAnswer(status, request, [] { return std::string("brindlex_up 1\n"); });
  std::size_t end = answer.find("\r\n\r\n");
  if (answer.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) __builtin_trap();
  std::string length = "Content-Length: " + std::to_string(answer.size() - end - 4) + "\r\n";
  if (answer.find(length) == std::string::npos || answer.find(length) > end) __builtin_trap();
  return 0;
}
