// Response heads as an origin server (or anything posing as one) may send
// them: the parser never reads past the input, says "incomplete" for every
// cut before the end of the head, reads the same head the same way however
// much follows it, and builds a header block that a cache object can hold
// and that never carries Date or Age.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/value_codec.h"
#include "http/response_head.h"

using namespace brindlex;

namespace {

bool Same(const ResponseHead& a, const ResponseHead& b) {
  return a.headLength == b.headLength && a.isHttp == b.isHttp && a.status == b.status && a.dateHeader == b.dateHeader &&
         a.ageHeader == b.ageHeader && a.expires == b.expires && a.lastModified == b.lastModified &&
         a.maxAge == b.maxAge && a.mustRevalidate == b.mustRevalidate && a.isPublic == b.isPublic &&
         a.noStore == b.noStore && a.contentLength == b.contentLength && a.etag == b.etag &&
         a.headerBlock == b.headerBlock;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  bool cachCookie = size % 2 == 0;
  ResponseHead head;
  if (!ParseResponseHead(bytes, size, cachCookie, head)) return 0;

  if (head.headLength == 0 || head.headLength > size) __builtin_trap();
  ResponseHead cut;
  if (ParseResponseHead(bytes, head.headLength - 1, cachCookie, cut)) __builtin_trap();
  ResponseHead again;
  if (!ParseResponseHead(bytes, std::min(size, head.headLength + 1), cachCookie, again)) __builtin_trap();
  if (!Same(head, again)) __builtin_trap();
  if (!head.isHttp) return 0;

  if (head.status < 0 || head.status > 999) __builtin_trap();
  if (head.contentLength < -1 || head.maxAge < -1) __builtin_trap();
  if (head.ageHeader && *head.ageHeader < 0) __builtin_trap();
  // Every line gains at most a CR; the block fits a record's 16-bit length
  // for any head the 8 KB server buffer can hold.
  const std::string& block = head.headerBlock;
  if (block.size() > 2 * head.headLength + 2) __builtin_trap();
  if (head.headLength <= 8192 && block.size() > 0xFFFF) __builtin_trap();
  if (block.size() < 4 || block.compare(block.size() - 4, 4, "\r\n\r\n") != 0) __builtin_trap();
  for (size_t at = 0; at < block.size();) {
    size_t end = block.find("\r\n", at);
    if (end == std::string::npos) __builtin_trap();
    std::string_view line(block.data() + at, end - at);
    if (line.find('\n') != std::string_view::npos || line.find('\r') != std::string_view::npos) __builtin_trap();
    if (StartsWithNoCase(line, "date:") || StartsWithNoCase(line, "age:")) __builtin_trap();
    if (line.empty() && end + 2 != block.size()) __builtin_trap();  // only the last line is empty
    at = end + 2;
  }
  return 0;
}
