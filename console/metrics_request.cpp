#include "console/metrics_request.h"

#include <algorithm>

namespace brindlex {

namespace {

constexpr std::size_t kMethodMax = 16;

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsVisible(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u > 0x20 && u != 0x7F;
}

// The end of the head: the index just past its blank line (CR LF CR LF, or
// bare LFs, which some clients send), or 0 when it has not come yet.
std::size_t HeadEnd(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    if (i + 1 < text.size() && text[i + 1] == '\n') return i + 2;
    if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') return i + 3;
  }
  return 0;
}

// One line without its LF, and its CR if any.
std::string_view Line(std::string_view head, std::size_t& at) {
  std::size_t end = head.find('\n', at);
  if (end == std::string_view::npos) end = head.size();
  std::string_view line = head.substr(at, end - at);
  at = end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool ReadRequestLine(std::string_view line, MetricsRequest& request) {
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return false;
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  if (method.empty() || method.size() > kMethodMax || !std::all_of(method.begin(), method.end(), IsTokenChar))
    return false;
  if (target.empty() || !std::all_of(target.begin(), target.end(), IsVisible)) return false;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return false;
  request.method = std::string(method);
  request.target = std::string(target);
  return true;
}

bool IsHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  const std::string_view name = line.substr(0, colon);
  if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return false;
  return std::none_of(line.begin() + static_cast<std::ptrdiff_t>(colon), line.end(), [](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7F;
  });
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 503:
      return "Service Unavailable";
    default:
      return "Bad Request";
  }
}

}  // namespace

MetricsHeadStatus ParseMetricsHead(const char* bytes, std::size_t size, MetricsRequest& request) {
  const std::string_view text(bytes, std::min(size, kMetricsHeadMax));
  const std::size_t end = HeadEnd(text);
  if (end == 0) return size >= kMetricsHeadMax ? MetricsHeadStatus::kBad : MetricsHeadStatus::kIncomplete;
  // Everything up to the LF before the blank line: the request line and the
  // header lines.
  const std::string_view head = text.substr(0, end);
  std::size_t at = 0;
  MetricsRequest read;
  if (!ReadRequestLine(Line(head, at), read)) return MetricsHeadStatus::kBad;
  while (true) {
    std::string_view line = Line(head, at);
    if (line.empty()) break;
    if (!IsHeaderLine(line)) return MetricsHeadStatus::kBad;
  }
  read.headLength = end;
  request = std::move(read);
  return MetricsHeadStatus::kComplete;
}

int MetricsAnswerStatus(MetricsHeadStatus status, const MetricsRequest& request) {
  if (status != MetricsHeadStatus::kComplete) return 400;
  if (request.method != "GET") return 405;
  const std::string_view path = std::string_view(request.target).substr(0, request.target.find('?'));
  return path == "/metrics" ? 200 : 404;
}

std::string MetricsAnswerHead(int status, std::size_t contentLength) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
  head += status == 200 ? "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                        : "Content-Type: text/plain; charset=utf-8\r\n";
  if (status == 405) head += "Allow: GET\r\n";
  head += "Content-Length: " + std::to_string(contentLength) + "\r\nConnection: close\r\n\r\n";
  return head;
}

}  // namespace brindlex
