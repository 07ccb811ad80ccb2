// Request heads as a browser (or anyone) may send them: the parser never reads
// past the input, keeps every field within its bound, and the rebuilt head
// always fits its area with room for the completion. The value parsers
// (dates, Cache-Control, Basic credentials, URL escapes) get the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "http/http_head.h"

using namespace brindlex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  std::string_view text(bytes, size);

  RequestHead head;
  HeadStatus status = ParseRequestHead(bytes, size, size % 2 == 0, head);
  if (status == HeadStatus::Incomplete && size >= kRequestHeadMax) __builtin_trap();
  if (status == HeadStatus::Ok) {
    if (head.headLength > size || head.headLength > kRequestHeadMax) __builtin_trap();
    if (head.line.method.empty() || head.line.method.size() > kRequestMethodMax) __builtin_trap();
    if (head.line.host.empty() || head.line.host.size() > kRequestHostMax) __builtin_trap();
    if (head.line.path.empty() || head.line.url.size() > kUrlMax) __builtin_trap();
    if (head.proxyLogin.size() > kCredentialMax || head.proxyPassword.size() > kCredentialMax) __builtin_trap();
    for (const HeadSpan& span : head.forwarded)
      if (span.begin + span.length > head.headLength) __builtin_trap();
    // The head cut just after its end reads the same (a head ending in a lone
    // CR needs the byte after it to be known as ended).
    RequestHead again;
    if (ParseRequestHead(bytes, std::min(size, head.headLength + 1), size % 2 == 0, again) != HeadStatus::Ok)
      __builtin_trap();
    if (again.forwarded.size() != head.forwarded.size()) __builtin_trap();

    std::string completion = HeadCompletion(head.conditions);
    char area[kOutgoingHeadSize];
    size_t length = BuildOutgoingHead(head, bytes, head.line.url, "Host: x\r\n", completion.size(), area, sizeof(area));
    if (length != 0) {
      if (length + completion.size() > sizeof(area)) __builtin_trap();
      if (std::memchr(area, '\0', length)) __builtin_trap();
      if (std::string_view(area, head.line.method.size()) != head.line.method) __builtin_trap();
    }
  }

  std::int64_t date = ParseHttpDate(text);
  if (date > 0 && date <= INT32_MAX && ParseHttpDate(FormatHttpDate(date)) != date) __builtin_trap();
  CacheDirectives directives;
  RequestConditions conditions;
  ParseCacheControl(text, directives, conditions);
  std::string login, password;
  ParseBasicCredentials(text, login, password);
  if (login.size() > kCredentialMax || password.size() > kCredentialMax) __builtin_trap();
  if (UrlDecode(text).size() > size) __builtin_trap();
  return 0;
}
